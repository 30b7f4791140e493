// Directory macros at the start of member names and of the default
// directory, and the temporary directory behind "%WORK%".
#include "archive/archive.h"
#include "startup/startup.h"

namespace {

// Every source of a replacement is read into a buffer of this size.
constexpr uint32_t value_size = 256;

constexpr const char* macro_names[] = {
    "%WORK%", "%WinDir%", "%WinRoot%", "%SystemDir%", "%ProgramFiles%", "%Search%",
};
enum Macro {
  macro_work,
  macro_win_dir,
  macro_win_root,
  macro_system_dir,
  macro_program_files,
  macro_search,
  macro_count
};

// A directory query of the GetWindowsDirectoryA kind; an answer that does
// not fit leaves out empty.
void read_directory(uint32_t (*query)(char*, uint32_t), char* out) {
  uint32_t length = query(out, value_size);
  if (length == 0 || length >= value_size) out[0] = 0;
}

// The drive of the Windows directory ("C:"), empty when it cannot be read.
void windows_drive(char* out) {
  read_directory(sys_windows_directory, out);
  if (text_length(out) > 2) out[2] = 0;
}

// The directory in which the system finds name, or the system directory.
void search_directory(const char* name, char* out) {
  char* file_part = nullptr;
  uint32_t length = sys_search_path(name, out, value_size, &file_part);
  if (length != 0 && length < value_size && file_part > out && file_part <= out + length) {
    file_part[-1] = 0;
    return;
  }
  read_directory(sys_system_directory, out);
}

// An environment variable; a value that does not fit counts as not set.
void read_environment(const char* name, char* out) {
  uint32_t length = sys_get_environment(name, out, value_size);
  if (length == 0 || length >= value_size) out[0] = 0;
}

}  // namespace

uint32_t temp_directory(uint32_t capacity, char* out) {
  if (capacity > 0) out[0] = 0;
  char value[value_size];
  read_environment("TEMP", value);
  if (value[0] == 0) read_environment("TMP", value);
  if (value[0] == 0) {
    read_directory(sys_windows_directory, value);
    if (value[0] != 0) {
      append_separator(value, value_size);
      // A Windows directory too long for "TEMP" behind it gives no candidate.
      if (text_length(value) + 4 < value_size) {
        text_append(value, "TEMP", value_size);
        if (sys_get_file_attributes(value) == attr_invalid) sys_create_directory(value);
      } else {
        value[0] = 0;
      }
    }
  }
  if (value[0] == 0) read_directory(sys_current_directory, value);
  uint32_t length = text_length(value);
  if (length == 0) return 0;
  if (length >= capacity) return length + 1;
  text_copy(out, value, capacity);
  return length;
}

void read_registry_string(const char* key, const char* value, const char* fallback, char* out,
                          uint32_t size) {
  if (size == 0) return;
  if (!sys_read_registry_string(key, value, out, size)) text_copy(out, fallback, size);
}

// The result must fit the 260 bytes of the path: a replacement and the rest
// of the path that together exceed 259 characters are cut at 259.
void expand_macros(char* path, const char* search_name) {
  int macro = 0;
  for (; macro < macro_count; ++macro) {
    if (prefix_compare(path, macro_names[macro], text_length(macro_names[macro])) == 0) break;
  }
  bool search_without_name = search_name == nullptr || search_name[0] == 0;
  if (macro < macro_count && !(macro == macro_search && search_without_name)) {
    char expanded[path_size];
    expanded[0] = 0;
    switch (macro) {
      case macro_work:
        temp_directory(value_size, expanded);
        break;
      case macro_win_dir:
        read_directory(sys_windows_directory, expanded);
        break;
      case macro_win_root:
        windows_drive(expanded);
        break;
      case macro_system_dir:
        read_directory(sys_system_directory, expanded);
        break;
      case macro_program_files:
        if (!is_win32s) {
          read_registry_string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                               "", expanded, value_size);
        }
        if (expanded[0] == 0) windows_drive(expanded);
        break;
      case macro_search:
        search_directory(search_name, expanded);
        break;
    }
    text_append(expanded, path + text_length(macro_names[macro]), path_size);
    text_copy(path, expanded, path_size);
  }
  unify_separators(path, '\\');
}
