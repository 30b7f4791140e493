#include "pack/message_and_script.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "format/lzh_format.h"
#include "pack/file_source.h"
#include "pack/pack_error.h"

namespace pack {
namespace {

SpecialText load_text(const std::string& path, const char* option, size_t limit,
                      const CodePage& code_page) {
  SpecialText special;
  special.path = path;
  auto refuse = [&](const std::string& why) {
    throw PackError(std::string(option) + " " + about_file(path, why));
  };
  std::vector<uint8_t> bytes;
  try {
    // Four bytes of UTF-8 are at least one byte in the code page: more never fits.
    bytes = read_whole_file(path, 4 * limit + 4);
  } catch (const PackError& e) {
    throw PackError(std::string(option) + " " + e.what());
  }
  for (uint8_t c : bytes) {
    if (c == 0) refuse("holds a zero byte, where the stub would end the text");
  }
  const std::string given(bytes.begin(), bytes.end());
  std::string unicode;
  bool kept = false;
  if (code_page.to_unicode(given, &unicode, &kept) && kept) {
    std::fprintf(stderr, "kobrix-pack: %s %s: not UTF-8; kept as text of code page %u\n", option,
                 path.c_str(), code_page.number());
  }
  const std::string text = code_page.encode(given, std::string(option) + " " + path);
  special.text.assign(text.begin(), text.end());
  if (special.text.size() > limit) {
    refuse(std::to_string(special.text.size()) + " bytes in code page " +
           std::to_string(code_page.number()) + "; the stub reads at most " +
           std::to_string(limit));
  }
  return special;
}

// The script keys in the order the stub tries them, with the room it has for their
// values.
struct ScriptKey {
  const char* key;
  size_t room;
};

enum {
  window_title,
  install_title,
  install_dir,
  class_title,
  class_line,
  group_title,
  group_line,
  command,
  ask_regist,
  flag
};

const ScriptKey script_keys[] = {
    {"$WindowTitle=", 40}, {"$InstallTitle=", 40}, {"$InstallDir=", 255}, {"$ClassTitle=", 79},
    {"$Class=", 255},      {"$GroupTitle=", 79},   {"$Group=", 255},      {"$Command=", 255},
    {"$AskRegist=", 255},  {"$Flag=", 255},
};

// One line of the script: its number and the bytes up to the first below 32.
struct ScriptLine {
  size_t number;
  std::string text;
};

std::vector<ScriptLine> lines_of(const std::vector<uint8_t>& t) {
  std::vector<ScriptLine> lines;
  size_t number = 1;
  for (size_t at = 0; at < t.size();) {
    size_t end = at;
    while (end < t.size() && t[end] >= 32) ++end;
    if (end > at) lines.push_back({number, std::string(t.begin() + at, t.begin() + end)});
    at = end;
    while (at < t.size() && t[at] < 32) {
      if (t[at] == '\n') ++number;
      ++at;
    }
  }
  return lines;
}

// The key the line starts with, as the stub matches it; -1 for none.
int key_of(const std::string& line) {
  for (int k = 0; k < 10; ++k) {
    if (line.compare(0, std::strlen(script_keys[k].key), script_keys[k].key) == 0) return k;
  }
  return -1;
}

// The fields of a "$Class=" or "$Group=" value as the stub splits them: commas outside
// double quotes separate, the quotes themselves are dropped.
std::vector<std::string> fields_of(const std::string& value) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : value) {
    if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c == '"') {
      quoted = !quoted;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "$Flag=" as the stub reads it: leading blanks, a sign, digits; *whole when nothing
// else follows.
int32_t flag_value(const std::string& value, bool* whole) {
  size_t at = 0;
  while (at < value.size() && (value[at] == ' ' || (value[at] >= '\t' && value[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < value.size() && (value[at] == '-' || value[at] == '+')) negative = value[at++] == '-';
  const size_t digits = at;
  uint32_t number = 0;
  while (at < value.size() && value[at] >= '0' && value[at] <= '9')
    number = number * 10 + static_cast<uint32_t>(value[at++] - '0');
  *whole = at > digits && at == value.size();
  return negative ? static_cast<int32_t>(0u - number) : static_cast<int32_t>(number);
}

// The switches "$Flag=" turns on (low byte) and off (high byte), with the options that
// set the same.
struct FlagSwitch {
  uint32_t on, off;
  const char* option;
  const char* what;
};

const FlagSwitch flag_switches[] = {
    {script_flag_auto_start, script_flag_auto_start << script_flag_off_shift, "--auto-start",
     "auto start"},
    {script_flag_no_overwrite_prompt, script_flag_no_overwrite_prompt << script_flag_off_shift,
     "--overwrite", "overwriting without asking"},
    {script_flag_no_date_check, script_flag_no_date_check << script_flag_off_shift,
     "--no-date-check", "the date check"},
    {script_flag_restore_attributes, script_flag_restore_attributes << script_flag_off_shift,
     "--restore-attributes", "restoring attributes"},
};

void check_fields(const ScriptLine& line, int key, const std::string& value,
                  std::vector<std::string>* remarks) {
  const std::vector<std::string> fields = fields_of(value);
  const std::string at = "line " + std::to_string(line.number) + ": " + script_keys[key].key;
  auto warn = [&](const std::string& what) { remarks->push_back(at + " " + what); };
  if (key == class_line) {
    if (fields.size() < 4) {
      warn("has " + std::to_string(fields.size()) +
           " fields of the 4 it needs (extension, description, program, class key); the stub "
           "skips the line");
      return;
    }
    if (fields.size() > 4) warn("has more than 4 fields; the stub ignores those after the fourth");
    if (fields[0].size() < 2 || fields[0].size() > 19) {
      warn("extension \"" + shown(fields[0]) +
           "\" is not a period and 1 to 18 characters; the stub skips the line");
    }
    if (fields[1].size() > 19) {
      warn("description of " + std::to_string(fields[1].size()) +
           " bytes; the stub keeps the first 19");
    }
    if (fields[2].size() > 259) warn("program path longer than 259 bytes; the stub skips the line");
    if (fields[3].size() + std::strlen("\\shell\\open\\command") > 79) {
      warn("class key \"" + shown(fields[3]) +
           "\" is too long: with \\shell\\open\\command it must fit in 79 bytes; the stub skips "
           "the line");
    }
  } else {
    if (fields.size() < 3) {
      warn("has " + std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields") +
           "; it needs 3 or 4 (group, title, program, icon); the stub adds an item "
           "without a program");
    }
    if (fields.size() > 4) warn("has more than 4 fields; the stub ignores those after the fourth");
    const char* names[] = {"group name", "item title"};
    for (size_t i = 0; i < 2 && i < fields.size(); ++i) {
      if (fields[i].size() > 79) {
        warn(std::string(names[i]) + " of " + std::to_string(fields[i].size()) +
             " bytes; the stub keeps the first 79");
      }
    }
    for (size_t i = 2; i < 4 && i < fields.size(); ++i) {
      if (fields[i].size() > 259) {
        warn(std::string(i == 2 ? "program" : "icon") +
             " path longer than 259 bytes; the stub skips the line");
      }
    }
  }
}

}  // namespace

SpecialText load_message(const std::string& path, const CodePage& code_page) {
  return load_text(path, "--message", max_message, code_page);
}

SpecialText load_script(const std::string& path, const CodePage& code_page) {
  SpecialText script = load_text(path, "--script", max_script, code_page);
  for (const ScriptLine& line : lines_of(script.text)) {
    const int key = key_of(line.text);
    if (key < 0) continue;
    const size_t value = line.text.size() - std::strlen(script_keys[key].key);
    if (value > script_keys[key].room) {
      throw PackError("--script " +
                      about_file(path, "line " + std::to_string(line.number) + ": " +
                                           std::to_string(value) + " bytes after " +
                                           script_keys[key].key + "; the stub keeps " +
                                           std::to_string(script_keys[key].room)));
    }
  }
  return script;
}

std::vector<std::string> script_remarks(const std::vector<uint8_t>& script,
                                        const PackOptions& options) {
  std::vector<std::string> remarks;
  size_t setting_line[10] = {};  // the line whose value the stub keeps, per key
  size_t switch_line[4] = {};    // the last line that set a switch, and its state
  bool switch_on[4] = {};
  for (const ScriptLine& line : lines_of(script)) {
    const std::string at = "line " + std::to_string(line.number) + ": ";
    const int key = key_of(line.text);
    if (key < 0) {
      size_t start = line.text.find_first_not_of(' ');
      if (start == std::string::npos || line.text[start] != '$') continue;  // a comment
      if (start > 0 && key_of(line.text.substr(start)) >= 0) {
        remarks.push_back(at +
                          "starts with a blank; a key counts only at the very start of a "
                          "line, so the stub skips the line");
        continue;
      }
      const std::string given = line.text.substr(start, line.text.find('=', start) + 1 - start);
      std::string meant;
      for (const ScriptKey& k : script_keys) {
        std::string lower_given = given, lower_key = k.key;
        for (char& c : lower_given)
          c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : lower_key)
          c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (edit_distance(lower_given, lower_key) <= 2) meant = k.key;
      }
      remarks.push_back(at + "\"" + shown(given) + "\" is no key the stub knows" +
                        (meant.empty() ? "" : " (keys match in exact case: " + meant + "?)") +
                        "; the stub skips the line");
      continue;
    }
    const std::string value = line.text.substr(std::strlen(script_keys[key].key));
    if (key == class_line || key == group_line) {
      check_fields(line, key, value, &remarks);
    } else if (key == flag) {
      bool whole = false;
      const int32_t number = flag_value(value, &whole);
      if (!whole) {
        remarks.push_back(at + "$Flag=" + shown(value) +
                          " is not a decimal number; the stub reads it as " +
                          std::to_string(number));
      }
      const uint32_t bits = static_cast<uint32_t>(number);
      if (bits & ~script_flags_known) {
        char unknown[16];
        std::snprintf(unknown, sizeof unknown, "0x%X", bits & ~script_flags_known);
        remarks.push_back(at + "$Flag= bits " + unknown + " mean nothing; the stub ignores them");
      }
      for (int s = 0; s < 4; ++s) {
        if (bits & (flag_switches[s].on | flag_switches[s].off)) {
          switch_line[s] = line.number;
          // The high byte acts second and wins.
          switch_on[s] = (bits & flag_switches[s].off) == 0;
        }
      }
    } else if (key == install_dir) {
      if (setting_line[key] == 0 && !value.empty()) setting_line[key] = line.number;
    } else {
      setting_line[key] = line.number;
    }
  }

  auto note = [&](const std::string& text) { remarks.push_back("note: " + text); };
  const struct {
    const std::string& option_value;
    const char* option;
    int key;
    const char* what;
  } texts[] = {
      {options.title, "--title", window_title, "the caption"},
      {options.install_title, "--install-title", install_title, "the directory label"},
      {options.command, "--command", command, "the command"},
  };
  for (const auto& t : texts) {
    if (t.option_value.empty() || setting_line[t.key] == 0) continue;
    note(std::string(t.option) + " and " + script_keys[t.key].key + " (line " +
         std::to_string(setting_line[t.key]) + ") both set " + t.what + "; the stub uses " +
         script_keys[t.key].key);
  }
  if (!options.install_dir.empty() && setting_line[install_dir] != 0) {
    note("--dir and $InstallDir= (line " + std::to_string(setting_line[install_dir]) +
         ") both set the directory; the stub uses --dir ($InstallDir= counts only when neither "
         "the settings nor the stub's command line give one)");
  }
  for (int s = 0; s < 4; ++s) {
    const bool option_set =
        s == 3 ? options.restore_attributes : (options.flags & flag_switches[s].on) != 0;
    if (!option_set || switch_line[s] == 0) continue;
    // --no-date-check turns the date check off; the flag bits name the check itself.
    const bool on = s == 2 ? !switch_on[s] : switch_on[s];
    note(std::string(flag_switches[s].option) + " and $Flag= (line " +
         std::to_string(switch_line[s]) + ") both set " + flag_switches[s].what +
         "; the stub uses $Flag=, which turns it " + (on ? "on" : "off"));
  }
  return remarks;
}

}  // namespace pack
