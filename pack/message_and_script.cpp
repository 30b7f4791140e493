#include "pack/message_and_script.h"

#include <cstring>

#include "pack/file_source.h"
#include "pack/pack_error.h"

namespace pack {
namespace {

SpecialText load_text(const std::string& path, const char* option, size_t limit) {
  SpecialText special;
  special.path = path;
  auto refuse = [&](const std::string& why) {
    throw PackError(std::string(option) + " " + about_file(path, why));
  };
  try {
    special.text = read_whole_file(path);
  } catch (const PackError& e) {
    throw PackError(std::string(option) + " " + e.what());
  }
  if (special.text.size() > limit) {
    refuse(std::to_string(special.text.size()) + " bytes; the stub reads at most " +
           std::to_string(limit));
  }
  for (uint8_t c : special.text) {
    if (c == 0) refuse("holds a zero byte, where the stub would end the text");
  }
  return special;
}

// The script keys with the room the stub has for their values.
struct ScriptKey {
  const char* key;
  size_t room;
};

const ScriptKey script_keys[] = {
    {"$WindowTitle=", 40}, {"$InstallTitle=", 40}, {"$InstallDir=", 255}, {"$ClassTitle=", 79},
    {"$Class=", 255},      {"$GroupTitle=", 79},   {"$Group=", 255},      {"$Command=", 255},
    {"$AskRegist=", 255},  {"$Flag=", 255},
};

}  // namespace

SpecialText load_message(const std::string& path) {
  return load_text(path, "--message", max_message);
}

SpecialText load_script(const std::string& path) {
  SpecialText script = load_text(path, "--script", max_script);
  // Lines end at any byte from 1 to 31, as the stub reads them.
  const std::vector<uint8_t>& t = script.text;
  size_t line = 1;
  for (size_t at = 0; at < t.size();) {
    size_t end = at;
    while (end < t.size() && t[end] >= 32) ++end;
    for (const ScriptKey& k : script_keys) {
      const size_t key_length = std::strlen(k.key);
      if (end - at >= key_length && std::memcmp(&t[at], k.key, key_length) == 0) {
        const size_t value = end - at - key_length;
        if (value > k.room) {
          throw PackError("--script " +
                          about_file(path, "line " + std::to_string(line) + ": " +
                                               std::to_string(value) + " bytes after " + k.key +
                                               "; the stub keeps " + std::to_string(k.room)));
        }
        break;
      }
    }
    at = end;
    while (at < t.size() && t[at] < 32) {
      if (t[at] == '\n') ++line;
      ++at;
    }
  }
  return script;
}

}  // namespace pack
