// The walk over the script after extraction: file types are registered for
// its "$Class=" lines and program items added for its "$Group=" lines.
#include "archive/archive.h"
#include "install/install.h"
#include "startup/startup.h"

namespace {

constexpr char command_suffix[] = "\\shell\\open\\command";
constexpr char icon_suffix[] = "\\DefaultIcon";
// A key path is created from an 80-byte buffer.
constexpr uint32_t key_path_room = 79;
// The joined path of short_path_of is formed in 256 bytes.
constexpr uint32_t joined_path_room = 255;

bool joined_path_fits(const char* name) {
  return text_length(wa->dest_dir) + 1 + text_length(name) <= joined_path_room;
}

// Drops a lead byte left without its trail byte at the end of a cut text.
void drop_split_character(char* text, uint32_t n) {
  uint32_t i = 0;
  uint32_t start = 0;
  while (i < n) {
    start = i;
    i += sys_is_lead_byte(uint8_t(text[i])) ? 2 : 1;
  }
  if (i > n) text[start] = 0;
}

// A "$Class=" line. Its names and paths must fit whole; a cut one would name
// another key or another file, so such a line is passed over. The
// description is only shown and may be cut.
void perform_class_line(const char* value) {
  const char* pos = value;
  int whole = next_field(&pos, wa->extension, sizeof(wa->extension));
  next_field(&pos, wa->class_desc, sizeof(wa->class_desc));
  whole &= next_field(&pos, wa->program_path, sizeof(wa->program_path));
  whole &= next_field(&pos, wa->class_key, sizeof(wa->class_key));
  if (whole) register_file_class();
}

// A "$Group=" line: one whole conversation with Program Manager. The group
// name and the title may be cut; paths that do not fit pass the line over.
void perform_group_line(Window dialog, const char* value) {
  const char* pos = value;
  next_field(&pos, wa->group_name, sizeof(wa->group_name));
  next_field(&pos, wa->item_title, sizeof(wa->item_title));
  int whole = next_field(&pos, wa->program_path, sizeof(wa->program_path));
  whole &= next_field(&pos, wa->icon_path, sizeof(wa->icon_path));
  if (!whole || !joined_path_fits(wa->program_path)) return;
  if (wa->icon_path[0] != 0 && !joined_path_fits(wa->icon_path)) return;
  open_progman_conversation(dialog);
  wait_for_conversation_end(dialog);
}

}  // namespace

int next_field(const char** pos, char* out, uint32_t size) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(*pos);
  bool quoted = false;
  int whole = 1;
  uint32_t n = 0;
  for (; *p >= 32; ++p) {
    if (*p == ',' && !quoted) {
      ++p;
      break;
    }
    if (*p == '"') {
      quoted = !quoted;
    } else if (n + 1 < size) {
      out[n++] = char(*p);
    } else {
      whole = 0;
    }
  }
  *pos = reinterpret_cast<const char*>(p);
  if (size == 0) return 0;
  out[n] = 0;
  if (!whole) drop_split_character(out, n);
  return whole;
}

int short_path_of(const char* directory, const char* name, char* out, uint32_t size) {
  char joined[joined_path_room + 1];
  if (text_length(directory) + 1 + text_length(name) > joined_path_room) return 0;
  format_text(joined, sizeof(joined), "%s\\%s", directory, name);
  uint32_t length = sys_short_path(joined, out, size);
  // No short form (the file is missing): the full path serves instead.
  if (length == 0 || length >= size) text_copy(out, joined, size);
  return 1;
}

void set_class_value(const char* key_path, const char* value_name, const char* data) {
  char key[key_path_room + 1];
  if (text_length(key_path) > key_path_room) return;
  text_copy(key, key_path, sizeof(key));
  sys_set_class_value(key, value_name, data);
}

void register_file_class() {
  // Without an extension or a class key the paths would name the root of
  // the classes, or WIN.INI would get a key from behind the extension.
  if (text_length(wa->extension) < 2 || wa->class_key[0] == 0) return;
  if (text_length(wa->class_key) + text_length(command_suffix) > key_path_room) return;
  if (!joined_path_fits(wa->program_path)) return;

  if (ask_register) {
    format_text(wa->command_text, text_size, "\"%s\" Set Class?", wa->class_desc);
    int answer = sys_message_box(wa->dialog, wa->command_text, wa->settings.window_title,
                                 box_yes_no | box_icon_question | box_task_modal);
    if (answer == answer_no) return;
  }

  short_path_of(wa->dest_dir, wa->program_path, wa->program_path, 256);
  unify_separators(wa->program_path, '\\');
  sys_lower_text(wa->extension);

  if (is_win32s) {
    format_text(wa->command_text, text_size, "%s ^%s", wa->program_path, wa->extension);
    sys_write_profile_string("Extensions", wa->extension + 1, wa->command_text);
    return;
  }

  format_text(wa->command_text, text_size, "\"%s\" \"%%1\"", wa->program_path);
  set_class_value(wa->extension, "", wa->class_key);
  set_class_value(wa->class_key, "", wa->class_desc);
  uint32_t key_length = text_length(wa->class_key);
  text_append(wa->class_key, command_suffix, sizeof(wa->class_key));
  set_class_value(wa->class_key, "", wa->command_text);
  format_text(wa->command_text, text_size, "%s,0", wa->program_path);
  wa->class_key[key_length] = 0;
  text_append(wa->class_key, icon_suffix, sizeof(wa->class_key));
  set_class_value(wa->class_key, "", wa->command_text);
}

void run_script_actions(Window dialog) {
  const char* pos = wa->script;
  char value[256];
  while (at_next_line(&pos)) {
    int key = match_script_key(&pos);
    if (key != 0) {
      read_script_value(&pos, value, sizeof(value));
      if (key == key_class && wa->class_checked != 0) {
        perform_class_line(value);
      } else if (key == key_group && wa->group_checked != 0) {
        perform_group_line(dialog, value);
      }
    }
    skip_line_rest(&pos);
  }
  sys_broadcast_settings_change();
}
