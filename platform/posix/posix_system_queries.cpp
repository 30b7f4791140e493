// Directories, environment, the one registry value, path search, file titles,
// the clock.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace {

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Offset of the file name: behind the last separator, drive colon or 0xFF,
// stepping over double-byte characters.
size_t file_name_offset(const char* path) {
  size_t offset = 0;
  for (size_t i = 0; path[i] != 0; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (sys_is_lead_byte(c) && path[i + 1] != 0) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':' || c == 0xFF) offset = i + 1;
  }
  return offset;
}

}  // namespace

uint32_t sys_current_directory(char* out, uint32_t size) {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return 0;
  return posix_copy_out(buffer, out, size);
}

uint32_t sys_windows_directory(char* out, uint32_t size) {
  return posix_copy_text("C:\\WINDOWS", out, size);
}

uint32_t sys_system_directory(char* out, uint32_t size) {
  return posix_copy_text("C:\\WINDOWS\\SYSTEM", out, size);
}

uint32_t sys_get_environment(const char* name, char* out, uint32_t size) {
  const char* value = getenv(posix_to_utf8(name).c_str());
  if (value == nullptr || value[0] == 0) {
    if (size > 0) out[0] = 0;
    return 0;
  }
  return posix_copy_out(value, out, size);
}

int sys_read_registry_string(const char* key, const char* value, char* out, uint32_t size) {
  if (std::strcmp(key, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion") != 0 ||
      std::strcmp(value, "ProgramFilesDir") != 0)
    return 0;
  const char answer[] = "C:\\Program Files";
  if (sizeof answer > size) return 0;
  std::memcpy(out, answer, sizeof answer);
  return 1;
}

uint32_t sys_search_path(const char* name, char* out, uint32_t size, char** file_part) {
  if (name == nullptr || name[0] == 0) return 0;
  std::string file = posix_to_utf8(name);
  std::string found;
  if (file.find('/') != std::string::npos || file.find('\\') != std::string::npos ||
      (file.size() >= 2 && file[1] == ':')) {
    // A name with a path of its own is only looked up there.
    std::string mapped = posix_map_path(name);
    if (is_regular_file(mapped)) found = mapped;
  } else {
    // The program's folder, the current folder, the system and the Windows
    // folder, in the order of the system's own search.
    std::string folders[4];
    const std::string& module = posix_module_path();
    size_t slash = module.rfind('/');
    if (slash != std::string::npos) folders[0] = slash == 0 ? "/" : module.substr(0, slash);
    folders[1] = posix_map_path(".");
    folders[2] = posix_map_path("C:\\WINDOWS\\SYSTEM");
    folders[3] = posix_map_path("C:\\WINDOWS");
    for (const std::string& folder : folders) {
      if (folder.empty()) continue;
      std::string candidate = posix_normalise(folder + "/" + file);
      if (is_regular_file(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  if (found.empty()) return 0;
  std::string text = posix_core_path(found);
  uint32_t length = posix_copy_text(text, out, size);
  if (file_part != nullptr) *file_part = length < size ? out + file_name_offset(out) : nullptr;
  return length;
}

int sys_file_title(const char* path, char* out, uint16_t size) {
  const char* title = path + file_name_offset(path);
  size_t length = std::strlen(title);
  if (length == 0) return -1;
  if (length + 1 > size) return int(length + 1);
  std::memcpy(out, title, length + 1);
  return 0;
}

uint32_t sys_short_path(const char* path, char* out, uint32_t size) {
  // Linux keeps no short names: an existing path is its own short form.
  std::string mapped = posix_map_path(path);
  struct stat st;
  if (mapped.empty() || stat(mapped.c_str(), &st) != 0) return 0;
  return posix_copy_text(path, out, size);
}

uint32_t sys_tick_count() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}
