// Shared state and helpers of the Linux side of the seam. Not for the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- code page (posix_code_page.cpp) ----

// Archive text to UTF-8. Bytes the code page cannot convert become the
// character of their Latin-1 code point (0x80 to U+0080 ... 0xFF to U+00FF).
std::string posix_to_utf8(const char* text);
// UTF-8 to archive text. A character the code page lacks becomes the byte of
// its code point when that is below 256 (the inverse of the fallback above),
// else "?"; a byte that is not valid UTF-8 passes unchanged.
std::string posix_from_utf8(const char* text);
// Copies a UTF-8 text into an archive-text buffer with the return convention
// of the Windows queries: the length written, or the size needed (terminator
// included) when it does not fit; out stays empty then.
uint32_t posix_copy_out(const char* utf8, char* out, uint32_t size);
// The same for a text already in the archive's code page.
uint32_t posix_copy_text(const std::string& text, char* out, uint32_t size);
// The code page in force.
uint32_t posix_code_page();
// Appends a code point below 0x10000 as UTF-8.
void posix_append_utf8(std::string& out, uint32_t cp);
// Length of the valid UTF-8 sequence at p (at most left bytes) and its code
// point; 0 when it is not valid.
size_t posix_decode_utf8(const unsigned char* p, size_t left, uint32_t* cp);

// ---- path mapping (posix_path_mapping.cpp) ----

// The runner's own folder for drive C:, $XDG_DATA_HOME/kobrix/drive_c
// (~/.local/share/kobrix/drive_c), as Wine keeps drive_c in its prefix;
// with make, made with the folders on the way to it when missing.
std::string posix_default_root(bool make);
// The absolute folder that stands in for C:, lexically normalised.
const std::string& posix_root();
// The absolute extraction directory, lexically normalised; empty when unset.
const std::string& posix_extract_dir();
// "." and ".." resolved and repeated "/" merged in an absolute path; ".."
// at the top stays at "/".
std::string posix_normalise(const std::string& absolute);
// 1 when path equals base or lies below it (both normalised, absolute).
int posix_path_within(const std::string& path, const std::string& base);
// A path of the core (archive text) as the absolute Linux path it stands
// for, "." and ".." resolved. "X:" and the rest go below the root, where
// ".." stops at the root. A path that begins with the user's extraction
// directory is that Linux path; another rooted path stays as it is when it
// lies below the root or the extraction directory or on the way to a Linux
// extraction directory, and goes below the root otherwise. A relative path
// goes below the current directory, or below the root when the extraction
// directory is the archive's.
std::string posix_map_path(const char* path);
// The folder that holds a path, for a call that writes: reached from the
// root, or from a Linux extraction directory outside it, one component at a
// time without following a symbolic link. Its descriptor (kept by the seam,
// valid until the next call; not to be closed) and in *name the last
// component, empty when the path is the root or the extraction directory
// itself. -1 with errno EACCES when the path lies below neither, ELOOP when
// a link is on the way, or the error of the folder that did not open.
int posix_open_target(const char* path, std::string* name);
// Whether a mapped path is a Linux extraction directory or a folder on the
// way to it, outside the root: the user's folders, made by their path.
bool posix_on_way_to_extract_dir(const std::string& mapped);
// Changes whenever what posix_map_path gives for a path may change: the
// root, the extraction directory or the code page was set.
uint32_t posix_path_generation();
void posix_paths_changed();
// An absolute Linux path as the core sees it: below the root "C:\..." with
// backslashes, elsewhere the path itself; in archive text.
std::string posix_core_path(const std::string& absolute);

// ---- process (posix_process.cpp) ----

// The program's own file as posix_set_module_path gave it (UTF-8).
const std::string& posix_module_path();

// ---- files (posix_files.cpp) ----

// open() that never hands out descriptors 0 to 2 (0 is "no handle" to the
// core) and closes on exec; -1 on failure.
int posix_open_descriptor(const char* path, int flags, int mode);
// The same for openat().
int posix_open_descriptor_at(int dir, const char* name, int flags, int mode);

// ---- terminal (posix_terminal.cpp) ----

// 1 when Ctrl-C was pressed during the extraction.
int posix_interrupted();
// From here on Ctrl-C no longer ends the process at once but cancels the
// extraction at its next progress report.
void posix_extraction_begins();
// Reads one line of standard input without its newline: 1 read, 0 end of
// input, -1 interrupted by Ctrl-C during the extraction.
int posix_read_line(std::string* line);
// Finishes a progress line left standing in place on the terminal.
void posix_end_progress_line();
// Takes every message box in place of the terminal (the listing and the
// test of a file), or none again with null; returns the answer.
typedef int (*PosixMessageHook)(const char* text, uint32_t style);
void posix_set_message_hook(PosixMessageHook hook);

// ---- installation actions: what the runner lets them do (posix_install_checks.cpp) ----

// Tells the user on standard error why an action of the archive is left out.
void posix_install_note(const std::string& what);
// An extension (after its period) or a class key: ASCII letters and digits,
// ".", "_", "+" and "-" (and blanks in a class key), beginning with a letter
// or a digit.
bool posix_plain_name(const std::string& name, bool class_key);
// Whether a "$Group=" line's fields (archive text) would change the
// structure of the commands sent for it; a note says so when they would.
bool posix_group_line_refused(const char* group, const char* title, const char* program,
                              const char* icon);

// ---- installation actions: the files a desktop reads (posix_desktop_files.cpp) ----

// ASCII letters lower-cased.
std::string posix_lower_ascii(std::string text);
// A file type: the shared-mime-info package and, with a program (archive
// text, a path of the core), the hidden desktop entry that opens such files
// with it. Extension, class key and description in archive text. True when
// a file was written.
bool posix_write_file_type(const std::string& extension, const std::string& class_key,
                           const std::string& description, const std::string& program);
// A program item: the menu entry of a group (names in UTF-8) that starts the
// program (a Linux path; a document opens with xdg-open) in its folder,
// with an icon (a Linux path) unless it is empty.
void posix_write_menu_entry(const std::string& group, const std::string& name,
                            const std::string& program, const std::string& icon);

// ---- installation actions: programs (posix_spawn.cpp) ----

// A regular file; one the user may run.
bool posix_is_file(const std::string& path);
bool posix_is_program(const std::string& path);
// The full path of a program found on PATH, or empty.
std::string posix_find_on_path(const char* name);
// Starts argv[0] (a full path) in directory, in a session of its own, and
// does not wait for it.
void posix_spawn_detached(const std::vector<std::string>& argv, const std::string& directory);
// Runs a desktop database tool on a folder when it is installed, and waits
// for it; its output is dropped.
void posix_run_tool_if_present(const char* tool, const std::string& folder);
