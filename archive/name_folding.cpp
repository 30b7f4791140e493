// Makes path components valid for the destination volume: 8.3 names with
// their invalid characters replaced on volumes without long names, only the
// invalid characters replaced on the others.
#include "archive/archive.h"
#include "startup/startup.h"

namespace {

bool is_invalid(uint8_t c, int long_names) {
  const char* set = long_names ? "\"*/:<>?\\|" : "\"*+,./:;<=>?[\\]|";
  if (!long_names && (c == 0xFF || (c >= 0x01 && c <= 0x20))) return true;
  for (const char* m = set; *m != 0; ++m) {
    if (uint8_t(*m) == c) return true;
  }
  return false;
}

}  // namespace

uint32_t clean_name_part(char* part, uint32_t n, int long_names) {
  uint32_t i = 0;
  while (i < n && part[i] != 0) {
    if (sys_is_lead_byte(uint8_t(part[i]))) {
      // A double-byte character that does not fit whole is left out.
      if (i + 1 >= n || part[i + 1] == 0) break;
      i += 2;
      continue;
    }
    if (is_invalid(uint8_t(part[i]), long_names)) part[i] = '_';
    ++i;
  }
  part[i] = 0;
  return i;
}

void fold_component(char* component, int long_names) {
  if (long_names) {
    clean_name_part(component, 255, long_names);
    return;
  }
  char* dot = nullptr;
  for (char* p = component; *p != 0; ++p) {
    if (*p == '.') dot = p;
  }
  if (dot == nullptr) {
    clean_name_part(component, 8, long_names);
    return;
  }
  // Name before the last ".", at most 8 bytes (any "." in it is invalid
  // here and becomes "_"), then the extension of at most 3.
  *dot = 0;
  uint32_t name_length = clean_name_part(component, 8, long_names);
  char* extension = dot + 1;
  uint32_t extension_length = clean_name_part(extension, 3, long_names);
  char* out = component + name_length;
  *out++ = '.';
  for (uint32_t i = 0; i < extension_length; ++i) *out++ = extension[i];
  *out = 0;
}

void fold_path(char* path, int long_names) {
  // Components only ever shrink, so the path is rewritten in place: w never
  // passes r. A leading "/" is an empty first component and stays.
  char* w = path;
  const char* r = path;
  for (;;) {
    char* component = w;
    while (*r != 0 && *r != '/') *w++ = *r++;
    char separator = *r;
    *w = 0;
    fold_component(component, long_names);
    w = component + text_length(component);
    if (separator == 0) break;
    *w++ = '/';
    ++r;
  }
}
