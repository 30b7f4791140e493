// Member files and directories, their attributes and times.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
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
  return posix_open_descriptor_at(AT_FDCWD, path, flags, mode);
}

int posix_open_descriptor_at(int dir, const char* name, int flags, int mode) {
  int fd;
  do fd = openat(dir, name, flags | O_CLOEXEC, mode);
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

namespace {

// The file the last sys_create_file made: its path as the core named it,
// its folder and its identity, so that deleting it or giving it its
// attributes acts on that file, wherever its folder went meanwhile.
struct CreatedFile {
  std::string path;
  std::string name;
  int folder = -1;
  uint32_t generation = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

CreatedFile& created_file() {
  static CreatedFile file;
  return file;
}

// The folder and last component of a path: the one the last file was
// created in when path names that file, else the way from the anchor.
int target_folder(const char* path, std::string* name) {
  const CreatedFile& created = created_file();
  if (created.folder >= 0 && created.path == path &&
      created.generation == posix_path_generation()) {
    *name = created.name;
    return created.folder;
  }
  return posix_open_target(path, name);
}

// lstat of a path below the root or the extraction directory, through no
// link; of the user's folders on the way to the extraction directory, stat.
bool status_of(const char* path, struct stat* st) {
  std::string name;
  int folder = target_folder(path, &name);
  if (folder >= 0) {
    return fstatat(folder, name.c_str(), st, name.empty() ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW) ==
           0;
  }
  std::string mapped = posix_map_path(path);
  return posix_on_way_to_extract_dir(mapped) && stat(mapped.c_str(), st) == 0;
}

}  // namespace

FileHandle sys_create_file(const char* path) {
  std::string name;
  int folder = posix_open_target(path, &name);
  if (folder < 0) return invalid_file;
  if (name.empty()) {
    errno = EISDIR;
    return invalid_file;
  }
  // What is there is replaced by a new file, never written through: a hard
  // link to a file elsewhere keeps that file as it is. A read-only file is
  // not replaced, whoever runs the program; a link or a folder is not either.
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    bool read_only = S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
    if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode) || read_only) {
      errno = S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? EISDIR : EACCES;
      return invalid_file;
    }
    if (unlinkat(folder, name.c_str(), 0) != 0) return invalid_file;
  }
  int fd = posix_open_descriptor_at(folder, name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0666);
  if (fd < 0) return invalid_file;
  CreatedFile& created = created_file();
  if (created.folder >= 0) close(created.folder);
  created.folder = fcntl(folder, F_DUPFD_CLOEXEC, 3);
  created.path = path;
  created.name = name;
  created.generation = posix_path_generation();
  if (fstat(fd, &st) == 0) created.device = st.st_dev, created.inode = st.st_ino;
  return FileHandle(fd);
}

FileHandle sys_open_existing_file(const char* path) {
  std::string name;
  int folder = target_folder(path, &name);
  if (folder < 0 || name.empty()) return invalid_file;
  int fd = posix_open_descriptor_at(folder, name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
  if (fd < 0) return invalid_file;
  // Only files open as files.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
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
  std::string name;
  int folder = target_folder(path, &name);
  if (folder < 0 || name.empty()) return 0;
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return 0;
  // The file this program created is deleted, not another put in its place.
  const CreatedFile& created = created_file();
  if (folder == created.folder && (st.st_dev != created.device || st.st_ino != created.inode)) {
    errno = ENOENT;
    return 0;
  }
  return unlinkat(folder, name.c_str(), 0) == 0 ? 1 : 0;
}

uint32_t sys_get_file_attributes(const char* path) {
  struct stat st;
  if (!status_of(path, &st)) return attr_invalid;
  if (S_ISDIR(st.st_mode)) return attr_directory;
  return (st.st_mode & 0222) == 0 ? uint32_t(attr_read_only) : 0x20u;  // read-only or archive
}

int sys_set_file_attributes(const char* path, uint32_t attributes) {
  std::string name;
  int folder = target_folder(path, &name);
  if (folder < 0) return 0;
  if (name.empty()) return 1;  // a folder
  // The file is opened through no link and its mode set on what opened; one
  // that may not be read is opened for its path alone and changed through
  // its name in /proc.
  int fd = posix_open_descriptor_at(folder, name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
  bool path_only = fd < 0 && errno == EACCES;
  if (path_only) fd = posix_open_descriptor_at(folder, name.c_str(), O_PATH | O_NOFOLLOW, 0);
  if (fd < 0) return 0;
  struct stat st;
  int ok = 0;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ok = 1;  // only read-only has a place on Linux, and only on files
  } else if (S_ISREG(st.st_mode)) {
    mode_t mode = st.st_mode & 07777;
    if (attributes & attr_read_only)
      mode &= ~mode_t(0222);
    else
      mode |= mode_t(0200) | (mode_t(0022) & ~process_umask() & ((mode & 0044) >> 1));
    char link[32];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ok = (path_only ? chmod(link, mode) : fchmod(fd, mode)) == 0;
  }
  close(fd);
  return ok;
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
  // mkdir fails on a name that exists, whatever it is; the folders of every
  // member's path mostly do. The pass asks for each folder on a member's way
  // in turn, from the top: a folder on the way to the last one found or
  // made exists too.
  static std::string last_made;
  static uint32_t generation = 0;
  if (generation != posix_path_generation()) {
    last_made.clear();
    generation = posix_path_generation();
  }
  if (path == nullptr || path[0] == 0) return 0;
  std::string mapped = mapped_folder(path);
  if (mapped.empty()) return 0;
  if (posix_path_within(last_made, mapped)) {
    errno = EEXIST;
    return 0;
  }
  std::string name;
  int folder = posix_open_target(path, &name);
  int made;
  if (folder >= 0) {
    if (name.empty()) {
      errno = EEXIST;
      made = -1;
    } else {
      made = mkdirat(folder, name.c_str(), 0777);
    }
  } else if (posix_on_way_to_extract_dir(mapped)) {
    // The user's directory and the folders on the way to it, by their path
    // as the user gave it.
    made = mkdir(mapped.c_str(), 0777);
  } else {
    return 0;
  }
  int error = errno;
  struct stat st;
  if (made == 0 || (error == EEXIST && status_of(path, &st) && S_ISDIR(st.st_mode)))
    last_made = mapped;
  errno = error;
  return made == 0 ? 1 : 0;
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
