// One run of the self-extracting file: options, settings, the scan pass, the
// default directory and the main dialog.
#include "archive/archive.h"
#include "startup/startup.h"
#include "ui/main_dialog.h"

// Settles the switches from the options read and the settings record's flags.
static void settle_switches() {
  uint8_t flags = wa->settings.flags;
  ask_register = 0;
  no_overwrite_prompt = (flags & settings_no_overwrite_prompt) ? 1 : 0;
  if (auto_start == 0 && (flags & settings_auto_start)) auto_start = 1;
  if (auto_start == auto_start_option_on) auto_start = 1;
  if (auto_start == auto_start_option_off) auto_start = 0;
  if (skip_if_not_newer == date_check_option_off || (flags & settings_no_date_check)) {
    skip_if_not_newer = 0;
  }
  if (skip_if_not_newer == date_check_option_on) skip_if_not_newer = 1;
}

// Expands a leading macro of the default directory within its 255 characters.
static void expand_default_directory() {
  char path[path_size];
  text_copy(path, wa->settings.install_dir, sizeof(path));
  expand_macros(path, "");
  text_copy(wa->settings.install_dir, path, sizeof(wa->settings.install_dir));
}

int start_program(void* module_instance, const char* arguments) {
  is_win32s = sys_is_win32s();
  instance = module_instance;
  wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  if (wa == nullptr) {
    sys_message_box(nullptr, "Not enough memory", default_title,
                    box_task_modal | box_icon_stop | box_ok);
    return 0;
  }

  char** tokens = nullptr;
  int count = tokenize_command_line(arguments, &tokens);
  skip_if_not_newer = 1;
  dir_from_command_line = 0;
  auto_start = 0;
  read_options(tokens, count);
  free_tokens(tokens, count);

  uint32_t n = sys_module_path(wa->module_path, path_size);
  if (n >= path_size) wa->module_path[0] = 0;
  read_settings();
  settle_switches();

  if (!run_pass(nullptr, pass_scan)) return 0;

  expand_default_directory();
  if (wa->settings.install_dir[0] == 0) {
    char* dir = wa->settings.install_dir;
    if (sys_current_directory(dir, sizeof(wa->settings.install_dir)) >=
        sizeof(wa->settings.install_dir)) {
      dir[0] = 0;
    }
  }

  int result = run_main_dialog();
  sys_free(wa);
  wa = nullptr;
  return result;
}
