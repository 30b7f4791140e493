// The one seam between the extraction core and the operating system.
//
// The core (startup/, archive/, decode/, install/) reaches the system only
// through the functions declared here. platform/win32/ implements them with
// the Windows calls named in each comment; platform/posix/ provides the same
// behaviour on Linux for the native runner.
//
// Strings are 8-bit texts in the archive's code page, zero-terminated.
#pragma once

#include <cstddef>
#include <cstdint>

// A file handle: _lopen's HFILE for the program's own file, a HANDLE for
// member files. -1 (all bits set) is the invalid value, 0 means "none yet".
typedef intptr_t FileHandle;
constexpr FileHandle invalid_file = -1;

// A window handle (HWND); null when there is no window.
typedef void* Window;

// Win32 SYSTEMTIME, field for field.
struct SystemTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// Win32 FILETIME: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
struct FileTime {
  uint32_t low;
  uint32_t high;
};

// Message box styles and answers, with their Windows values.
enum : uint32_t {
  box_ok = 0x0000,
  box_yes_no_cancel = 0x0003,
  box_yes_no = 0x0004,
  box_icon_stop = 0x0010,
  box_icon_question = 0x0020,
  box_icon_exclamation = 0x0030,
  box_task_modal = 0x2000,
};
enum : int { answer_ok = 1, answer_cancel = 2, answer_yes = 6, answer_no = 7 };

// File attribute bits, with their Windows values.
enum : uint32_t {
  attr_read_only = 0x01,
  attr_directory = 0x10,
  attr_normal = 0x80,
  attr_invalid = 0xFFFFFFFFu,
};

// Origins of sys_seek_own_file (_llseek's FILE_BEGIN, FILE_CURRENT, FILE_END).
enum : int { seek_begin = 0, seek_current = 1, seek_end = 2 };

// ---- memory and process ----

// Zero-filled block from the process heap (LocalAlloc LPTR); null on failure.
void* sys_alloc_zeroed(size_t size);
// Gives back a block of sys_alloc_zeroed (LocalFree).
void sys_free(void* block);
// Ends the process with the exit code, through the runtime's normal exit (ExitProcess).
[[noreturn]] void sys_exit_process(int status);
// 1 when the system reports the Win32s platform (GetVersionExA, platform id 0).
int sys_is_win32s();
// Full path of the program's own file (GetModuleFileNameA); length, 0 on failure.
uint32_t sys_module_path(char* out, uint32_t size);

// ---- the program's own file, 16-bit-compatible calls ----

// Opens the file read-only (_lopen OF_READ); invalid_file on failure.
FileHandle sys_open_own_file(const char* path);
// Moves the position (_llseek); the new position, or -1 on failure.
int32_t sys_seek_own_file(FileHandle file, int32_t offset, int origin);
// Reads up to size bytes (_lread); the count read, or -1 on failure.
int32_t sys_read_own_file(FileHandle file, void* out, uint32_t size);
// Closes the file (_lclose).
void sys_close_own_file(FileHandle file);

// ---- member files and directories ----

// CreateFileA GENERIC_WRITE, no sharing, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL.
FileHandle sys_create_file(const char* path);
// CreateFileA GENERIC_READ, FILE_SHARE_READ|FILE_SHARE_WRITE, OPEN_EXISTING.
FileHandle sys_open_existing_file(const char* path);
// WriteFile; nonzero on success, the count written in *written.
int sys_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written);
// CloseHandle; nonzero on success.
int sys_close_file(FileHandle file);
// DeleteFileA; nonzero on success.
int sys_delete_file(const char* path);
// GetFileAttributesA; attr_invalid when the path does not exist.
uint32_t sys_get_file_attributes(const char* path);
// SetFileAttributesA; nonzero on success.
int sys_set_file_attributes(const char* path, uint32_t attributes);
// GetFileTime; nonzero on success. Any pointer may be null.
int sys_get_file_time(FileHandle file, FileTime* created, FileTime* accessed, FileTime* written);
// SetFileTime, arguments in Windows order; nonzero on success.
int sys_set_file_time(FileHandle file, const FileTime* created, const FileTime* accessed,
                      const FileTime* written);
// CreateDirectoryA with default security; nonzero on success.
int sys_create_directory(const char* path);
// Maximum component length of a volume (GetVolumeInformationA); root like "C:\",
// or null for the current drive. 0 when the query fails.
uint32_t sys_max_component_length(const char* root);

// ---- directories, environment, registry, search ----

