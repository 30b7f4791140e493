// The Windows side of the seam: each function is the one Windows call its
// declaration names, with the arguments the core passes.

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME), "SystemTime mirrors SYSTEMTIME");
static_assert(sizeof(FileTime) == sizeof(FILETIME), "FileTime mirrors FILETIME");

static HANDLE as_handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
static HFILE as_hfile(FileHandle file) {
  return static_cast<HFILE>(file);
}

// ---- memory and process ----

void* sys_alloc_zeroed(size_t size) {
  return LocalAlloc(LPTR, size);
}

void sys_free(void* block) {
  LocalFree(block);
}

void sys_exit_process(int status) {
  ExitProcess(static_cast<UINT>(status));
}

int sys_is_win32s() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version)) return 0;
  return version.dwPlatformId == VER_PLATFORM_WIN32s ? 1 : 0;
}

uint32_t sys_module_path(char* out, uint32_t size) {
  return GetModuleFileNameA(nullptr, out, size);
}

// ---- the program's own file ----

FileHandle sys_open_own_file(const char* path) {
  HFILE file = _lopen(path, OF_READ);
  return file == HFILE_ERROR ? invalid_file : static_cast<FileHandle>(file);
}

int32_t sys_seek_own_file(FileHandle file, int32_t offset, int origin) {
  return _llseek(as_hfile(file), offset, origin);
}

int32_t sys_read_own_file(FileHandle file, void* out, uint32_t size) {
  return static_cast<int32_t>(_lread(as_hfile(file), out, size));
}

void sys_close_own_file(FileHandle file) {
  _lclose(as_hfile(file));
}

// ---- member files and directories ----

FileHandle sys_create_file(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(file);
}

FileHandle sys_open_existing_file(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(file);
}

int sys_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
  DWORD count = 0;
  BOOL ok = WriteFile(as_handle(file), data, size, &count, nullptr);
  *written = count;
  return ok;
}

int sys_close_file(FileHandle file) {
  return CloseHandle(as_handle(file));
}

int sys_delete_file(const char* path) {
  return DeleteFileA(path);
}

uint32_t sys_get_file_attributes(const char* path) {
  return GetFileAttributesA(path);
}

int sys_set_file_attributes(const char* path, uint32_t attributes) {
  return SetFileAttributesA(path, attributes);
}

int sys_get_file_time(FileHandle file, FileTime* created, FileTime* accessed, FileTime* written) {
  return GetFileTime(as_handle(file), reinterpret_cast<FILETIME*>(created),
                     reinterpret_cast<FILETIME*>(accessed), reinterpret_cast<FILETIME*>(written));
}

int sys_set_file_time(FileHandle file, const FileTime* created, const FileTime* accessed,
                      const FileTime* written) {
  return SetFileTime(as_handle(file), reinterpret_cast<const FILETIME*>(created),
                     reinterpret_cast<const FILETIME*>(accessed),
                     reinterpret_cast<const FILETIME*>(written));
}

int sys_create_directory(const char* path) {
  return CreateDirectoryA(path, nullptr);
}

uint32_t sys_max_component_length(const char* root) {
  DWORD max_length = 0;
  DWORD flags = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, &max_length, &flags, nullptr, 0)) return 0;
  return max_length;
}

// ---- directories, environment, registry, search ----

uint32_t sys_current_directory(char* out, uint32_t size) {
  return GetCurrentDirectoryA(size, out);
}

uint32_t sys_windows_directory(char* out, uint32_t size) {
  return GetWindowsDirectoryA(out, size);
}

uint32_t sys_system_directory(char* out, uint32_t size) {
  return GetSystemDirectoryA(out, size);
}

uint32_t sys_get_environment(const char* name, char* out, uint32_t size) {
  return GetEnvironmentVariableA(name, out, size);
}

int sys_read_registry_string(const char* key, const char* value, char* out, uint32_t size) {
  HKEY opened;
  if (size == 0) return 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD type = 0;
  DWORD length = size;
  LONG status =
      RegQueryValueExA(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(out), &length);
  RegCloseKey(opened);
  // Only text counts; a value stored without its terminator is cut to fit.
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
  out[length < size ? length : size - 1] = 0;
  return 1;
}

uint32_t sys_search_path(const char* name, char* out, uint32_t size, char** file_part) {
  return SearchPathA(nullptr, name, nullptr, size, out, file_part);
}

int sys_file_title(const char* path, char* out, uint16_t size) {
  return GetFileTitleA(path, out, size);
}

uint32_t sys_short_path(const char* path, char* out, uint32_t size) {
  return GetShortPathNameA(path, out, size);
}

// ---- code page ----

int sys_is_lead_byte(uint8_t byte) {
  return IsDBCSLeadByte(byte);
}

const char* sys_char_prev(const char* start, const char* current) {
  return CharPrevA(start, current);
}

uint8_t sys_lower_char(uint8_t c) {
  // CharLowerA takes a single character in the low word of its argument.
  return static_cast<uint8_t>(
      reinterpret_cast<uintptr_t>(CharLowerA(reinterpret_cast<char*>(static_cast<uintptr_t>(c)))));
}

void sys_lower_text(char* text) {
  CharLowerA(text);
}

// ---- times ----

int sys_systemtime_to_filetime(const SystemTime* in, FileTime* out) {
  return SystemTimeToFileTime(reinterpret_cast<const SYSTEMTIME*>(in),
                              reinterpret_cast<FILETIME*>(out));
}

int sys_filetime_to_systemtime(const FileTime* in, SystemTime* out) {
  return FileTimeToSystemTime(reinterpret_cast<const FILETIME*>(in),
                              reinterpret_cast<SYSTEMTIME*>(out));
}

// ---- user interface ----

int sys_message_box(Window owner, const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

void sys_set_item_text(Window dialog, int id, const char* text) {
  if (dialog != nullptr) SetDlgItemTextA(static_cast<HWND>(dialog), id, text);
}

void sys_pump_messages(Window dialog) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(static_cast<HWND>(dialog), &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}
