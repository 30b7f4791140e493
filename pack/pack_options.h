// The command line of kobrix-pack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/lzh_format.h"
#include "pack/code_page.h"

namespace pack {

// A PATH to pack and the folder it is read from (-C; empty: the current folder).
struct InputPath {
  std::string folder;
  std::string path;
};

// path as seen from the current folder: itself when absolute or folder is empty.
std::string path_in_folder(const std::string& folder, const std::string& path);

struct PackOptions {
  std::string output;
  std::string stub;  // empty: kobrix-stub.exe beside kobrix-pack
  std::string title, install_title, install_dir, command;
  uint8_t flags = 0;  // settings flag bits
  bool restore_attributes = false;
  std::string message, script;  // files for the members "!" and "$"
  char method = '7';
  int level = 6;                           // compression level, 1 (fastest) to 9 (smallest)
  int threads = 0;                         // threads that compress; 0: one per core
  std::string archive;                     // an existing archive to put behind the stub
  unsigned code_page = default_code_page;  // of names and texts
  std::vector<InputPath> inputs;
  bool help = false, version = false;
};

// Field widths of the settings record, terminator excluded.
constexpr size_t max_title = sizeof(SettingsBlock::window_title) - 1;
constexpr size_t max_install_dir = sizeof(SettingsBlock::install_dir) - 1;
constexpr size_t max_command = sizeof(SettingsBlock::command) - 1;
static_assert(sizeof(SettingsBlock::install_title) == max_title + 1, "two titles of one width");

// Throws UsageError naming the option when value (in the code page) is longer than the
// field's width.
void check_width(const std::string& option, const std::string& value, size_t width);

// Reads the arguments (program name excluded). Throws UsageError naming the option
// that does not fit. The widths of texts are checked once they are in the code page.
PackOptions parse_options(const std::vector<std::string>& args);

extern const char usage_text[];

}  // namespace pack
