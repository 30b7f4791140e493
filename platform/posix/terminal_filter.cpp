// Every text the runner shows from an archive passes here, so that an archive
// cannot move the cursor, set the window title, write the clipboard or hide
// text behind escape sequences.
#include "platform/posix/terminal_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform/posix/posix_internal.h"
#include "startup/work_area.h"

namespace {

void append_escape(std::string* out, const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  *out += text;
}

bool shown_escaped(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string terminal_safe(const std::string& utf8, bool keep_line_breaks) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data()) + i;
    uint32_t code = p[0];
    size_t length = code < 0x80 ? 1 : posix_decode_utf8(p, utf8.size() - i, &code);
    if (length == 0) {
      append_escape(&out, "\\x%02x", static_cast<unsigned char>(utf8[i]));
      ++i;
      continue;
    }
    if (keep_line_breaks && (code == '\n' || code == '\t')) {
      out += char(code);
    } else if (keep_line_breaks && code == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
      // "\r\n" is the archive's line break: shown as "\n".
    } else if (shown_escaped(code)) {
      append_escape(&out, code < 0x100 ? "\\x%02x" : "\\u%04x", code);
    } else {
      out.append(utf8, i, length);
    }
    i += length;
  }
  return out;
}

std::string sfx_file_problem(const char* path) {
  // Not blocking: a FIFO given as FILE must not hang the runner.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string();
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return "not a regular file";
  }
  unsigned char head[settings_offset + 4] = {};
  ssize_t got = pread(fd, head, sizeof head, 0);
  close(fd);
  if (got < 0) return std::string();
  if (got < 2 || head[0] != 'M' || head[1] != 'Z') return "no MZ header";
  if (uint64_t(st.st_size) < uint64_t(settings_offset) + settings_size)
    return "too short for a settings record";
  const unsigned char* p = head + settings_offset;
  uint32_t archive_offset =
      uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  if (archive_offset == 0) return "its settings record is empty";
  if (archive_offset > uint64_t(st.st_size)) return "its settings record points past its end";
  return std::string();
}
