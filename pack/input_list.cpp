#include "pack/input_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "pack/pack_error.h"
#include "pack/windows_names.h"

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

std::string output_refusal(const std::string& output, const std::string& input,
                           const std::string& what) {
  return "-o " + shown(output) + " is the same file as " + what + " " + shown(input) +
         "; kobrix-pack never writes over its inputs";
}

struct Walk {
  const CodePage& code_page;
  const std::string& output;
  std::vector<FileIdentity> output_id;  // empty when the output does not exist yet
  std::vector<PlannedMember> members;
  std::set<std::string> names;
  CaseClashes cases;
  std::vector<FileIdentity> open_folders;  // the folders being walked
  std::string top;                         // the PATH being walked
  bool noted_kept = false;

  void add(const std::string& path, const std::string& name) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw PackError(about_file(shown(path), system_error_text()));
    if (is_one_of(output_id, st)) {
      if (path == top) throw UsageError(output_refusal(output, path, "the PATH"));
      throw UsageError(output_refusal(output, path + " inside the PATH " + top, "the file"));
    }
    if (S_ISDIR(st.st_mode)) {
      add_folder(path, name, st);
    } else if (S_ISREG(st.st_mode)) {
      add_file(path, name, st);
    } else {
      throw PackError(about_file(shown(path), "not a regular file or folder"));
    }
  }

  // The member name in the code page, checked.
  std::string add_name(const std::string& name, const std::string& path) {
    const std::string where = shown(path);
    std::string unicode;
    bool kept = false;
    if (!code_page.to_unicode(name, &unicode, &kept)) {
      throw PackError(about_file(where, "the name is neither UTF-8 nor text of code page " +
                                            std::to_string(code_page.number())));
    }
    if (kept && !noted_kept) {
      std::fprintf(stderr, "kobrix-pack: %s: the name is not UTF-8; kept as text of code page %u\n",
                   where.c_str(), code_page.number());
      noted_kept = true;
    }
    const std::string problem = windows_name_problem(unicode);
    if (!problem.empty())
      throw PackError(about_file(where, "Windows cannot hold the name: " + problem));
    const std::string encoded = code_page.encode(name, where);
    check_member_name(encoded, where, code_page);
    if (!names.insert(encoded).second) {
      throw PackError(about_file(where, "given twice (member " + shown(unicode) + ")"));
    }
    const std::string clash = cases.add(unicode);
    if (!clash.empty()) {
      throw PackError(about_file(where, "differs only in case from the member " + shown(clash) +
                                            "; on Windows they would be one file"));
    }
    return encoded;
  }

  void add_file(const std::string& path, const std::string& name, const struct stat& st) {
    if (name.empty()) throw PackError(about_file(shown(path), "a file needs a name"));
    const std::string member_name = add_name(name, path);
    if (static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
      throw PackError(about_file(shown(path), "4 GiB or larger; a member holds less than 4 GiB"));
    }
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) throw PackError(about_file(shown(path), system_error_text()));
    close(fd);
    PlannedMember member;
    member.entry.name = member_name;
    member.path = path;
    member.size = static_cast<uint64_t>(st.st_size);
    describe_file(path, &member.entry);
    members.push_back(member);
  }

  void add_folder(const std::string& path, const std::string& name, const struct stat& st) {
    if (is_one_of(open_folders, st)) {
      throw PackError(about_file(shown(path), "a link back to a folder that contains it"));
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) throw PackError(about_file(shown(path), system_error_text()));
    std::vector<std::string> entries;
    while (struct dirent* e = readdir(dir)) {
      const std::string entry = e->d_name;
      if (entry != "." && entry != "..") entries.push_back(entry);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    if (!name.empty()) {
      PlannedMember member;
      member.entry.name = add_name(name + "/", path);
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
      throw PackError(
          about_file(shown(path), "a member name may not climb out with \"..\"; use -C DIR"));
    }
    if (!name.empty()) name += '/';
    name += part;
  }
  return name;
}

void check_member_name(const std::string& name, const std::string& shown_as,
                       const CodePage& code_page) {
  if (name.size() > max_member_name) {
    throw PackError(about_file(shown_as, "member name of " + std::to_string(name.size()) +
                                             " bytes; the stub takes at most " +
                                             std::to_string(max_member_name)));
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (code_page.is_lead_byte(c)) {
      ++i;  // its trail byte may be any
      continue;
    }
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
    throw PackError(about_file(shown(path), system_error_text()));
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

void check_not_output(const std::string& output, const std::string& input,
                      const std::string& what) {
  struct stat out, in;
  if (stat(output.c_str(), &out) == 0 && stat(input.c_str(), &in) == 0 && out.st_dev == in.st_dev &&
      out.st_ino == in.st_ino) {
    throw UsageError(output_refusal(output, input, what));
  }
}

std::vector<PlannedMember> list_members(const std::vector<InputPath>& inputs,
                                        const CodePage& code_page, const std::string& output) {
  Walk walk{code_page, output, {}, {}, {}, {}, {}, "", false};
  struct stat st;
  if (!output.empty() && stat(output.c_str(), &st) == 0)
    walk.output_id.push_back({st.st_dev, st.st_ino});
  bool noted = false;
  for (const InputPath& input : inputs) {
    if (!input.path.empty() && input.path[0] == '/' && !noted) {
      std::fprintf(stderr, "kobrix-pack: leading \"/\" removed from member names\n");
      noted = true;
    }
    const std::string name = member_name_of(input.path);
    walk.top = path_in_folder(input.folder, input.path);
    walk.add(walk.top, name);
  }
  return walk.members;
}

}  // namespace pack
