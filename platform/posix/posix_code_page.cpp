// The archive's code page: conversion to and from UTF-8, lead bytes, lower case.
#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_cp932.h"
#include "platform/posix/posix_internal.h"

namespace {

struct CodePageState {
  uint32_t code_page;
  iconv_t to_utf8;
  iconv_t from_utf8;
  // Code page 932, the default, converts with built-in tables: a converter
  // loaded at run time costs more memory than the whole runner.
  bool built_in;
  // Bytes 1 to 127 convert to themselves both ways: texts of them alone are
  // copied as they stand.
  bool keeps_all_ascii;
  bool lead[256];
};

CodePageState state = {0, (iconv_t)-1, (iconv_t)-1, false, false, {}};

void close_converters() {
  if (state.to_utf8 != (iconv_t)-1) iconv_close(state.to_utf8);
  if (state.from_utf8 != (iconv_t)-1) iconv_close(state.from_utf8);
  state.to_utf8 = state.from_utf8 = (iconv_t)-1;
}

void set_lead_range(bool* lead, int first, int last) {
  for (int b = first; b <= last; ++b) lead[b] = true;
}

// Lead bytes of the double-byte Windows code pages.
bool known_lead_bytes(uint32_t code_page, bool* lead) {
  switch (code_page) {
    case 932:
      set_lead_range(lead, 0x81, 0x9F);
      set_lead_range(lead, 0xE0, 0xFC);
      return true;
    case 936:
    case 949:
    case 950:
      set_lead_range(lead, 0x81, 0xFE);
      return true;
    case 1361:
      set_lead_range(lead, 0x84, 0xD3);
      set_lead_range(lead, 0xD8, 0xDE);
      set_lead_range(lead, 0xE0, 0xF9);
      return true;
    case 65001:  // UTF-8: no byte of a longer sequence is ASCII, so none is taken as a lead
      return true;
    default:
      return false;
  }
}

// A byte that iconv reports as an incomplete sequence on its own opens a
// double-byte character.
void probe_lead_bytes(iconv_t cd, bool* lead) {
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in = char(b);
    char out[16];
    char* in_p = &in;
    size_t in_left = 1;
    char* out_p = out;
    size_t out_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == size_t(-1) && errno == EINVAL)
      lead[b] = true;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
}

// Bytes first to last go through cd unchanged. The printable range must (the
// core looks at names and separators as ASCII bytes); when all of 1 to 127
// do both ways, ASCII texts are copied as they stand.
bool converts_to_itself(iconv_t cd, int first, int last) {
  char in[127];
  const size_t n = size_t(last - first + 1);
  for (size_t i = 0; i < n; ++i) in[i] = char(first + int(i));
  char out[127 * 4];
  char* in_p = in;
  size_t in_left = n;
  char* out_p = out;
  size_t out_left = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == size_t(-1)) return false;
  // 1258 holds the last letter back for a combining mark that may follow.
  if (iconv(cd, nullptr, nullptr, &out_p, &out_left) == size_t(-1)) return false;
  return sizeof out - out_left == n && std::memcmp(in, out, n) == 0;
}

// The default code page.
void use_built_in_932() {
  state.code_page = 932;
  state.built_in = true;
  state.keeps_all_ascii = true;
  std::memset(state.lead, 0, sizeof state.lead);
  known_lead_bytes(932, state.lead);
}

void ensure_code_page() {
  if (state.code_page == 0) use_built_in_932();
}

// Whether text can be copied as it stands.
bool plain_ascii(const char* text) {
  if (!state.keeps_all_ascii) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
    if (*p >= 0x80) return false;
  return true;
}

// Runs cd over text; at a byte it cannot convert, fallback appends the
// replacement and returns how many input bytes it stands for.
template <typename Fallback>
std::string convert(iconv_t cd, const char* text, Fallback fallback) {
  std::string result;
  size_t in_left = std::strlen(text);
  char* in_p = const_cast<char*>(text);
  char buffer[1024];
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  while (in_left > 0) {
    char* out_p = buffer;
    size_t out_left = sizeof buffer;
    size_t rc = iconv(cd, &in_p, &in_left, &out_p, &out_left);
    result.append(buffer, size_t(out_p - buffer));
    if (rc != size_t(-1)) break;
    if (errno == E2BIG) continue;
    size_t used = fallback(result, reinterpret_cast<const unsigned char*>(in_p), in_left);
    in_p += used;
    in_left -= used;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* out_p = buffer;
  size_t out_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, &out_p, &out_left);
  result.append(buffer, size_t(out_p - buffer));
  return result;
}

}  // namespace

