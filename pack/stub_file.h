// The stub that goes in front of the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pack {

// The default stub: kobrix-stub.exe in the folder of the running kobrix-pack.
std::string default_stub_path();

// Reads a stub and checks that it has room for the settings record: a DOS header
// ("MZ") that declares 32 header paragraphs, and bytes 512 to 1114 all zero. Throws
// PackError naming the file otherwise.
std::vector<uint8_t> load_stub(const std::string& path);

// The same check on bytes already read; returns the reason it is refused, or "".
std::string stub_problem(const std::vector<uint8_t>& stub);

}  // namespace pack
