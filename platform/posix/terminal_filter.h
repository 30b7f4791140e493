// Text that came from an archive, made safe to print on a terminal.
#pragma once

#include <string>

// The UTF-8 text as it may reach a terminal: control characters (C0, DEL,
// the C1 range, and the marks that reorder text, U+202A to U+202E and U+2066
// to U+2069) are shown escaped as \xNN or \uNNNN, never sent; a byte that is
// not part of a valid UTF-8 sequence is shown as \xNN. With keep_line_breaks,
// "\n", "\r\n" and tabs are kept as line breaks and tabs (a message's text).
std::string terminal_safe(const std::string& utf8, bool keep_line_breaks = false);

// Why the file at the Linux path is not a self-extracting file (not a regular
// file, no MZ header, too short for the settings record, an archive offset of
// zero or past its end), or "" when it may be one. A file that cannot be
// opened gives "": the program itself reports it.
std::string sfx_file_problem(const char* path);
