// Text helpers of the core. The stub links no C runtime, so the few string
// routines the program needs live here, each bounded by its capacity.
#include <cstdarg>

#include "startup/startup.h"

uint32_t text_length(const char* s) {
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

void text_copy(char* dst, const char* src, uint32_t size) {
  if (size == 0) return;
  uint32_t i = 0;
  for (; i + 1 < size && src[i] != 0; ++i) dst[i] = src[i];
  dst[i] = 0;
}

void text_append(char* dst, const char* src, uint32_t size) {
  uint32_t used = text_length(dst);
  if (used + 1 >= size) return;
  text_copy(dst + used, src, size - used);
}

int text_equal(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

void bytes_copy(void* dst, const void* src, uint32_t n) {
  uint8_t* d = static_cast<uint8_t*>(dst);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  if (d < s) {
    for (uint32_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    while (n-- > 0) d[n] = s[n];
  }
}

void bytes_fill(void* dst, uint8_t value, uint32_t n) {
  uint8_t* d = static_cast<uint8_t*>(dst);
  for (uint32_t i = 0; i < n; ++i) d[i] = value;
}

namespace {

struct Writer {
  char* out;
  uint32_t size;
  uint32_t used;
  void put(char c) {
    if (used + 1 < size) out[used++] = c;
  }
};

}  // namespace

void format_text_v(char* out, uint32_t size, const char* format, va_list args) {
  if (size == 0) return;
  Writer w{out, size, 0};
  for (const char* f = format; *f != 0; ++f) {
    if (*f != '%') {
      w.put(*f);
      continue;
    }
    ++f;
    if (*f == 'l') ++f;
    if (*f == 's') {
      const char* s = va_arg(args, const char*);
      while (s != nullptr && *s != 0) w.put(*s++);
    } else if (*f == 'u' || *f == 'd') {
      uint32_t v;
      if (*f == 'd') {
        int32_t sv = va_arg(args, int32_t);
        if (sv < 0) w.put('-');
        v = sv < 0 ? 0u - uint32_t(sv) : uint32_t(sv);
      } else {
        v = va_arg(args, uint32_t);
      }
      char digits[10];
      int n = 0;
      do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
      } while (v != 0);
      while (n > 0) w.put(digits[--n]);
    } else if (*f == '%') {
      w.put('%');
    } else if (*f == 0) {
      break;
    }
  }
  out[w.used] = 0;
}

void format_text(char* out, uint32_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  format_text_v(out, size, format, args);
  va_end(args);
}

int32_t parse_decimal(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  uint32_t value = 0;
  while (*s >= '0' && *s <= '9') value = value * 10 + uint32_t(*s++ - '0');
  return negative ? int32_t(0u - value) : int32_t(value);
}
