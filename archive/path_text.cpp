// Small path helpers shared by the target paths, the script and the dialogs.
// A lead byte and the byte after it form one character: neither is ever taken
// for a separator.
#include "archive/archive.h"
#include "startup/startup.h"

static bool is_lead(char c) {
  return sys_is_lead_byte(uint8_t(c)) != 0;
}

char* unify_separators(char* path, char c) {
  char* base = path;
  for (char* p = path; *p != 0; ++p) {
    if (is_lead(*p)) {
      if (p[1] == 0) break;
      ++p;
      continue;
    }
    uint8_t b = uint8_t(*p);
    if (b == '\\' || b == '/' || b == dir_separator) {
      *p = c;
      base = p + 1;
    }
  }
  return base;
}

const char* find_char_in_set(const char* s, const char* set) {
  for (; *s != 0; ++s) {
    if (is_lead(*s)) {
      if (s[1] == 0) return nullptr;
      ++s;
      continue;
    }
    for (const char* m = set; *m != 0; ++m) {
      if (*m == *s) return s;
    }
  }
  return nullptr;
}

const char* base_name(const char* path) {
  const char* base = path;
  const char* found;
  while ((found = find_char_in_set(base, ":\\/\xFF")) != nullptr) base = found + 1;
  return base;
}

void append_separator(char* path, uint32_t size) {
  uint32_t length = text_length(path);
  const char* last = sys_char_prev(path, path + length);
  if (length > 0 && (*last == '\\' || *last == '/')) return;
  if (length + 1 >= size) return;
  path[length] = '/';
  path[length + 1] = 0;
}

int prefix_compare(const char* a, const char* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    int x = uint8_t(a[i]);
    int y = uint8_t(b[i]);
    if (x != y) return x - y;
    if (x == 0) break;
  }
  return 0;
}
