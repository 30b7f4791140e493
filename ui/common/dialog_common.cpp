// Portable pieces of the main dialog and the directory chooser.
#include "ui/common/dialog_common.h"

#include "startup/startup.h"
#include "ui/main_dialog.h"

void strip_quotes(char* text, uint32_t n) {
  // In place: what is kept never runs ahead of what is read.
  uint32_t kept = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (text[i] != '"') text[kept++] = text[i];
  bytes_fill(text + kept, 0, n - kept);
}

int cut_trailing_separator(char* path) {
  for (uint8_t* p = reinterpret_cast<uint8_t*>(path); *p != 0; ++p) {
    if (sys_is_lead_byte(*p)) {
      if (p[1] == 0) return 0;
      ++p;
      continue;
    }
    if ((*p == '/' || *p == '\\') && p[1] < 32) {
      *p = 0;
      return 1;
    }
  }
  return 0;
}

int take_directory(Window dialog, const char* field_text) {
  text_copy(wa->dest_dir, field_text != nullptr ? field_text : "", dir_size);
  strip_quotes(wa->dest_dir, dir_size);
  if (wa->dest_dir[0] == '\\' && wa->dest_dir[1] == '\\') {
    sys_message_box(dialog, "Invalid directory", wa->settings.window_title,
                    box_task_modal | box_icon_exclamation | box_ok);
    return 0;
  }
  return 1;
}

int toggle_check_box(int id) {
  int32_t* flag = id == control_group   ? &wa->group_checked
                  : id == control_class ? &wa->class_checked
                                        : nullptr;
  if (flag == nullptr) return 0;
  *flag = *flag == 0 ? 1 : 0;
  return *flag;
}
