// Settings of the Linux side of the seam, made by the runner (or a test)
// before start-up. Texts passed in are UTF-8 Linux paths.
#pragma once

#include <cstdint>

// The folder that stands in for drive C: (the runner's default is
// $XDG_DATA_HOME/kobrix/drive_c).
void posix_set_root(const char* root);
// The archive's code page for names and texts (932, 1252, ...); 0 when the
// system cannot convert it, and the previous one stays.
int posix_set_code_page(uint32_t code_page);
// The program's own file, as sys_module_path reports it.
void posix_set_module_path(const char* path);
// The extraction directory as the core holds it (dest_dir, archive text),
// set once OK is taken: calls that write may go below it besides the root.
// A drive goes below the root. A rooted or relative path is a Linux path
// (relative to the current directory) when from_user is nonzero (the
// command line or the prompt gave it); the archive's own goes below the
// root, ".." never above it. Empty is the current directory.
void posix_set_extract_dir(const char* dest_dir, int from_user);
// Ctrl-C as the Cancel button: before the extraction the process ends with
// exit code 0, during it the next progress report ends it (exit code 1).
void posix_catch_interrupt();
// The settings command of an archive runs only with the user's consent:
// nonzero agrees in advance (--run-command); else the user is asked on the
// terminal, and without a terminal it does not run.
void posix_set_run_command(int agreed);
