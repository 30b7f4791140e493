// The program's own file through the calls of the 16-bit-compatible kind.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace {

// The position of the own file as its reads and seeks left it, so that
// asking where it stands takes no call: the pass asks before every skip.
struct OwnPosition {
  int fd = -1;
  int64_t position = 0;
};

OwnPosition& own_position() {
  static OwnPosition p;
  return p;
}

void note_position(int fd, int64_t position) {
  own_position().fd = fd;
  own_position().position = position;
}

}  // namespace

FileHandle sys_open_own_file(const char* path) {
  // The own file is opened by its real name: it may lie anywhere.
  std::string real = posix_from_utf8(posix_module_path().c_str()) == path ? posix_module_path()
                                                                          : posix_map_path(path);
  if (real.empty()) return invalid_file;
  int fd = posix_open_descriptor(real.c_str(), O_RDONLY, 0);
  if (fd < 0) return invalid_file;
  note_position(fd, 0);
  return FileHandle(fd);
}

int32_t sys_seek_own_file(FileHandle file, int32_t offset, int origin) {
  int whence = origin == seek_begin ? SEEK_SET : origin == seek_current ? SEEK_CUR : SEEK_END;
  if (origin != seek_begin && origin != seek_current && origin != seek_end) return -1;
  OwnPosition& own = own_position();
  if (origin == seek_current && offset == 0 && own.fd == int(file) &&
      own.position <= int64_t(INT32_MAX))
    return int32_t(own.position);
  off_t position = lseek(int(file), off_t(offset), whence);
  if (position >= 0) note_position(int(file), int64_t(position));
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
    if (n < 0) {
      if (own_position().fd == int(file)) own_position().fd = -1;  // position not known
      return -1;
    }
    if (n == 0) break;
    done += uint32_t(n);
  }
  if (own_position().fd == int(file)) own_position().position += done;
  return int32_t(done);
}

void sys_close_own_file(FileHandle file) {
  if (own_position().fd == int(file)) own_position().fd = -1;
  close(int(file));
}
