// Paths of the core (Windows-like, archive text) as Linux paths, and the
// containment of every call that writes: only below the root that stands in
// for C: and below the extraction directory.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

namespace {

// Where a resolution of the root or the extraction directory stands.
enum Resolved : uint8_t { not_resolved, resolved_ok, resolved_failed };

struct PathState {
  bool root_set;
  std::string root;
  std::string extract_dir;
  // The extraction directory is the user's Linux path: the folders on the
  // way to it are real folders, not folders below the root.
  bool extract_is_linux;
  // The two folders resolved through symbolic links, once for every value
  // they are given: writes are held to where they were then.
  Resolved root_state;
  Resolved extract_state;
  std::string real_root;
  std::string real_extract;
};

PathState& paths() {
  static PathState state = {false,        std::string(), std::string(), false,
                            not_resolved, not_resolved,  std::string(), std::string()};
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

bool is_drive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// The kernel's name of an opened descriptor: its real path. false when it
// is not to be had (no /proc, a folder removed meanwhile).
bool descriptor_path(int fd, char* resolved) {
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, resolved, PATH_MAX - 1);
  if (n <= 0 || n >= PATH_MAX - 1 || resolved[0] != '/') return false;
  resolved[n] = 0;
  static const char deleted[] = " (deleted)";
  const size_t tail = sizeof deleted - 1;
  return !(size_t(n) >= tail && std::strcmp(resolved + n - tail, deleted) == 0);
}

// The real path of a path that opens, by the name of its descriptor: three
// calls where realpath reads every component as a link. 1 resolved, 0 the
// path does not open, -1 the name was not to be had. With keep, the
// descriptor of a resolved path is handed over instead of closed.
int kernel_real_path(const char* path, char* resolved, int* keep = nullptr) {
  int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return 0;
  bool named = descriptor_path(fd, resolved);
  if (named && keep != nullptr && fd > 2) {
    *keep = fd;
  } else {
    close(fd);
  }
  return named ? 1 : -1;
}

// The folder of the last new file resolved, as an opened descriptor and its
// real path: the next file in it needs only the descriptor's present name,
// which is the real path still when nothing moved it.
struct ResolvedFolder {
  std::string path;
  std::string real;
  int fd = -1;
};

ResolvedFolder& resolved_folder() {
  static ResolvedFolder folder;
  return folder;
}

// kernel_real_path for the folder of a new file, through the one above.
int folder_real_path(const std::string& path, char* resolved) {
  ResolvedFolder& folder = resolved_folder();
  if (folder.fd >= 0 && folder.path == path && descriptor_path(folder.fd, resolved) &&
      folder.real == resolved)
    return 1;
  if (folder.fd >= 0) close(folder.fd);
  folder.fd = -1;
  int result = kernel_real_path(path.c_str(), resolved, &folder.fd);
  if (folder.fd >= 0) {
    folder.path = path;
    folder.real = resolved;
  }
  return result;
}

// The existing part of an absolute normalised path resolved through symbolic
// links, the rest appended; false when an existing part cannot be resolved
// (a dangling or looping link). The same as lstat finding the longest
// existing prefix and realpath resolving it; below the path itself (mostly a
// new file's folder) the resolution is tried first, as a prefix that opens
// exists.
bool resolve_existing(const std::string& path, std::string* out, bool* whole_exists = nullptr) {
  std::string prefix = path;
  std::string rest;
  char resolved[PATH_MAX];
  for (;;) {
    if (!rest.empty() && folder_real_path(prefix, resolved) == 1) break;
    struct stat st;
    if (lstat(prefix.c_str(), &st) == 0) {
      if (rest.empty() && kernel_real_path(prefix.c_str(), resolved) == 1) break;
      if (realpath(prefix.c_str(), resolved) == nullptr) return false;
      break;
    }
    size_t slash = prefix.rfind('/');
    rest = prefix.substr(slash) + rest;
    prefix = slash == 0 ? "/" : prefix.substr(0, slash);
  }
  if (whole_exists != nullptr) *whole_exists = rest.empty();
  std::string base = resolved;
  if (base == "/" && !rest.empty()) base.clear();
  *out = base + rest;
  return true;
}

// A folder of the state resolved once for its present value.
bool resolve_once(const std::string& path, Resolved* state, std::string* real) {
  if (*state == not_resolved) *state = resolve_existing(path, real) ? resolved_ok : resolved_failed;
  return *state == resolved_ok;
}

}  // namespace

