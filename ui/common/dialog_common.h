// Portable pieces of the main dialog and the directory chooser, shared by
// the Windows dialog and the terminal front end.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Removes every double quote from the first n bytes of text, in place.
void strip_quotes(char* text, uint32_t n);
// Cuts a trailing "/" or "\\" (not a trail byte); 1 when one was cut.
int cut_trailing_separator(char* path);
// The first steps of OK: the field text, without its double quotes, becomes
// dest_dir; one that begins with two backslashes is refused with "Invalid
// directory" (returns 0: nothing starts). Returns 1 when the pass may start.
int take_directory(Window dialog, const char* field_text);
// Flips group_checked (control 105) or class_checked (control 106); returns the new state.
int toggle_check_box(int id);
