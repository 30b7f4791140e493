// Paths of the core (Windows-like, archive text) as Linux paths, and the
// containment of every call that writes: only below the root that stands in
// for C: and below the extraction directory.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

namespace {

struct PathState {
  bool root_set;
  std::string root;
  std::string extract_dir;
  // The extraction directory is the user's Linux path: the folders on the
  // way to it are real folders, not folders below the root.
  bool extract_is_linux;
};

PathState& paths() {
  static PathState state = {false, std::string(), std::string(), false};
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

// The existing part of an absolute normalised path resolved through symbolic
// links, the rest appended; false when an existing part cannot be resolved
// (a dangling or looping link).
bool resolve_existing(const std::string& path, std::string* out) {
  std::string prefix = path;
  std::string rest;
  for (;;) {
    struct stat st;
    if (lstat(prefix.c_str(), &st) == 0) break;
    size_t slash = prefix.rfind('/');
    rest = prefix.substr(slash) + rest;
    prefix = slash == 0 ? "/" : prefix.substr(0, slash);
  }
  char resolved[PATH_MAX];
  if (realpath(prefix.c_str(), resolved) == nullptr) return false;
  std::string base = resolved;
  if (base == "/" && !rest.empty()) base.clear();
  *out = base + rest;
  return true;
}

}  // namespace

void posix_set_root(const char* root) {
  PathState& state = paths();
  state.root = absolute_of(root != nullptr ? root : "");
  state.root_set = true;
}

void posix_set_extract_dir(const char* dest_dir, int rooted_is_linux) {
  PathState& state = paths();
  std::string path = posix_to_utf8(dest_dir != nullptr ? dest_dir : "");
  for (char& c : path)
    if (c == '\\') c = '/';
  state.extract_dir.clear();
  state.extract_is_linux = false;
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
  std::string out;
  size_t i = 0;
  while (i < absolute.size()) {
    size_t end = absolute.find('/', i);
    if (end == std::string::npos) end = absolute.size();
    std::string part = absolute.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
      continue;
    }
    out += "/";
    out += part;
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

bool posix_writable_path(const char* path, std::string* out, bool allow_ancestors) {
  std::string mapped = posix_map_path(path);
  if (mapped.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string resolved, root, extract;
  if (!resolve_existing(mapped, &resolved) || !resolve_existing(posix_root(), &root)) {
    errno = EACCES;
    return false;
  }
  bool inside = posix_path_within(resolved, root);
  if (!inside && !posix_extract_dir().empty() && resolve_existing(posix_extract_dir(), &extract)) {
    inside = posix_path_within(resolved, extract) ||
             (allow_ancestors && paths().extract_is_linux && posix_path_within(extract, resolved));
  }
  if (!inside) {
    errno = EACCES;
    return false;
  }
  *out = resolved;
  return true;
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
