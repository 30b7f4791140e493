// The seam under libFuzzer; see fuzz_platform.h. Whatever the fuzzed code
// does not need answers as a system would that has nothing to offer.
#include "fuzz_platform.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr FileHandle own_file = 3;
constexpr FileHandle written_file = 4;

const uint8_t* own_data;
size_t own_size;
size_t own_position;
size_t requested_end;
FuzzWrites writes;
char last_message[1024];
jmp_buf exit_point;
int exit_status;

}  // namespace

void fuzz_set_own_file(const uint8_t* data, size_t size) {
  own_data = data;
  own_size = size;
  own_position = 0;
  requested_end = 0;
  writes = FuzzWrites{0, 1469598103934665603ull, 0};
  last_message[0] = 0;
}

// clang-format off
size_t fuzz_own_file_requested_end() { return requested_end; }
FuzzWrites fuzz_writes() { return writes; }
const char* fuzz_last_message() { return last_message; }
void* sys_alloc_zeroed(size_t size) { return std::calloc(1, size != 0 ? size : 1); }
void sys_free(void* block) { std::free(block); }
FileHandle sys_open_own_file(const char*) { return own_file; }
void sys_close_own_file(FileHandle) {}
// clang-format on

int fuzz_run(void (*fn)()) {
  if (setjmp(exit_point) != 0) return exit_status;
  fn();
  return -1;
}

// ---- process and the program's own file ----

void sys_exit_process(int status) {
  exit_status = status;
  std::longjmp(exit_point, 1);
}
uint32_t sys_module_path(char* out, uint32_t size) {
  const char path[] = "C:\\SETUP.EXE";
  if (size < sizeof path) return 0;
  std::memcpy(out, path, sizeof path);
  return sizeof path - 1;
}

int32_t sys_seek_own_file(FileHandle file, int32_t offset, int origin) {
  if (file != own_file) return -1;
  int64_t base = origin == seek_begin     ? 0
                 : origin == seek_current ? int64_t(own_position)
                                          : int64_t(own_size);
  int64_t target = base + offset;
  if (target < 0 || target > INT32_MAX) return -1;
  own_position = size_t(target);
  return int32_t(target);
}
int32_t sys_read_own_file(FileHandle file, void* out, uint32_t size) {
  if (file != own_file) return -1;
  if (own_position + size > requested_end) requested_end = own_position + size;
  size_t n = own_position < own_size ? own_size - own_position : 0;
  if (n > size) n = size;
  std::memcpy(out, own_data + own_position, n);
  own_position += n;
  return int32_t(n);
}

// ---- member files: written ones are hashed, no file exists ----

FileHandle sys_create_file(const char*) {
  return written_file;
}
int sys_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
  if (file != written_file) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; i < size; ++i) writes.hash = (writes.hash ^ p[i]) * 1099511628211ull;
  writes.bytes += size;
  ++writes.calls;
  *written = size;
  return 1;
}

// ---- the rest: nothing to offer; single-byte code page ----

// clang-format off
int sys_is_win32s() { return 0; }
FileHandle sys_open_existing_file(const char*) { return invalid_file; }
int sys_close_file(FileHandle) { return 1; }
int sys_delete_file(const char*) { return 1; }
uint32_t sys_get_file_attributes(const char*) { return attr_invalid; }
int sys_set_file_attributes(const char*, uint32_t) { return 1; }
int sys_get_file_time(FileHandle, FileTime*, FileTime*, FileTime*) { return 0; }
int sys_set_file_time(FileHandle, const FileTime*, const FileTime*, const FileTime*) { return 1; }
int sys_create_directory(const char*) { return 1; }
uint32_t sys_max_component_length(const char*) { return 255; }
uint32_t sys_current_directory(char* out, uint32_t size) { return sys_module_path(out, size) != 0 ? 2 : 0; }
uint32_t sys_windows_directory(char* out, uint32_t size) { return sys_current_directory(out, size); }
uint32_t sys_system_directory(char* out, uint32_t size) { return sys_current_directory(out, size); }
uint32_t sys_get_environment(const char*, char*, uint32_t) { return 0; }
int sys_read_registry_string(const char*, const char*, char*, uint32_t) { return 0; }
uint32_t sys_search_path(const char*, char*, uint32_t, char**) { return 0; }
int sys_file_title(const char*, char*, uint16_t) { return -1; }
uint32_t sys_short_path(const char*, char*, uint32_t) { return 0; }
int sys_is_lead_byte(uint8_t) { return 0; }
const char* sys_char_prev(const char* start, const char* at) { return at > start ? at - 1 : start; }
uint8_t sys_lower_char(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }
void sys_lower_text(char* text) { for (; *text != 0; ++text) *text = char(sys_lower_char(uint8_t(*text))); }
int sys_systemtime_to_filetime(const SystemTime*, FileTime*) { return 0; }
int sys_filetime_to_systemtime(const FileTime*, SystemTime*) { return 0; }
void sys_set_item_text(Window, int, const char*) {}
void sys_pump_messages(Window) {}
// clang-format on

// ---- user interface ----

int sys_message_box(Window, const char* text, const char*, uint32_t) {
  std::strncpy(last_message, text, sizeof last_message - 1);
  last_message[sizeof last_message - 1] = 0;
  return answer_ok;
}
