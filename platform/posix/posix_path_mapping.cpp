// Paths of the core (Windows-like, archive text) as Linux paths, and the
// way to them: every call that writes reaches its file from the root that
// stands in for C: or from the extraction directory, one component at a
// time, through no symbolic link.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/posix_config.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"

namespace {

struct PathState {
  bool root_set;
  std::string root;
  std::string extract_dir;
  // The extraction directory as the user typed it (slashes, no trailing
  // one): a path that begins with it is taken as the Linux path it is.
  std::string extract_text;
  // The extraction directory is the user's Linux path: the folders on the
  // way to it are real folders, not folders below the root.
  bool extract_is_linux;
  // The extraction directory is the archive's: a relative path it names is
  // relative to C:\, never to the current directory.
  bool relative_in_root;
  // The root and a Linux extraction directory opened (links followed: the
  // user chose them), once for every value they are given; -1 not yet.
  int root_fd;
  int extract_fd;
  // Their real paths, as the kernel names the descriptors; empty when that
  // name is not to be had.
  std::string root_real;
  std::string extract_real;
};

PathState& paths() {
  static PathState state = {false, std::string(), std::string(), std::string(), false, false, -1,
                            -1,    std::string(), std::string()};
  return state;
}

std::string current_directory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return "/";
  return buffer;
}

// A UTF-8 Linux path made absolute against the current directory.
std::string absolute_of(const std::string& path) {
  if (!path.empty() && path[0] == '/') return posix_normalise(path);
  return posix_normalise(current_directory() + "/" + path);
}

// A path below the root: ".." stops at the root, as "C:\.." is "C:\".
std::string below_root(const std::string& rest) {
  const std::string& root = posix_root();
  std::string inner = posix_normalise("/" + rest);
  if (inner == "/") return root;
  return root == "/" ? inner : root + inner;
}

bool is_drive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// Whether text begins with the folder prefix, whole components only.
bool begins_with_folder(const std::string& text, const std::string& prefix) {
  if (prefix.empty() || text.compare(0, prefix.size(), prefix) != 0) return false;
  return text.size() == prefix.size() || text[prefix.size()] == '/' || prefix == "/";
}

