// The message member "!" and the script member "$": their texts, checked so that the
// stub will see all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

// Longest texts the stub keeps of the message and the script.
constexpr size_t max_message = 1023;
constexpr size_t max_script = 4095;

struct SpecialText {
  std::string path;  // empty: no such member
  std::vector<uint8_t> text;
};

// Reads the message file. Throws PackError naming --message and the file when the text
// is longer than the stub keeps or holds a zero byte.
SpecialText load_message(const std::string& path);

// Reads the script file, with the checks of load_message, and refuses a key line whose
// value is longer than the field the stub copies it into.
SpecialText load_script(const std::string& path);

}  // namespace pack
