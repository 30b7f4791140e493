// Member files and directories, their attributes and times.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t epoch_difference = 116444736000000000LL;

mode_t process_umask() {
  static mode_t mask = mode_t(-1);
  if (mask == mode_t(-1)) {
    mask = umask(022);
    umask(mask);
  }
  return mask;
}

bool to_filetime(const struct timespec& ts, FileTime* out) {
  int64_t ticks = int64_t(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 + epoch_difference;
  if (ticks < 0) return false;
  out->low = uint32_t(uint64_t(ticks));
  out->high = uint32_t(uint64_t(ticks) >> 32);
  return true;
}

// A FILETIME as a timespec; 0 means "leave this time as it is".
struct timespec from_filetime(const FileTime* in) {
  struct timespec ts = {0, UTIME_OMIT};
  if (in == nullptr) return ts;
  uint64_t ticks = (uint64_t(in->high) << 32) | in->low;
  if (ticks == 0 || ticks > uint64_t(INT64_MAX)) return ts;
  int64_t unix_ticks = int64_t(ticks) - epoch_difference;
  int64_t seconds = unix_ticks / 10000000;
  int64_t rest = unix_ticks % 10000000;
  if (rest < 0) rest += 10000000, seconds -= 1;
  ts.tv_sec = time_t(seconds);
  ts.tv_nsec = long(rest * 100);
  return ts;
}

}  // namespace

int posix_open_descriptor(const char* path, int flags, int mode) {
  int fd;
  do fd = open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0 && fd <= 2) {
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    close(fd);
    errno = saved;
    fd = moved;
  }
  return fd;
}

FileHandle sys_create_file(const char* path) {
  int fd = posix_create_in_last_folder(path);
  if (fd >= 0) return FileHandle(fd);
  std::string real;
  bool existed = true;
  if (!posix_writable_path(path, &real, false, &existed)) return invalid_file;
  // A read-only file is not replaced, whoever runs the program.
  struct stat st;
  if (existed && stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
    errno = EACCES;
    return invalid_file;
  }
  fd = posix_open_descriptor(real.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  return fd < 0 ? invalid_file : FileHandle(fd);
}

FileHandle sys_open_existing_file(const char* path) {
  std::string real = posix_map_path(path);
  if (real.empty()) return invalid_file;
  int fd = posix_open_descriptor(real.c_str(), O_RDONLY, 0);
  if (fd < 0) return invalid_file;
  // Directories do not open as files.
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EACCES;
    return invalid_file;
  }
  return FileHandle(fd);
}

int sys_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
  const char* p = static_cast<const char*>(data);
  uint32_t done = 0;
  int ok = 1;
  while (done < size) {
    ssize_t n = write(int(file), p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = 0;
      break;
    }
    done += uint32_t(n);
  }
  if (written != nullptr) *written = done;
  return ok;
}

int sys_close_file(FileHandle file) {
  return close(int(file)) == 0 ? 1 : 0;
}

int sys_delete_file(const char* path) {
  std::string real;
  if (!posix_writable_path(path, &real, false)) return 0;
  return unlink(real.c_str()) == 0 ? 1 : 0;
}

uint32_t sys_get_file_attributes(const char* path) {
  std::string real = posix_map_path(path);
  struct stat st;
  if (real.empty() || stat(real.c_str(), &st) != 0) return attr_invalid;
  if (S_ISDIR(st.st_mode)) return attr_directory;
  return (st.st_mode & 0222) == 0 ? uint32_t(attr_read_only) : 0x20u;  // read-only or archive
}

int sys_set_file_attributes(const char* path, uint32_t attributes) {
  std::string real;
  if (!posix_writable_path(path, &real, false)) return 0;
  struct stat st;
  if (stat(real.c_str(), &st) != 0) return 0;
  // Only read-only has a place on Linux, and only on files.
  if (S_ISDIR(st.st_mode)) return 1;
  mode_t mode = st.st_mode & 07777;
  if (attributes & attr_read_only)
    mode &= ~mode_t(0222);
  else
    mode |= mode_t(0200) | (mode_t(0022) & ~process_umask() & ((mode & 0044) >> 1));
  return chmod(real.c_str(), mode) == 0 ? 1 : 0;
}

int sys_get_file_time(FileHandle file, FileTime* created, FileTime* accessed, FileTime* written) {
  struct stat st;
  if (fstat(int(file), &st) != 0) return 0;
  FileTime c, a, w;
  if (!to_filetime(st.st_mtim, &c) || !to_filetime(st.st_atim, &a) || !to_filetime(st.st_mtim, &w))
    return 0;
  if (created != nullptr) *created = c;
  if (accessed != nullptr) *accessed = a;
  if (written != nullptr) *written = w;
  return 1;
}

int sys_set_file_time(FileHandle file, const FileTime* created, const FileTime* accessed,
                      const FileTime* written) {
  (void)created;  // Linux keeps no creation time that can be set.
  struct timespec times[2] = {from_filetime(accessed), from_filetime(written)};
  return futimens(int(file), times) == 0 ? 1 : 0;
}

namespace {

// The folders of the last members' paths as posix_map_path maps them, while
// the root, the extraction directory and the code page stay: the pass asks
// for every folder on every member's way. Relative paths, which depend on
// the current directory, are left out.
struct MappedFolder {
  std::string path;
  std::string mapped;
};

std::string mapped_folder(const char* path) {
  static MappedFolder memo[16];
  static uint32_t next = 0;
  static uint32_t generation = 0;
  if (generation != posix_path_generation()) {
    for (MappedFolder& m : memo) m.path.clear();
    generation = posix_path_generation();
  }
  bool absolute = path[0] == '/' || path[0] == '\\' || (path[0] != 0 && path[1] == ':');
  if (!absolute) return posix_map_path(path);
  for (const MappedFolder& m : memo)
    if (!m.path.empty() && m.path == path) return m.mapped;
  MappedFolder& m = memo[next++ % 16];
  m.path = path;
  m.mapped = posix_map_path(path);
  return m.mapped;
}

}  // namespace

int sys_create_directory(const char* path) {
  // mkdir fails on a name that exists, whatever it is and wherever it lies;
  // the folders of every member's path mostly do, and need no resolving.
  // The pass asks for each folder on a member's way in turn, from the top:
  // a folder on the way to the last one found or made exists too.
  static std::string last_folder;
  static uint32_t generation = 0;
  if (generation != posix_path_generation()) {
    last_folder.clear();
    generation = posix_path_generation();
  }
  if (path == nullptr || path[0] == 0) return 0;
  std::string mapped = mapped_folder(path);
  if (mapped.empty()) return 0;
  struct stat st;
  if (posix_path_within(last_folder, mapped)) {
    errno = EEXIST;
    return 0;
  }
  if (lstat(mapped.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) last_folder = mapped;
    errno = EEXIST;
    return 0;
  }
  std::string real;
  if (!posix_writable_path(path, &real, true)) return 0;
  if (mkdir(real.c_str(), 0777) != 0) return 0;
  last_folder = mapped;
  return 1;
}

uint32_t sys_max_component_length(const char* root) {
  std::string path;
  if (root != nullptr) {
    path = posix_map_path(root);
  } else {
    path = posix_extract_dir();
    if (path.empty()) path = posix_map_path(".");
  }
  if (path.empty()) return 0;
  // The volume of the nearest folder that exists.
  for (;;) {
    struct statvfs vfs;
    if (statvfs(path.c_str(), &vfs) == 0) return uint32_t(vfs.f_namemax);
    if (errno != ENOENT && errno != ENOTDIR) return 0;
    if (path == "/") return 0;
    size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}