void close_descriptor(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// A descriptor above 2 (0 is "no handle" to the core), closed on exec.
int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

// One folder below dir, opened without following a symbolic link.
int open_folder_at(int dir, const char* name) {
  int fd;
  do fd = openat(dir, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOTDIR) {
    struct stat st;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
  }
  return above_standard(fd);
}

// The kernel's name of an opened descriptor: its real path. false when it
// is not to be had (no /proc, a folder removed meanwhile).
bool descriptor_path(int fd, std::string* out) {
  char link[32];
  char resolved[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, resolved, sizeof resolved - 1);
  if (n <= 0 || n >= ssize_t(sizeof resolved) - 1 || resolved[0] != '/') return false;
  resolved[n] = 0;
  static const char deleted[] = " (deleted)";
  const size_t tail = sizeof deleted - 1;
  if (size_t(n) >= tail && std::strcmp(resolved + n - tail, deleted) == 0) return false;
  out->assign(resolved, size_t(n));
  return true;
}

// The root or the extraction directory, opened once it exists.
int anchor_descriptor(const std::string& path, int* fd, std::string* real) {
  if (*fd < 0) {
    *fd = above_standard(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (*fd >= 0 && !descriptor_path(*fd, real)) real->clear();
  }
  return *fd;
}

// The folder of the last target reached: its mapped path, and its real path
// then. The members of a folder come one after another; the folder is used
// again while the kernel names it where it was (moved away, with a link in
// its place, it is not written through).
struct LastFolder {
  std::string path;
  std::string real;
  int fd = -1;
};

LastFolder& last_folder() {
  static LastFolder folder;
  return folder;
}

uint32_t path_generation = 0;

}  // namespace

uint32_t posix_path_generation() {
  return path_generation;
}

void posix_paths_changed() {
  ++path_generation;
  close_descriptor(&last_folder().fd);
}

void posix_set_root(const char* root) {
  posix_paths_changed();
  PathState& state = paths();
  state.root = absolute_of(root != nullptr ? root : "");
  state.root_set = true;
  close_descriptor(&state.root_fd);
  state.root_real.clear();
}

void posix_set_extract_dir(const char* dest_dir, int from_user) {
  posix_paths_changed();
  PathState& state = paths();
  std::string path = posix_to_utf8(dest_dir != nullptr ? dest_dir : "");
  for (char& c : path)
    if (c == '\\') c = '/';
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  close_descriptor(&state.extract_fd);
  state.extract_real.clear();
  state.extract_text.clear();
  state.relative_in_root = false;
  state.extract_is_linux = false;
  if (path.empty()) {
    // The current directory, where the user ran the program.
    state.extract_dir = current_directory();
    state.extract_is_linux = true;
  } else if (is_drive(path)) {
    state.extract_dir = below_root(path.substr(2));
    state.relative_in_root = !from_user;
  } else if (!from_user) {
    // The archive's own directory, rooted or relative: below the root.
    state.extract_dir = below_root(path);
    state.relative_in_root = true;
  } else {
    state.extract_dir = absolute_of(path);
    state.extract_text = path;
    state.extract_is_linux = true;
  }
}

std::string posix_default_root(bool make) {
  std::string root = posix_data_home() + "/kobrix/drive_c";
  if (!make) return root;
  for (size_t slash = root.find('/', 1); slash != std::string::npos;
       slash = root.find('/', slash + 1))
    mkdir(root.substr(0, slash).c_str(), 0700);
  mkdir(root.c_str(), 0700);
  return root;
}

const std::string& posix_root() {
  PathState& state = paths();
  if (!state.root_set) posix_set_root(".");
  return state.root;
}

const std::string& posix_extract_dir() {
  return paths().extract_dir;
}

std::string posix_normalise(const std::string& absolute) {
  // One pass: each component is appended or, for "..", the last one taken
  // off again; "." and empty components are left out.
  std::string out;
  out.reserve(absolute.size() + 1);
  const char* p = absolute.data();
  const char* const end = p + absolute.size();
  while (p < end) {
    const char* part = p;
    while (p < end && *p != '/') ++p;
    size_t length = size_t(p - part);
    if (p < end) ++p;
    if (length == 0 || (length == 1 && part[0] == '.')) continue;
    if (length == 2 && part[0] == '.' && part[1] == '.') {
      size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
      continue;
    }
    out += '/';
    out.append(part, length);
  }
  return out.empty() ? "/" : out;
}

int posix_path_within(const std::string& path, const std::string& base) {
  if (base.empty()) return 0;
  if (base == "/") return path.size() > 0 && path[0] == '/';
  if (path.compare(0, base.size(), base) != 0) return 0;
  return path.size() == base.size() || path[base.size()] == '/';
}

std::string posix_map_path(const char* path) {
  if (path == nullptr || path[0] == 0) return std::string();
  std::string p = posix_to_utf8(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  const PathState& state = paths();
  const std::string& root = posix_root();
  if (is_drive(p)) return below_root(p.substr(2));
  // The user's directory and what lies below it, ".." resolved where it
  // stands: a member that climbs out of it is refused, not moved.
  if (state.extract_is_linux && begins_with_folder(p, state.extract_text)) return absolute_of(p);
  if (p[0] != '/') return state.relative_in_root ? below_root(p) : absolute_of(p);
  std::string as_is = posix_normalise(p);
  if (posix_path_within(as_is, root) || posix_path_within(as_is, state.extract_dir) ||
      (state.extract_is_linux && posix_path_within(state.extract_dir, as_is)))
    return as_is;
  return below_root(p);
}

namespace {

// The anchor of a mapped path: the root, or a Linux extraction directory
// that lies outside it, with the rest of the path below it; -1 with errno
// EACCES when the path lies below neither.
// *real is the anchor's real path, empty when not known.
int anchor_of(const std::string& mapped, std::string* rest, const std::string** real) {
  PathState& state = paths();
  const std::string& root = posix_root();
  const std::string* base = nullptr;
  int fd;
  if (posix_path_within(mapped, root)) {
    base = &root;
    fd = anchor_descriptor(root, &state.root_fd, &state.root_real);
    *real = &state.root_real;
  } else if (state.extract_is_linux && posix_path_within(mapped, state.extract_dir)) {
    base = &state.extract_dir;
    fd = anchor_descriptor(state.extract_dir, &state.extract_fd, &state.extract_real);
    *real = &state.extract_real;
  } else {
    errno = EACCES;
    return -1;
  }
  *rest =
      *base == "/" ? mapped.substr(1) : mapped.substr(std::min(mapped.size(), base->size() + 1));
  return fd;
}

// Whether the last folder is still where it was reached.
bool last_folder_in_place() {
  std::string now;
  const LastFolder& last = last_folder();
  return last.fd >= 0 && !last.real.empty() && descriptor_path(last.fd, &now) && now == last.real;
}

}  // namespace

int posix_open_target(const char* path, std::string* name) {
  std::string mapped = posix_map_path(path);
  if (mapped.empty()) {
    errno = ENOENT;
    return -1;
  }
  std::string rest;
  const std::string* anchor_real = nullptr;
  int anchor = anchor_of(mapped, &rest, &anchor_real);
  if (anchor < 0) return -1;
  size_t slash = rest.rfind('/');
  *name = slash == std::string::npos ? rest : rest.substr(slash + 1);
  if (slash == std::string::npos) return anchor;
  // The folder from the last one reached when that lies on its way, else
  // from the anchor; one component at a time.
  std::string folder = mapped.substr(0, mapped.size() - name->size() - 1);
  const size_t anchor_length = mapped.size() - rest.size();  // the anchor and its "/"
  LastFolder& last = last_folder();
  bool on_way = last.fd >= 0 && last.path.size() >= anchor_length &&
                posix_path_within(folder, last.path) && last_folder_in_place();
  if (on_way && last.path == folder) return last.fd;
  size_t done = 0;
  int dir = anchor;
  if (on_way) {
    done = last.path.size() + 1 - anchor_length;
    dir = last.fd;
  }
  int opened = -1;
  while (done < slash) {
    size_t end = rest.find('/', done);
    int next = open_folder_at(dir, rest.substr(done, end - done).c_str());
    if (opened >= 0) close(opened);
    if (next < 0) return -1;
    dir = opened = next;
    done = end + 1;
  }
  close_descriptor(&last.fd);
  last.fd = opened;
  last.path = folder;
  last.real.clear();
  if (!anchor_real->empty())
    last.real = (*anchor_real == "/" ? "" : *anchor_real) + "/" + rest.substr(0, slash);
  return opened;
}

bool posix_on_way_to_extract_dir(const std::string& mapped) {
  const PathState& state = paths();
  return state.extract_is_linux && posix_path_within(state.extract_dir, mapped) &&
         !posix_path_within(mapped, posix_root());
}

std::string posix_core_path(const std::string& absolute) {
  const std::string& root = posix_root();
  if (!posix_path_within(absolute, root)) return posix_from_utf8(absolute.c_str());
  std::string rest = absolute.substr(root == "/" ? 0 : root.size());
  std::string core = "C:" + (rest.empty() ? std::string("/") : rest);
  for (char& c : core)
    if (c == '/') c = '\\';
  return posix_from_utf8(core.c_str());
}
