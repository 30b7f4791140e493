// The program's own file through the calls of the 16-bit-compatible kind.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

FileHandle sys_open_own_file(const char* path) {
  // The own file is opened by its real name: it may lie anywhere.
  std::string real = posix_from_utf8(posix_module_path().c_str()) == path ? posix_module_path()
                                                                          : posix_map_path(path);
  if (real.empty()) return invalid_file;
  int fd = posix_open_descriptor(real.c_str(), O_RDONLY, 0);
  return fd < 0 ? invalid_file : FileHandle(fd);
}

int32_t sys_seek_own_file(FileHandle file, int32_t offset, int origin) {
  int whence = origin == seek_begin ? SEEK_SET : origin == seek_current ? SEEK_CUR : SEEK_END;
  if (origin != seek_begin && origin != seek_current && origin != seek_end) return -1;
  off_t position = lseek(int(file), off_t(offset), whence);
  if (position < 0 || position > off_t(INT32_MAX)) return -1;
  return int32_t(position);
}

int32_t sys_read_own_file(FileHandle file, void* out, uint32_t size) {
  if (size > uint32_t(INT32_MAX)) size = uint32_t(INT32_MAX);
  char* p = static_cast<char*>(out);
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = read(int(file), p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += uint32_t(n);
  }
  return int32_t(done);
}

void sys_close_own_file(FileHandle file) {
  close(int(file));
}
