// What the runner lets an archive's installation actions do: they run only
// after a clean extraction, and names that would widen a file type or add
// commands of their own are refused with a note.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"

namespace {

// A field of a "$Group=" line (archive text) that would change the
// structure of the commands sent for it: brackets, parentheses, quotes,
// control characters. Looked for in UTF-8, where the trail byte of a
// double-byte character ("\x81\x5B" is a long vowel mark) is no bracket.
bool structural_field(const char* field) {
  for (unsigned char c : posix_to_utf8(field))
    if (c < 0x20 || c == 0x7F || std::strchr("[]()\"", c) != nullptr) return true;
  return false;
}

}  // namespace

int sys_actions_after_stop() {
  return 0;
}

void posix_install_note(const std::string& what) {
  posix_end_progress_line();
  std::fprintf(stderr, "kobrix: %s\n", terminal_safe(what).c_str());
  std::fflush(stderr);
}

bool posix_plain_name(const std::string& name, bool class_key) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && (i == 0 || std::strchr(class_key ? "._+- " : "._+-", c) == nullptr)) return false;
  }
  return true;
}

bool posix_group_line_refused(const char* group, const char* title, const char* program,
                              const char* icon) {
  for (const char* field : {group, title, program, icon}) {
    if (!structural_field(field)) continue;
    posix_install_note("\"$Group=\" line for " + posix_to_utf8(title) +
                       " skipped: its fields hold brackets, parentheses or quotes");
    return true;
  }
  return false;
}
