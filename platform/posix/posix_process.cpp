// Memory, the end of the process, the system version and the own file's path.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

namespace {

std::string& module_path() {
  static std::string path;
  return path;
}

}  // namespace

void posix_set_module_path(const char* path) {
  module_path() = path != nullptr ? path : "";
}

const std::string& posix_module_path() {
  return module_path();
}

void* sys_alloc_zeroed(size_t size) {
  return std::calloc(1, size != 0 ? size : 1);
}

void sys_free(void* block) {
  std::free(block);
}

void sys_exit_process(int status) {
  posix_end_progress_line();
  std::fflush(nullptr);
  std::exit(status);
}

int sys_is_win32s() {
  return 0;
}

uint32_t sys_module_path(char* out, uint32_t size) {
  if (module_path().empty() || size == 0) return 0;
  std::string text = posix_from_utf8(module_path().c_str());
  uint32_t length = uint32_t(text.size());
  if (length >= size) {
    // Cut like the system does: the buffer filled, the full size returned.
    std::memcpy(out, text.data(), size - 1);
    out[size - 1] = 0;
    return size;
  }
  std::memcpy(out, text.c_str(), length + 1);
  return length;
}
