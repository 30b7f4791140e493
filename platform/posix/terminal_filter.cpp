// Every text the runner shows from an archive passes here, so that an archive
// cannot move the cursor, set the window title, write the clipboard or hide
// text behind escape sequences.
#include "platform/posix/terminal_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "startup/work_area.h"

namespace {

void append_escape(std::string* out, const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  *out += text;
}

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the
// byte starts none (overlong forms and surrogates included).
size_t utf8_sequence(const std::string& s, size_t i, uint32_t* code) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t length = c < 0x80                 ? 1
                  : c >= 0xC2 && c <= 0xDF ? 2
                  : c >= 0xE0 && c <= 0xEF ? 3
                  : c >= 0xF0 && c <= 0xF4 ? 4
                                           : 0;
  if (length == 0 || i + length > s.size()) return 0;
  uint32_t value = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    value = value << 6 | (t & 0x3F);
  }
  static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *code = value;
  return length;
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
    uint32_t code = 0;
    size_t length = utf8_sequence(utf8, i, &code);
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
