#include "pack/stub_file.h"

#include <unistd.h>

#include <cstdio>

#include "pack/file_source.h"
#include "pack/pack_error.h"
#include "pack/settings_record.h"

namespace pack {

std::string default_stub_path() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "kobrix-stub.exe";
  std::string self(buffer.data(), static_cast<size_t>(n));
  const size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
         "/kobrix-stub.exe";
}

std::string stub_problem(const std::vector<uint8_t>& stub) {
  const size_t settings_end = settings_offset + settings_size;
  if (stub.size() < settings_end) {
    return "too short for a stub (" + std::to_string(stub.size()) +
           " bytes; the settings record"
           " ends at byte " +
           std::to_string(settings_end) + ")";
  }
  if (stub[0] != 'M' || stub[1] != 'Z') return "not an executable (no MZ header)";
  const unsigned paragraphs = stub[8] | (stub[9] << 8);
  if (paragraphs != 32) {
    return "its DOS header declares " + std::to_string(paragraphs) +
           " header paragraphs; a stub declares 32";
  }
  for (size_t i = settings_offset; i < settings_end; ++i) {
    if (stub[i] != 0) {
      return "bytes 512 to 1114 must be free for the settings record, byte " + std::to_string(i) +
             " is not";
    }
  }
  return "";
}

std::vector<uint8_t> load_stub(const std::string& path) {
  const std::vector<uint8_t> stub = read_whole_file(path, size_t(1) << 24);
  const std::string problem = stub_problem(stub);
  if (!problem.empty()) throw PackError(about_file(path, "refused as a stub: " + problem));
  return stub;
}

}  // namespace pack