// Appends code point cp as UTF-8.
void posix_append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at p (at most left bytes) and its code
// point; 0 when it is not valid.
size_t posix_decode_utf8(const unsigned char* p, size_t left, uint32_t* cp) {
  unsigned char c = p[0];
  size_t n;
  uint32_t v, min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, v = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, v = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (p[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

int posix_set_code_page(uint32_t code_page) {
  if (code_page == 1200 || code_page == 1201) return 0;
  if (code_page == 932) {
    close_converters();
    posix_paths_changed();
    use_built_in_932();
    return 1;
  }
  char name[24];
  if (code_page == 65001)
    std::snprintf(name, sizeof name, "UTF-8");  // names other tools wrote in UTF-8
  else
    std::snprintf(name, sizeof name, "CP%u", unsigned(code_page));
  iconv_t to_utf8 = iconv_open("UTF-8", name);
  if (to_utf8 == (iconv_t)-1) return 0;
  iconv_t from_utf8 = iconv_open(name, "UTF-8");
  if (from_utf8 == (iconv_t)-1 || !converts_to_itself(to_utf8, 0x20, 0x7E)) {
    iconv_close(to_utf8);
    if (from_utf8 != (iconv_t)-1) iconv_close(from_utf8);
    return 0;
  }
  bool lead[256] = {};
  if (!known_lead_bytes(code_page, lead)) probe_lead_bytes(to_utf8, lead);
  close_converters();
  posix_paths_changed();
  state.code_page = code_page;
  state.to_utf8 = to_utf8;
  state.from_utf8 = from_utf8;
  state.built_in = false;
  state.keeps_all_ascii =
      converts_to_itself(to_utf8, 1, 127) && converts_to_itself(from_utf8, 1, 127);
  std::memcpy(state.lead, lead, sizeof lead);
  return 1;
}

uint32_t posix_code_page() {
  ensure_code_page();
  return state.code_page;
}

std::string posix_to_utf8(const char* text) {
  ensure_code_page();
  if (plain_ascii(text)) return std::string(text);
  if (state.built_in) return cp932::to_utf8(text);
  return convert(state.to_utf8, text, [](std::string& out, const unsigned char* p, size_t) {
    posix_append_utf8(out, p[0]);
    return size_t(1);
  });
}

std::string posix_from_utf8(const char* text) {
  ensure_code_page();
  if (plain_ascii(text)) return std::string(text);
  if (state.built_in) return cp932::from_utf8(text);
  return convert(state.from_utf8, text, [](std::string& out, const unsigned char* p, size_t left) {
    uint32_t cp = 0;
    size_t n = posix_decode_utf8(p, left, &cp);
    if (n == 0) {
      out += char(p[0]);
      return size_t(1);
    }
    out += cp < 256 ? char(cp) : '?';
    return n;
  });
}

uint32_t posix_copy_out(const char* utf8, char* out, uint32_t size) {
  return posix_copy_text(posix_from_utf8(utf8), out, size);
}

uint32_t posix_copy_text(const std::string& text, char* out, uint32_t size) {
  if (text.size() + 1 > size) {
    if (size > 0) out[0] = 0;
    return uint32_t(text.size() + 1);
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return uint32_t(text.size());
}

int sys_is_lead_byte(uint8_t byte) {
  ensure_code_page();
  return state.lead[byte] ? 1 : 0;
}

const char* sys_char_prev(const char* start, const char* current) {
  if (current <= start) return start;
  const char* p = start;
  for (;;) {
    const char* next = p + (sys_is_lead_byte(uint8_t(*p)) && p[1] != 0 ? 2 : 1);
    if (next >= current) return p;
    p = next;
  }
}

uint8_t sys_lower_char(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return uint8_t(c + 32);
  if (posix_code_page() == 1252) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || c == 0x8A || c == 0x8C || c == 0x8E)
      return uint8_t(c + (c >= 0xC0 ? 0x20 : 0x10));
    if (c == 0x9F) return 0xFF;
  }
  return c;
}

void sys_lower_text(char* text) {
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) {
    if (sys_is_lead_byte(*p)) {
      if (p[1] == 0) break;
      ++p;
      continue;
    }
    *p = sys_lower_char(*p);
  }
}
