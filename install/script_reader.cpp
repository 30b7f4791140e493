// The installation script "$": its line reader, shared with the walk after
// extraction, and the keys applied while the archive is scanned.
#include "archive/archive.h"
#include "install/install.h"
#include "startup/startup.h"

namespace {

// The keys, in the order of ScriptKey.
constexpr const char* script_keys[] = {
    "$WindowTitle=", "$InstallTitle=", "$InstallDir=", "$ClassTitle=", "$Class=",
    "$GroupTitle=",  "$Group=",        "$Command=",    "$AskRegist=",  "$Flag=",
};
constexpr int key_count = sizeof(script_keys) / sizeof(script_keys[0]);

void apply_flags(uint32_t value) {
  constexpr uint32_t off = script_flag_off_shift;
  if (value & script_flag_auto_start) auto_start = 1;
  if (value & script_flag_no_overwrite_prompt) no_overwrite_prompt = 1;
  if (value & script_flag_no_date_check) skip_if_not_newer = 0;
  if (value & script_flag_restore_attributes) {
    wa->settings.restore_attributes = restore_attributes_on;
  }
  if (value & (script_flag_auto_start << off)) auto_start = 0;
  if (value & (script_flag_no_overwrite_prompt << off)) no_overwrite_prompt = 0;
  if (value & (script_flag_no_date_check << off)) skip_if_not_newer = 1;
  if (value & (script_flag_restore_attributes << off)) wa->settings.restore_attributes = 0;
}

}  // namespace

int at_next_line(const char** pos) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(*pos);
  while (*p >= 1 && *p <= 31) ++p;
  *pos = reinterpret_cast<const char*>(p);
  return *p != 0;
}

int match_script_key(const char** pos) {
  for (int i = 0; i < key_count; ++i) {
    uint32_t length = text_length(script_keys[i]);
    if (prefix_compare(*pos, script_keys[i], length) == 0) {
      *pos += length;
      return i + 1;
    }
  }
  return 0;
}

void read_script_value(const char** pos, char* out, uint32_t size) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(*pos);
  uint32_t n = 0;
  while (*p >= 32 && n + 1 < size) out[n++] = char(*p++);
  out[n] = 0;
  *pos = reinterpret_cast<const char*>(p);
}

void skip_line_rest(const char** pos) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(*pos);
  while (*p >= 32) ++p;
  *pos = reinterpret_cast<const char*>(p);
}

void apply_script_settings() {
  SettingsBlock& s = wa->settings;
  const char* pos = wa->script;
  char value[256];
  while (at_next_line(&pos)) {
    int key = match_script_key(&pos);
    if (key != 0) {
      read_script_value(&pos, value, sizeof(value));
      // Each text is cut at its field's width, never written past it.
      switch (key) {
        case key_window_title:
          text_copy(s.window_title, value, sizeof(s.window_title));
          break;
        case key_install_title:
          text_copy(s.install_title, value, sizeof(s.install_title));
          break;
        case key_install_dir:
          if (s.install_dir[0] == 0) text_copy(s.install_dir, value, sizeof(s.install_dir));
          break;
        case key_class_title:
          wa->class_checked = 1;
          text_copy(wa->class_title, value, sizeof(wa->class_title));
          break;
        case key_group_title:
          wa->group_checked = 1;
          text_copy(wa->group_title, value, sizeof(wa->group_title));
          break;
        case key_command:
          text_copy(s.command, value, sizeof(s.command));
          break;
        case key_ask_regist:
          ask_register = 1;
          break;
        case key_flag:
          apply_flags(uint32_t(parse_decimal(value)));
          break;
        default:  // "$Class=" and "$Group=" act after the extraction
          break;
      }
    }
    skip_line_rest(&pos);
  }
}
