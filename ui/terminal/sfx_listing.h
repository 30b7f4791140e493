// Looking into a self-extracting file without running it: its settings,
// message and script, and every member, read with the same header reader
// and decoder as the extraction (kobrix --list, kobrix --test).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "startup/work_area.h"

struct InspectedMember {
  std::string name;     // the member name, archive text
  std::string written;  // the name folded as the extraction writes it, archive text
  std::string target;   // the Linux path it lands at in the default directory; "" for none
  uint32_t offset = 0;  // of its header in the file
  char method = 0;      // '0', '4' to '7', 'd'
  uint8_t os_id = 0;
  uint32_t packed = 0;
  uint32_t size = 0;
  uint16_t attributes = 0;
  uint16_t crc = 0;
  int32_t written_time = 0;  // last write, seconds since 1970 UTC
  int32_t created_time = 0;
  int32_t accessed_time = 0;
  bool special = false;  // the message "!" or the script "$"
  bool tested = false;
  std::string error;  // why the test failed; "" when sound
};

// What the program would show and do, the script applied.
struct InstallerView {
  std::string caption;
  std::string label;
  std::string directory;           // the default directory as the archive gives it
  std::string directory_expanded;  // its directory macro replaced; the current one when empty
  std::string directory_linux;     // where that is on this machine
  bool directory_refused = false;  // "Invalid directory": the program asks again
  std::string command;
  bool auto_start = false;
  bool overwrite = false;  // no question before overwriting
  bool no_date_check = false;
  bool restore_attributes = false;
  bool ask_register = false;
  bool group_checked = false;
  bool class_checked = false;
  std::string group_title;
  std::string class_title;
};

struct InspectedFile {
  SettingsBlock record;  // the settings record as read
  InstallerView view;
  bool has_message = false;
  std::string message;        // the text shown, as captured (at most 1,023 bytes)
  uint32_t message_size = 0;  // the member's size
  bool has_script = false;
  std::string script;  // the text read, as captured (at most 4,095 bytes)
  std::string install_dir_before_script;
  std::vector<InspectedMember> members;
  bool integrity_present = false;
  bool integrity_checked = false;
  uint16_t stored_check = 0;
  uint16_t computed_check = 0;
  std::string error;       // the failure that stops the program's scan, or the test
  std::string error_name;  // what it names: the file or a member
  bool tested = false;
};

// Reads the file that posix_set_module_path named. With test, every member
// is decoded into nothing and its CRC-16 checked; nothing is written.
InspectedFile inspect_sfx(bool test);

// The message of a report "\"name\" message" without its name.
std::string message_of_report(const std::string& text);

// Prints the listing or the test as text or JSON on standard output; returns
// the exit code: 0 sound, 1 not.
int print_inspection(const InspectedFile& file, const char* path, bool test, bool json);

// kobrix --list and --test of the file at path, which posix_set_module_path
// named: the exit code (0 sound, 1 not or not readable).
int inspect_and_report(const char* path, bool test, bool json);

// One script line with what it means.
struct ScriptLineMeaning {
  std::string line;        // archive text, as read
  std::string key;         // "$Class=", ...; "" for a line the program ignores
  std::string on_windows;  // UTF-8
  std::string on_linux;    // UTF-8
};
std::vector<ScriptLineMeaning> explain_script(const InspectedFile& file);
