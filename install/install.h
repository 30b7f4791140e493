// Installation actions: the script reader, file-type registration, the
// program group and the final command.
#pragma once

#include <cstdint>

#include "startup/work_area.h"

// ---- script reader ----

// Moves over bytes 1 to 31; 1 when a line follows, 0 at the end of the text.
int at_next_line(const char** pos);
// The number (1 to 10) of the key at the position, moved past it; 0 for none.
int match_script_key(const char** pos);
// Copies the rest of the line, at most size - 1 bytes.
void read_script_value(const char** pos, char* out, uint32_t size);
// Moves to the end of the line.
void skip_line_rest(const char** pos);
// Applies the key lines of wa->script while the archive is scanned.
void apply_script_settings();

// ---- actions after extraction ----

// The walk over the class and group lines, then the settings broadcast.
void run_script_actions(Window dialog);
// Starts the command after a clean extraction.
void run_command(Window dialog);
