// Archive reading and extraction: file layout and member headers, the two
// passes, target paths and file names, time conversion.
#pragma once

#include <cstdint>

#include "startup/work_area.h"

// ---- file layout and member headers ----

enum HeaderResult { header_ready, header_end, header_failed };

// Finds the archive size and seeks to archive_offset.
// Returns 0 after reporting a failure.
int locate_archive();
// Reads, checks and decodes the next member header into the work area.
HeaderResult read_member_header();
// Applies one extended header: data is its type byte, size its size field.
void parse_extended_header(uint8_t* data, uint16_t size);
// Moves past the current member's packed data; 0 after reporting.
int skip_member_data();
// Method character of the current header ('0', '4'..'7', 'd').
inline char member_method() { return char(wa->header[header_method_digit_at]); }

// ---- extraction passes ----

// Walks the archive in scan or extract mode; nonzero when not aborted.
int run_pass(Window owner, PassMode mode);
// Copies or decodes the current member's data into output_file or the
// capture, running crc over what goes to a file.
void decode_current_member();

// ---- target paths and file names ----

// Replaces every "\\", "/" and 0xFF (not a trail byte) by c; returns the base name.
char* unify_separators(char* path, char c);
// First character of s that is in set (double-byte characters stepped over), or null.
const char* find_char_in_set(const char* s, const char* set);
// The part behind the last ":", "\\", "/" or 0xFF.
const char* base_name(const char* path);
// Appends "/" unless the path ends with "\\" or "/"; path has room for size bytes.
void append_separator(char* path, uint32_t size);
// Compares at most n bytes unsigned, stopping at a difference or a NUL; 0 = equal.
int prefix_compare(const char* a, const char* b, uint32_t n);
// Replaces a leading directory macro of path (260 bytes) and unifies to "\\".
void expand_macros(char* path, const char* search_name);
// The temporary directory; its length, 0 when none, length + 1 when too long.
uint32_t temp_directory(uint32_t capacity, char* out);
// A string value under HKEY_LOCAL_MACHINE, or the default.
void read_registry_string(const char* key, const char* value, const char* fallback, char* out,
                          uint32_t size);
// Joins the directory and the member name (expanded in place) into out (516 bytes).
void build_target_path(char* out, const char* dir, char* name);
// Folds every component of a "/" path for the destination volume.
void fold_path(char* path, int long_names);
// Folds one component (zero-terminated, in place).
void fold_component(char* component, int long_names);
// Cleans a name part of at most n bytes in place; returns its new length.
uint32_t clean_name_part(char* part, uint32_t n, int long_names);
// Creates every directory on the way to the path's last "/".
void create_parent_directories(const char* path);
// The path shortened for display to fewer than limit characters.
void display_name(char* out, const char* path, uint32_t limit);

// ---- time conversion ----

uint32_t seconds_to_dos(uint32_t seconds, uint16_t* year_offset);
int32_t dos_to_seconds(uint16_t year_offset, uint32_t packed);
int weekday_of(int32_t seconds);
int seconds_to_systemtime(uint32_t seconds, SystemTime* out);
int systemtime_to_seconds(const SystemTime* in, int32_t* out);
int seconds_to_filetime(uint32_t seconds, FileTime* out);
int filetime_to_seconds(const FileTime* in, int32_t* out);
void apply_tz_offset(int32_t* value);
uint32_t existing_file_time(const char* path);
