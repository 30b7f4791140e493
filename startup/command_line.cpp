// The command line: the program's own name, the tokens and the options.
#include "startup/startup.h"

namespace {

constexpr int max_tokens = 1024;

bool is_blank(uint8_t c) { return c >= 1 && c <= 32; }

}  // namespace

const char* skip_program_name(const char* command_line) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(command_line);
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > 32) ++p;
  }
  while (is_blank(*p)) ++p;
  return reinterpret_cast<const char*>(p);
}

int tokenize_command_line(const char* text, char*** tokens) {
  char** array = static_cast<char**>(sys_alloc_zeroed(max_tokens * sizeof(char*)));
  *tokens = array;
  if (array == nullptr) return 0;
  int count = 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  while (count < max_tokens) {
    while (is_blank(*p)) ++p;
    if (*p == 0) break;
    const uint8_t* start = p;
    bool quoted = false;
    uint32_t length = 0;
    for (;; ++p) {
      if (*p == '"') {
        quoted = !quoted;
        continue;
      }
      if (quoted ? *p < 32 : *p <= 32) break;
      ++length;
    }
    char* token = static_cast<char*>(sys_alloc_zeroed(length + 1));
    if (token == nullptr) break;
    uint32_t n = 0;
    for (const uint8_t* q = start; q < p; ++q) {
      if (*q != '"') token[n++] = char(*q);
    }
    array[count++] = token;
  }
  return count;
}

void free_tokens(char** tokens, int count) {
  if (tokens == nullptr) return;
  while (count > 0) sys_free(tokens[--count]);
  sys_free(tokens);
}

void read_options(char** tokens, int count) {
  for (int i = 0; i < count; ++i) {
    const char* token = tokens[i];
    if (token[0] != '-') {
      // A directory longer than install_dir holds is not taken: a cut path
      // would send the files somewhere the user did not name.
      if (text_length(token) >= sizeof(wa->settings.install_dir)) break;
      text_copy(wa->text, token, text_size);
      dir_from_command_line = 1;
      break;
    }
    uint8_t letter = sys_lower_char(uint8_t(token[1]));
    bool off = token[1] != 0 && token[2] == '-';
    if (letter == 'n') {
      auto_start = off ? auto_start_option_off : auto_start_option_on;
    } else if (letter == 'c') {
      skip_if_not_newer = off ? date_check_option_on : date_check_option_off;
    }
  }
}

void read_settings() {
  FileHandle file = sys_open_own_file(wa->module_path);
  if (file != invalid_file) {
    if (sys_seek_own_file(file, settings_offset, seek_begin) != -1) {
      // A short read leaves the unread part as it was: zero.
      if (sys_read_own_file(file, &wa->settings, settings_size) < 0) {
        bytes_fill(&wa->settings, 0, settings_size);
      }
    }
    sys_close_own_file(file);
  }
  // Every text of the record ends within its field, whatever the file holds.
  SettingsBlock& s = wa->settings;
  s.window_title[sizeof(s.window_title) - 1] = 0;
  s.install_title[sizeof(s.install_title) - 1] = 0;
  s.install_dir[sizeof(s.install_dir) - 1] = 0;
  s.command[sizeof(s.command) - 1] = 0;
  if (s.window_title[0] == 0) text_copy(s.window_title, default_title, sizeof(s.window_title));
  if (dir_from_command_line == 1) text_copy(s.install_dir, wa->text, sizeof(s.install_dir));
}