// GetCurrentDirectoryA: length written, or the size needed when it does not fit.
uint32_t sys_current_directory(char* out, uint32_t size);
// GetWindowsDirectoryA: length written, or the size needed.
uint32_t sys_windows_directory(char* out, uint32_t size);
// GetSystemDirectoryA: length written, or the size needed.
uint32_t sys_system_directory(char* out, uint32_t size);
// GetEnvironmentVariableA: length written, 0 when not set, or the size needed
// (terminator included) when it does not fit.
uint32_t sys_get_environment(const char* name, char* out, uint32_t size);
// RegOpenKeyExA (HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE) and RegQueryValueExA of a
// string value; nonzero when the value was read into out.
int sys_read_registry_string(const char* key, const char* value, char* out, uint32_t size);
// SearchPathA with no path of its own and no extension: length of the full path
// found, 0 when not found, or the size needed. *file_part points at its file name.
uint32_t sys_search_path(const char* name, char* out, uint32_t size, char** file_part);
// GetFileTitleA: 0 on success.
int sys_file_title(const char* path, char* out, uint16_t size);
// GetShortPathNameA: length written, 0 on failure, or the size needed.
uint32_t sys_short_path(const char* path, char* out, uint32_t size);

// ---- code page ----

// IsDBCSLeadByte for the system (archive) code page.
int sys_is_lead_byte(uint8_t byte);
// CharPrevA: the character before current, never before start.
const char* sys_char_prev(const char* start, const char* current);
// CharLowerA on one character.
uint8_t sys_lower_char(uint8_t c);
// CharLowerA on a text, in place.
void sys_lower_text(char* text);

// ---- times ----

// SystemTimeToFileTime; nonzero on success.
int sys_systemtime_to_filetime(const SystemTime* in, FileTime* out);
// FileTimeToSystemTime; nonzero on success.
int sys_filetime_to_systemtime(const FileTime* in, SystemTime* out);

// ---- user interface ----

// MessageBoxA; returns the answer (answer_yes, answer_no, ...).
int sys_message_box(Window owner, const char* text, const char* caption, uint32_t style);
// SetDlgItemTextA on a control of the dialog; nothing when window is null.
void sys_set_item_text(Window dialog, int id, const char* text);
// Dispatches every waiting message without blocking (PeekMessageA PM_REMOVE,
// IsDialogMessageA, TranslateMessage, DispatchMessageA).
void sys_pump_messages(Window dialog);

// ---- installation actions ----

// RegCreateKeyExA (HKEY_CLASSES_ROOT, key, 0, "(standard)", 0, KEY_WRITE, null)
// and, when a key was obtained, RegSetValueExA (value_name, REG_SZ, data with
// its terminator counted) and RegCloseKey. Results are not reported.
void sys_set_class_value(const char* key_path, const char* value_name, const char* data);
// WriteProfileStringA (section, key, value) into WIN.INI.
void sys_write_profile_string(const char* section, const char* key, const char* value);
// PostMessageA (HWND_BROADCAST, WM_WININICHANGE, 0, 0).
void sys_broadcast_settings_change();
// Nonzero when the script's actions run also after an extraction that
// stopped (an error, Cancel): so on Windows; on Linux only a clean one.
int sys_actions_after_stop();
// FindWindowA ("Progman", null): Program Manager's window, or null.
Window sys_find_program_manager();
// CreateProcessA (null, "PROGMAN.EXE", null, null, TRUE, 0x220, null, null,
// 68-byte STARTUPINFO); on success WaitForInputIdle 3000 ms and CloseHandle of
// the process and the thread. Nonzero when the process was started.
int sys_start_program_manager();
// GlobalAddAtomA; 0 on failure.
uint16_t sys_add_atom(const char* name);
// GlobalDeleteAtom.
void sys_delete_atom(uint16_t atom);
// SendMessageA ((HWND)-1, WM_DDE_INITIATE, client, MAKELPARAM (application,
// topic)); returns when every top-level window has handled it.
void sys_dde_initiate(Window client, uint16_t application, uint16_t topic);
// GlobalAlloc (GMEM_DDESHARE | GMEM_MOVEABLE, 1025), GlobalLock, the command
// copied in with its terminator, GlobalUnlock. The block, or null on failure.
void* sys_dde_command_block(const char* command);
// PackDDElParam (WM_DDE_EXECUTE, 0, block) and PostMessageA (server,
// WM_DDE_EXECUTE, client, that lParam); when the post fails, GlobalFree of the
// block and FreeDDElParam. Nonzero when posted.
int sys_dde_post_execute(Window server, Window client, void* block);
// PostMessageA (server, WM_DDE_TERMINATE, PackDDElParam (WM_DDE_TERMINATE,
// client, 0), 0).
void sys_dde_post_terminate(Window server, Window client);
// ShellExecuteA (owner, null, file, parameters or null, directory, SW_SHOW);
// the result is not reported.
void sys_shell_execute(Window owner, const char* file, const char* parameters,
                       const char* directory);
// GetTickCount: milliseconds since the system started, wrapping.
uint32_t sys_tick_count();
