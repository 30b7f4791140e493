// Start-up, command line, messages, progress and the orderly exit.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "startup/work_area.h"

// ---- start-up and command line ----

// The argument text behind the program's own name and the blanks after it.
const char* skip_program_name(const char* command_line);
// Splits the argument text into at most 1024 tokens without their quotes;
// *tokens receives the heap array. Returns the count.
int tokenize_command_line(const char* text, char*** tokens);
// Frees the tokens from the last to the first, then the array.
void free_tokens(char** tokens, int count);
// Reads the option tokens; a directory argument goes to wa->text and ends the reading.
void read_options(char** tokens, int count);
// What read_options leaves in auto_start ("-n", "-n-") and skip_if_not_newer
// ("-c", "-c-") until the settings record is applied: apart from 0 and 1, so
// that an option given can be told from the record's default.
enum : int32_t {
  auto_start_option_on = 11,   // "-n"
  auto_start_option_off = 12,  // "-n-"
  date_check_option_on = 10,   // "-c-"
  date_check_option_off = 11,  // "-c"
};
// Reads the settings record of the program's own file into wa->settings.
void read_settings();
// One run of the self-extracting file; returns the process exit code.
int start_program(void* module_instance, const char* arguments);

// ---- messages, progress and exit ----

// Shows "\"name\" message" with the stop icon, caption window_title, owner dialog.
void report_file_error(const char* message, const char* name);
// report_file_error, then aborted set; returns 0.
int report_aborting(const char* message, const char* name);
// The reporters: each reports, sets aborted and returns 0.
int report_read_error();
int report_unexpected_eof();
int report_bad_header();
int report_open_error(const char* name);
// "Not enough memory" with no file name; sets aborted, returns 0.
int report_no_memory();
// Closes and deletes the member being written, closes the archive, ends the process.
[[noreturn]] void fatal_exit(int status);
// "Extract... N%" into control 102, pumps the dialog, honours Cancel.
void show_progress(uint32_t done, uint32_t total);
// Dispatches every waiting message of the thread without blocking.
void drain_messages(Window window);

// ---- text helpers (the core links no C runtime) ----

uint32_t text_length(const char* s);
// Copies src into dst of capacity size, cut at size - 1 characters.
void text_copy(char* dst, const char* src, uint32_t size);
// Appends src to dst of capacity size, cut at size - 1 characters in all.
void text_append(char* dst, const char* src, uint32_t size);
// 1 when the two texts are equal byte for byte.
int text_equal(const char* a, const char* b);
void bytes_copy(void* dst, const void* src, uint32_t n);
void bytes_fill(void* dst, uint8_t value, uint32_t n);
// printf-style formatting of %s, %u, %lu and %% into out of capacity size.
void format_text(char* out, uint32_t size, const char* format, ...);
void format_text_v(char* out, uint32_t size, const char* format, va_list args);
// atoi: leading white space, an optional sign, decimal digits.
int32_t parse_decimal(const char* s);
