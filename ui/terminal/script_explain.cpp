// What each line of an installer's script means: on Windows (the caption,
// the registry keys or WIN.INI line, the Program Manager group and item)
// and with this runner on Linux (the files its installation actions write).
// The lines are read with the script's own line reader and field splitter.
#include <string>

#include "archive/archive.h"
#include "install/install.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"
#include "startup/startup.h"
#include "ui/terminal/sfx_listing.h"

namespace {

constexpr const char* key_names[] = {
    "",        "$WindowTitle=", "$InstallTitle=", "$InstallDir=", "$ClassTitle=",
    "$Class=", "$GroupTitle=",  "$Group=",        "$Command=",    "$AskRegist=",
    "$Flag=",
};

std::string utf8(const std::string& text) {
  return posix_to_utf8(text.c_str());
}

std::string quoted(const std::string& text) {
  return "\"" + utf8(text) + "\"";
}

// The extraction directory and a path below it, Windows style.
std::string windows_path(const InspectedFile& f, const std::string& name) {
  std::string path = f.view.directory_expanded + "\\" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string linux_path(const InspectedFile& f, const std::string& name) {
  if (f.view.directory_refused) return "(no extraction directory)";
  std::string relative = utf8(name);
  for (char& c : relative)
    if (c == '\\') c = '/';
  return posix_normalise(f.view.directory_linux + "/" + relative);
}

bool fits_joined(const InspectedFile& f, const std::string& name) {
  return f.view.directory_expanded.size() + 1 + name.size() <= 255;
}

std::string flag_words(int32_t value) {
  static const struct {
    int32_t bit;
    const char* words;
  } bits[] = {
      {0x0001, "auto-start on"},     {0x0002, "overwrite without asking on"},
      {0x0008, "no date check on"},  {0x0010, "restore attributes on"},
      {0x0100, "auto-start off"},    {0x0200, "overwrite without asking off"},
      {0x0800, "no date check off"}, {0x1000, "restore attributes off"},
  };
  std::string out;
  for (const auto& b : bits) {
    if (!(value & b.bit)) continue;
    if (!out.empty()) out += ", ";
    out += b.words;
  }
  return out.empty() ? "no switch changed" : "switches: " + out + " (the later ones win)";
}

void explain_class(const InspectedFile& f, const char* value, ScriptLineMeaning* out) {
  char extension[20], description[20], program[path_size], class_key[128];
  const char* pos = value;
  int whole = next_field(&pos, extension, sizeof extension);
  next_field(&pos, description, sizeof description);
  whole &= next_field(&pos, program, sizeof program);
  whole &= next_field(&pos, class_key, sizeof class_key);
  std::string why;
  if (!whole) {
    why = "a field does not fit its room";
  } else if (text_length(extension) < 2 || class_key[0] == 0) {
    why = "no extension or no class key";
  } else if (text_length(class_key) + text_length("\\shell\\open\\command") > 79) {
    why = "the class key is too long";
  } else if (!fits_joined(f, program)) {
    why = "the program's path is too long";
  }
  if (!why.empty()) {
    out->on_windows = "ignored by the program: " + why;
    out->on_linux = "nothing";
    return;
  }
  sys_lower_text(extension);
  std::string program_path = windows_path(f, program);
  std::string key = utf8(class_key);
  std::string w = "file type: HKEY_CLASSES_ROOT\\" + utf8(extension) + " = " + quoted(class_key) +
                  "; HKEY_CLASSES_ROOT\\" + key + " = " + quoted(description) +
                  "; HKEY_CLASSES_ROOT\\" + key + "\\shell\\open\\command = \"\\\"" +
                  utf8(program_path) + "\\\" \\\"%1\\\"\"; HKEY_CLASSES_ROOT\\" + key +
                  "\\DefaultIcon = \"" + utf8(program_path) +
                  ",0\" (the program's short path; under Win32s WIN.INI [Extensions] " +
                  utf8(extension + 1) + "=" + utf8(program_path) + " ^" + utf8(extension) + ")";
  if (f.view.ask_register) w += "; asks " + quoted(description) + " Set Class? first";
  std::string token = posix_mime_token(class_key);
  std::string home = posix_data_home();
  std::string l = home + "/mime/packages/kobrix-" + token + ".xml (type application/x-kobrix-" +
                  token + ", glob *" + utf8(extension) + "), " + home + "/applications/kobrix-" +
                  token + ".desktop (opens such files with " + linux_path(f, program) + ")";
  if (!f.view.class_checked) {
    std::string none = "not done: no $ClassTitle= line ticks the file-type check box";
    w = none + " (else " + w + ")";
    l = none + " (else " + l + ")";
  }
  out->on_windows = w;
  out->on_linux = l;
}

void explain_group(const InspectedFile& f, const char* value, ScriptLineMeaning* out) {
  char group[80], title[80], program[path_size], icon[path_size];
  const char* pos = value;
  next_field(&pos, group, sizeof group);
  next_field(&pos, title, sizeof title);
  int whole = next_field(&pos, program, sizeof program);
  whole &= next_field(&pos, icon, sizeof icon);
  if (!whole || !fits_joined(f, program) || (icon[0] != 0 && !fits_joined(f, icon))) {
    out->on_windows = "ignored by the program: a path does not fit its room";
    out->on_linux = "nothing";
    return;
  }
  std::string w = "Program Manager: [CreateGroup(" + quoted(group) + ",0)] [AddItem(" +
                  utf8(windows_path(f, program)) + "," + utf8(title);
  if (icon[0] != 0) w += "," + utf8(windows_path(f, icon));
  w += ")] (paths in their short form)";
  std::string name = utf8(title);
  std::string program_linux = linux_path(f, program);
  if (name.empty()) name = program_linux.substr(program_linux.rfind('/') + 1);
  std::string folder = posix_file_component(utf8(group));
  std::string l = posix_data_home() + "/applications/" + folder + "/kobrix-" + folder + "-" +
                  posix_file_component(name) + ".desktop (starts " + program_linux +
                  " in its folder";
  if (icon[0] != 0) l += ", icon " + linux_path(f, icon);
  l += ")";
  if (!f.view.group_checked) {
    std::string none = "not done: no $GroupTitle= line ticks the Start-menu check box";
    w = none + " (else " + w + ")";
    l = none + " (else " + l + ")";
  }
  out->on_windows = w;
  out->on_linux = l;
}

}  // namespace

std::vector<ScriptLineMeaning> explain_script(const InspectedFile& f) {
  std::vector<ScriptLineMeaning> lines;
  std::string directory = f.install_dir_before_script;
  const char* pos = f.script.c_str();
  char value[256];
  while (at_next_line(&pos)) {
    const char* start = pos;
    ScriptLineMeaning m;
    int key = match_script_key(&pos);
    if (key != 0) read_script_value(&pos, value, sizeof value);
    skip_line_rest(&pos);
    m.line.assign(start, size_t(pos - start));
    const std::string same = "the same, on the terminal";
    if (key == 0) {
      m.on_windows = "ignored by the program (not a key line)";
      m.on_linux = "ignored";
      lines.push_back(m);
      continue;
    }
    m.key = key_names[key];
    std::string v = value;
    switch (key) {
      case key_window_title:
        m.on_windows = "caption of the dialog and of every message box: " + quoted(v.substr(0, 40));
        m.on_linux = same;
        break;
      case key_install_title:
        m.on_windows = "label of the directory field: " + quoted(v.substr(0, 40));
        m.on_linux = same;
        break;
      case key_install_dir:
        if (!directory.empty()) {
          m.on_windows = "no effect: the default directory is already " + quoted(directory);
          m.on_linux = "no effect";
        } else if (v.empty()) {
          m.on_windows = "no effect (empty)";
          m.on_linux = "no effect";
        } else {
          directory = v;
          m.on_windows = "default extraction directory: " + quoted(v.substr(0, 255));
          m.on_linux = v == f.view.directory ? "below ROOT: " + f.view.directory_linux : same;
        }
        break;
      case key_class_title:
        m.on_windows = "ticks the check box for file types, labelled " + quoted(v.substr(0, 79));
        m.on_linux = "the same question on the terminal";
        break;
      case key_class:
        explain_class(f, value, &m);
        break;
      case key_group_title:
        m.on_windows =
            "ticks the check box for Start-menu items, labelled " + quoted(v.substr(0, 79));
        m.on_linux = "the same question on the terminal";
        break;
      case key_group:
        explain_group(f, value, &m);
        break;
      case key_command:
        m.on_windows = v.empty() ? "no command after the extraction"
                                 : "command run through the shell after a clean extraction, "
                                   "in the extraction directory: " +
                                       quoted(v.substr(0, 255));
        m.on_linux = v.empty() ? "nothing"
                               : "started in " + f.view.directory_linux +
                                     " (a document opens with xdg-open, a bare name is looked "
                                     "up on PATH)";
        break;
      case key_ask_regist:
        m.on_windows = "asks \"<description>\" Set Class? before each file type";
        m.on_linux = same;
        break;
      case key_flag:
        m.on_windows = flag_words(parse_decimal(value));
        m.on_linux = same;
        break;
      default:
        break;
    }
    lines.push_back(m);
  }
  return lines;
}
