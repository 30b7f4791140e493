// The message member "!" and the script member "$": their texts, checked so that the
// stub will see all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/code_page.h"
#include "pack/pack_options.h"

namespace pack {

// Longest texts the stub keeps of the message and the script.
constexpr size_t max_message = 1023;
constexpr size_t max_script = 4095;

struct SpecialText {
  std::string path;  // empty: no such member
  std::vector<uint8_t> text;
};

// Reads the message file into the code page. Throws PackError naming --message and the
// file when the text is longer than the stub keeps, holds a zero byte or a character
// the code page lacks.
SpecialText load_message(const std::string& path, const CodePage& code_page);

// Reads the script file, with the checks of load_message, and refuses a key line whose
// value is longer than the field the stub copies it into.
SpecialText load_script(const std::string& path, const CodePage& code_page);

// The script read as the stub reads it: a warning ("line N: ...") for each line the stub
// passes over or reads otherwise than it seems to mean (an unknown key, a flag that is
// no number, a "$Class=" or "$Group=" line with the wrong number of fields or a field
// longer than the stub keeps), then a note ("note: ...") for each setting that both an
// option and a script line give, saying which one the stub uses.
std::vector<std::string> script_remarks(const std::vector<uint8_t>& script,
                                        const PackOptions& options);

}  // namespace pack
