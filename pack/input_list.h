// Turns the PATHs of the command line into the list of members to write.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pack/code_page.h"
#include "pack/member_header.h"
#include "pack/pack_options.h"

namespace pack {

struct PlannedMember {
  MemberEntry entry;
  std::string path;   // where to read it (files only)
  uint64_t size = 0;  // its size when it was listed
};

// A file by device and inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
};

// The members for the PATHs, folders followed recursively in name order, each folder
// before its contents; their names in the code page. Throws PackError naming the file
// for a missing or unreadable input, a name the stub or Windows cannot take, two names
// that differ only in case, or a file of 4 GiB or more; UsageError naming both when an
// input is the file `output` names.
std::vector<PlannedMember> list_members(const std::vector<InputPath>& inputs,
                                        const CodePage& code_page, const std::string& output);

// Throws UsageError naming both when output and input are one file (links followed).
// what: how the input was given ("--stub", "the PATH", ...).
void check_not_output(const std::string& output, const std::string& input, const std::string& what);

// The member name of a PATH: "/" inside, no leading "/", no "." components. Throws
// PackError for ".." components.
std::string member_name_of(const std::string& path);

// Throws PackError when the stub cannot take the name (in the code page): too long, a
// backslash or 0xFF byte that is no trail byte (separators to the stub), or a
// top-level "!" or "$" (its special members).
void check_member_name(const std::string& name, const std::string& shown_as,
                       const CodePage& code_page);

// Fills the times and attributes of an entry from a file's status.
void describe_file(const std::string& path, MemberEntry* entry);

}  // namespace pack
