#include "pack/pack_error.h"

#include <cerrno>
#include <cstring>

namespace pack {

std::string about_file(const std::string& name, const std::string& what) {
  return name + ": " + what;
}

std::string system_error_text() {
  return std::strerror(errno);
}

}  // namespace pack
