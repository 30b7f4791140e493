// File types on Linux. What the Windows calls would write under
// HKEY_CLASSES_ROOT, or into WIN.INI's "Extensions" under Win32s, is
// collected, and the settings broadcast that ends the walk over the script
// writes each file type as a shared-mime-info package and a desktop entry.
#include <map>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"

namespace {

struct FileTypes {
  // The keys written under the classes root since the last broadcast,
  // lower-cased, with their default values.
  std::map<std::string, std::string> classes;
  // WIN.INI "Extensions": extension without its period -> "program ^.ext".
  std::map<std::string, std::string> extensions;
};

FileTypes& collected() {
  static FileTypes* types = new FileTypes();
  return *types;
}

// The program of a command value "\"program\" \"%1\"" (archive text).
std::string program_of_command(const std::string& command) {
  if (!command.empty() && command[0] == '"') {
    size_t close = command.find('"', 1);
    return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return command.substr(0, command.find(' '));
}

// Writes every file type collected since the last broadcast.
void commit_file_types() {
  FileTypes& s = collected();
  bool any = false;
  // An extension's key: a period, a name, no subkey.
  auto extension_key = [](const std::string& key) {
    return key.size() >= 2 && key[0] == '.' && key.find('\\') == std::string::npos;
  };
  // The class keys the extensions name: one that begins with a period has
  // its own key among the extensions' keys.
  std::set<std::string> class_keys;
  for (const auto& key : s.classes)
    if (extension_key(key.first)) class_keys.insert(posix_lower_ascii(key.second));
  for (const auto& key : s.classes) {
    if (!extension_key(key.first)) continue;
    const std::string& class_key = key.second;
    if (class_key.empty() || class_keys.count(key.first) != 0) continue;
    if (!posix_plain_name(key.first.substr(1), false) || !posix_plain_name(class_key, true)) {
      posix_install_note(
          "file type " + posix_to_utf8(key.first.c_str()) + " of class " +
          posix_to_utf8(class_key.c_str()) +
          " skipped: an extension and a class key are letters, digits, \".\", \"_\", \"+\" "
          "and \"-\"");
      continue;
    }
    std::string lower = posix_lower_ascii(class_key);
    auto description = s.classes.find(lower);
    auto command = s.classes.find(lower + "\\shell\\open\\command");
    any |= posix_write_file_type(
        key.first, class_key, description != s.classes.end() ? description->second : std::string(),
        command != s.classes.end() ? program_of_command(command->second) : std::string());
  }
  for (const auto& entry : s.extensions) {
    // "program ^.ext": the class is named after the extension.
    const std::string& value = entry.second;
    size_t caret = value.rfind(" ^");
    if (entry.first.empty() || caret == std::string::npos) continue;
    if (!posix_plain_name(entry.first, false)) {
      posix_install_note(
          "file type ." + posix_to_utf8(entry.first.c_str()) +
          " skipped: an extension is letters, digits, \".\", \"_\", \"+\" and \"-\"");
      continue;
    }
    any |= posix_write_file_type(value.substr(caret + 2), entry.first, entry.first,
                                 value.substr(0, caret));
  }
  s.classes.clear();
  s.extensions.clear();
  if (!any) return;
  std::string home = posix_data_home();
  posix_run_tool_if_present("update-mime-database", home + "/mime");
  posix_run_tool_if_present("update-desktop-database", home + "/applications");
}

}  // namespace

void sys_set_class_value(const char* key_path, const char* value_name, const char* data) {
  // Only default values make up a file type.
  if (value_name[0] == 0) collected().classes[posix_lower_ascii(key_path)] = data;
}

void sys_write_profile_string(const char* section, const char* key, const char* value) {
  if (posix_lower_ascii(section) == "extensions" && key != nullptr && value != nullptr)
    collected().extensions[posix_lower_ascii(key)] = value;
}

void sys_broadcast_settings_change() {
  commit_file_types();
}