namespace {
uint32_t path_generation = 0;
}  // namespace

uint32_t posix_path_generation() {
  return path_generation;
}

void posix_paths_changed() {
  ++path_generation;
}

void posix_set_root(const char* root) {
  posix_paths_changed();
  PathState& state = paths();
  state.root = absolute_of(root != nullptr ? root : "");
  state.root_set = true;
  state.root_state = not_resolved;
}

void posix_set_extract_dir(const char* dest_dir, int rooted_is_linux) {
  posix_paths_changed();
  PathState& state = paths();
  std::string path = posix_to_utf8(dest_dir != nullptr ? dest_dir : "");
  for (char& c : path)
    if (c == '\\') c = '/';
  state.extract_dir.clear();
  state.extract_is_linux = false;
  state.extract_state = not_resolved;
  if (path.empty()) {
    state.extract_dir = current_directory();
  } else if (path[0] == '/' && rooted_is_linux) {
    state.extract_dir = posix_normalise(path);
    state.extract_is_linux = true;
  } else {
    state.extract_dir = posix_map_path(dest_dir);
  }
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
  const std::string& root = posix_root();
  if (is_drive(p)) return posix_normalise(root + "/" + p.substr(2));
  if (p[0] != '/') return absolute_of(p);
  std::string as_is = posix_normalise(p);
  const PathState& state = paths();
  if (posix_path_within(as_is, root) || posix_path_within(as_is, state.extract_dir) ||
      (state.extract_is_linux && posix_path_within(state.extract_dir, as_is)))
    return as_is;
  return posix_normalise(root + p);
}

namespace {

// Whether a resolved path lies below the root or the extraction directory
// (or, with allow_ancestors, on the way to a Linux extraction directory).
bool resolved_inside(const std::string& resolved, bool allow_ancestors) {
  PathState& state = paths();
  if (!resolve_once(posix_root(), &state.root_state, &state.real_root)) return false;
  if (posix_path_within(resolved, state.real_root)) return true;
  if (state.extract_dir.empty() ||
      !resolve_once(state.extract_dir, &state.extract_state, &state.real_extract))
    return false;
  const std::string& extract = state.real_extract;
  return posix_path_within(resolved, extract) ||
         (allow_ancestors && state.extract_is_linux && posix_path_within(extract, resolved));
}

}  // namespace

bool posix_writable_path(const char* path, std::string* out, bool allow_ancestors, bool* existed) {
  std::string mapped = posix_map_path(path);
  if (mapped.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string resolved;
  if (!resolve_existing(mapped, &resolved, existed) ||
      !resolved_inside(resolved, allow_ancestors)) {
    errno = EACCES;
    return false;
  }
  *out = resolved;
  return true;
}

int posix_create_in_last_folder(const char* path) {
  // The folder as the last resolution left it, and still where it was.
  ResolvedFolder& folder = resolved_folder();
  if (folder.fd < 0) return -1;
  std::string mapped = posix_map_path(path);
  size_t slash = mapped.rfind('/');
  if (slash == std::string::npos || slash + 1 >= mapped.size() ||
      mapped.compare(0, slash, folder.path) != 0 || slash != folder.path.size())
    return -1;
  char resolved[PATH_MAX];
  if (!descriptor_path(folder.fd, resolved) || folder.real != resolved) return -1;
  const char* name = mapped.c_str() + slash + 1;
  std::string target =
      folder.real == "/" ? mapped.substr(slash) : folder.real + (mapped.c_str() + slash);
  if (!resolved_inside(target, false)) return -1;
  // Only a name that does not exist yet; anything there is left to the
  // resolution of the whole path.
  int fd;
  do fd = openat(folder.fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0 && fd <= 2) {
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    fd = moved;
  }
  return fd;
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
