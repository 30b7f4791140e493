#include "pack/input_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "pack/pack_error.h"

namespace pack {
namespace {

constexpr uint16_t attribute_read_only = 0x01;
constexpr uint16_t attribute_directory = 0x10;
constexpr uint16_t attribute_archive = 0x20;

bool is_one_of(const std::vector<FileIdentity>& files, const struct stat& st) {
  for (const FileIdentity& id : files) {
    if (id.device == st.st_dev && id.inode == st.st_ino) return true;
  }
  return false;
}

struct Walk {
  const std::vector<FileIdentity>& skip;
  std::vector<PlannedMember> members;
  std::set<std::string> names;
  std::vector<FileIdentity> open_folders;  // the folders being walked

  void add(const std::string& path, const std::string& name) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw PackError(about_file(path, system_error_text()));
    if (is_one_of(skip, st)) {
      std::fprintf(stderr, "kobrix-pack: %s: left out, it is the output file\n", path.c_str());
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      add_folder(path, name, st);
    } else if (S_ISREG(st.st_mode)) {
      add_file(path, name, st);
    } else {
      throw PackError(about_file(path, "not a regular file or folder"));
    }
  }

  void add_name(const std::string& name, const std::string& path) {
    check_member_name(name, path);
    if (!names.insert(name).second) {
      throw PackError(about_file(path, "given twice (member " + name + ")"));
    }
  }

  void add_file(const std::string& path, const std::string& name, const struct stat& st) {
    if (name.empty()) throw PackError(about_file(path, "a file needs a name"));
    add_name(name, path);
    if (static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
      throw PackError(about_file(path, "4 GiB or larger; a member holds less than 4 GiB"));
    }
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) throw PackError(about_file(path, system_error_text()));
    close(fd);
    PlannedMember member;
    member.entry.name = name;
    member.path = path;
    member.size = static_cast<uint64_t>(st.st_size);
    describe_file(path, &member.entry);
    members.push_back(member);
  }

  void add_folder(const std::string& path, const std::string& name, const struct stat& st) {
    if (is_one_of(open_folders, st)) {
      throw PackError(about_file(path, "a link back to a folder that contains it"));
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) throw PackError(about_file(path, system_error_text()));
    std::vector<std::string> entries;
    while (struct dirent* e = readdir(dir)) {
      const std::string entry = e->d_name;
      if (entry != "." && entry != "..") entries.push_back(entry);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    if (!name.empty()) {
      const std::string folder_name = name + "/";
      add_name(folder_name, path);
      PlannedMember member;
      member.entry.name = folder_name;
      member.entry.directory = true;
      describe_file(path, &member.entry);
      members.push_back(member);
    }
    open_folders.push_back({st.st_dev, st.st_ino});
    const std::string prefix = name.empty() ? "" : name + "/";
    std::string base = path;
    while (!base.empty() && base.back() == '/') base.pop_back();
    for (const std::string& entry : entries) add(base + "/" + entry, prefix + entry);
    open_folders.pop_back();
  }
};

}  // namespace

std::string member_name_of(const std::string& path) {
  std::string name;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(at, slash - at);
    at = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      throw PackError(about_file(path, "a member name may not climb out with \"..\"; use -C DIR"));
    }
    if (!name.empty()) name += '/';
    name += part;
  }
  return name;
}

void check_member_name(const std::string& name, const std::string& shown_as) {
  if (name.size() > max_member_name) {
    throw PackError(about_file(shown_as, "member name of " + std::to_string(name.size()) +
                                             " bytes; the stub takes at most " +
                                             std::to_string(max_member_name)));
  }
  for (unsigned char c : name) {
    if (c == '\\' || c == 0xFF) {
      throw PackError(about_file(shown_as,
                                 "the name holds a byte the stub reads as a separator "
                                 "(backslash or 0xFF)"));
    }
  }
  if (name == "!" || name == "$") {
    throw PackError(about_file(shown_as, "the names ! and $ are kept for --message and --script"));
  }
}

void describe_file(const std::string& path, MemberEntry* entry) {
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    throw PackError(about_file(path, system_error_text()));
  }
  const int64_t written = sx.stx_mtime.tv_sec;
  entry->time = written < 0              ? 0
                : written > 0xFFFFFFFFll ? 0xFFFFFFFFu
                                         : static_cast<uint32_t>(written);
  entry->written = filetime_of(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  entry->accessed = filetime_of(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  // Where the file system keeps no creation time, the last write stands in for it.
  entry->created = (sx.stx_mask & STATX_BTIME)
                       ? filetime_of(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                       : entry->written;
  const bool folder = S_ISDIR(sx.stx_mode);
  uint16_t attributes = folder ? attribute_directory : attribute_archive;
  if (!folder && !(sx.stx_mode & S_IWUSR)) attributes |= attribute_read_only;
  entry->attributes = attributes;
}

std::vector<PlannedMember> list_members(const std::vector<InputPath>& inputs,
                                        const std::vector<FileIdentity>& skip) {
  Walk walk{skip, {}, {}, {}};
  bool noted = false;
  for (const InputPath& input : inputs) {
    if (!input.path.empty() && input.path[0] == '/' && !noted) {
      std::fprintf(stderr, "kobrix-pack: leading \"/\" removed from member names\n");
      noted = true;
    }
    const std::string name = member_name_of(input.path);
    walk.add(path_in_folder(input.folder, input.path), name);
  }
  return walk.members;
}

}  // namespace pack
