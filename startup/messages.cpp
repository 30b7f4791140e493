// Messages, progress and the orderly exit: every failure is told the same
// way, and the long extraction keeps the dialog alive through the pump.
#include "startup/startup.h"
#include "ui/main_dialog.h"

void report_file_error(const char* message, const char* name) {
  format_text(wa->text, text_size, "\"%s\" %s", name, message);
  sys_message_box(wa->dialog, wa->text, wa->settings.window_title,
                  box_task_modal | box_icon_stop | box_ok);
}

int report_aborting(const char* message, const char* name) {
  report_file_error(message, name);
  wa->aborted = 1;
  return 0;
}

int report_read_error() {
  return report_aborting("Read ERROR", wa->module_path);
}

int report_unexpected_eof() {
  return report_aborting("Unexpeted EOF", wa->module_path);
}

int report_bad_header() {
  return report_aborting("Bad header", wa->module_path);
}

int report_open_error(const char* name) {
  return report_aborting("Open ERROR", name);
}

int report_no_memory() {
  sys_message_box(wa->dialog, "Not enough memory", wa->settings.window_title,
                  box_task_modal | box_icon_stop | box_ok);
  wa->aborted = 1;
  return 0;
}

void fatal_exit(int status) {
  if (wa->output_file != 0 && wa->output_file != invalid_file) {
    sys_close_file(wa->output_file);
    sys_delete_file(wa->target_path);
  }
  if (wa->archive_file != 0 && wa->archive_file != invalid_file) {
    sys_close_own_file(wa->archive_file);
  }
  wa->output_file = invalid_file;
  wa->archive_file = invalid_file;
  sys_exit_process(status);
}

void show_progress(uint32_t done, uint32_t total) {
  uint32_t percent;
  if (total == 0) {
    percent = 0;
  } else if (total < 100) {
    percent = 100;
  } else {
    percent = done / (total / 100);
  }
  if (percent > 100) percent = 100;
  format_text(wa->text, text_size, "Extract... %lu%%", percent);
  sys_set_item_text(wa->dialog, control_progress, wa->text);
  drain_messages(wa->dialog);
  if (wa->cancel_requested == 1) fatal_exit(1);
}

void drain_messages(Window window) {
  sys_pump_messages(window);
}
