#include "platform/posix/posix_cp932.h"

#include <algorithm>

#include "platform/posix/posix_internal.h"

namespace cp932 {

bool is_lead(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

namespace {

// The UTF-16 unit of the character at p, and its length in bytes (0 when it does
// not convert).
uint32_t next_char(const unsigned char* p, int* length) {
  if (!is_lead(p[0])) {
    *length = 1;
    return p[0] < 0x80 ? p[0] : single_byte[p[0]];
  }
  const unsigned char trail = p[1];
  *length = 2;
  if (trail < 0x40 || trail > 0xFC) return 0;
  const int lead = p[0] <= 0x9F ? p[0] - 0x81 : p[0] - 0xE0 + 31;
  return double_byte[lead * trail_count + (trail - 0x40)];
}

}  // namespace

std::string to_utf8(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    int length = 0;
    const uint32_t unit = next_char(p, &length);
    if (unit == 0) {
      posix_append_utf8(out, p[0]);
      ++p;
    } else {
      posix_append_utf8(out, unit);
      p += length;
    }
  }
  return out;
}

std::string from_utf8(const char* text) {
  std::string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t left = std::char_traits<char>::length(text);
  while (left > 0) {
    uint32_t cp = p[0];
    size_t n = p[0] < 0x80 ? 1 : posix_decode_utf8(p, left, &cp);
    if (n == 0) {
      out += char(p[0]);
      ++p, --left;
      continue;
    }
    p += n, left -= n;
    if (cp < 0x80) {
      out += char(cp);
      continue;
    }
    const uint32_t* end = reverse + reverse_count;
    const uint32_t* at = std::lower_bound(reverse, end, cp << 16);
    if (cp <= 0xFFFF && at != end && (*at >> 16) == cp) {
      const uint32_t bytes = *at & 0xFFFF;
      if (bytes > 0xFF) out += char(bytes >> 8);
      out += char(bytes & 0xFF);
    } else {
      out += cp < 256 ? char(cp) : '?';
    }
  }
  return out;
}

}  // namespace cp932
