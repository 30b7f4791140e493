// The path a member is written to, the directories on its way, and the
// shortened form shown in the dialog.
#include "archive/archive.h"
#include "startup/startup.h"

void build_target_path(char* out, const char* dir, char* name) {
  char search_name[path_size];
  text_copy(search_name, base_name(name), sizeof(search_name));
  expand_macros(name, search_name);

  if (name[0] != 0 && name[1] == ':') {
    text_copy(out, name, target_size);
  } else if (name[0] == '\\' || name[0] == '/') {
    out[0] = 0;
    if (dir[0] != 0 && dir[1] == ':') {
      out[0] = dir[0];
      out[1] = ':';
      out[2] = 0;
    }
    text_append(out, name, target_size);
  } else {
    text_copy(out, dir, target_size);
    bool drive_only = dir[0] != 0 && dir[1] == ':' && dir[2] == 0;
    if (dir[0] != 0 && !drive_only) append_separator(out, target_size);
    text_append(out, name, target_size);
  }
}

void create_parent_directories(const char* path) {
  char prefix[target_size];
  for (uint32_t i = 0; path[i] != 0 && i < target_size - 1; ++i) {
    if (path[i] == '/' && i > 0) {
      prefix[i] = 0;
      sys_create_directory(prefix);
    }
    prefix[i] = path[i];
  }
}

// out holds the larger of limit and 260 bytes.
void display_name(char* out, const char* path, uint32_t limit) {
  uint32_t length = text_length(path);
  if (length < limit) {
    text_copy(out, path, limit);
    return;
  }
  char title[256];
  if (sys_file_title(path, title, sizeof(title)) != 0) {
    text_copy(title, base_name(path), sizeof(title));
  }
  int32_t keep = int32_t(limit) - int32_t(text_length(title)) - 4;
  uint32_t used = 0;
  if (keep > 0) {
    // The first keep - 1 characters, never ending inside a double-byte character.
    uint32_t end = uint32_t(keep) - 1;
    while (used < end) {
      uint32_t step = sys_is_lead_byte(uint8_t(path[used])) ? 2 : 1;
      if (used + step > end) break;
      out[used] = path[used];
      if (step == 2) out[used + 1] = path[used + 1];
      used += step;
    }
  }
  out[used] = 0;
  uint32_t room = limit > 260 ? limit : 260;
  text_append(out, ".../", room);
  text_append(out, title, room);
}
