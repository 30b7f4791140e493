// The Windows side of the installation actions: the registry and WIN.INI,
// the DDE conversation with Program Manager and the shell.
// clang-format off
#include <windows.h>
// clang-format on
#include <dde.h>
#include <shellapi.h>

#include "platform/platform.h"

static HWND as_window(Window window) {
  return static_cast<HWND>(window);
}

void sys_set_class_value(const char* key_path, const char* value_name, const char* data) {
  HKEY key = nullptr;
  DWORD disposition;
  char key_class[] = "(standard)";
  LONG result = RegCreateKeyExA(HKEY_CLASSES_ROOT, key_path, 0, key_class, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, &disposition);
  if (result == ERROR_SUCCESS) {
    DWORD length = 0;
    while (data[length] != 0) ++length;
    RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), length + 1);
  }
  if (key != nullptr) RegCloseKey(key);
}

void sys_write_profile_string(const char* section, const char* key, const char* value) {
  WriteProfileStringA(section, key, value);
}

void sys_broadcast_settings_change() {
  PostMessageA(HWND_BROADCAST, WM_WININICHANGE, 0, 0);
}

int sys_actions_after_stop() {
  return 1;
}

Window sys_find_program_manager() {
  return FindWindowA("Progman", nullptr);
}

int sys_start_program_manager() {
  char command_line[] = "PROGMAN.EXE";
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  char* p = reinterpret_cast<char*>(&startup);
  for (size_t i = 0; i < sizeof(startup); ++i) p[i] = 0;
  startup.cb = sizeof(startup);
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                      CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process))
    return 0;
  WaitForInputIdle(process.hProcess, 3000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return 1;
}

uint16_t sys_add_atom(const char* name) {
  return GlobalAddAtomA(name);
}

void sys_delete_atom(uint16_t atom) {
  GlobalDeleteAtom(atom);
}

void sys_dde_initiate(Window client, uint16_t application, uint16_t topic) {
  SendMessageA(reinterpret_cast<HWND>(-1), WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
               MAKELPARAM(application, topic));
}

void* sys_dde_command_block(const char* command) {
  HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, 1025);
  if (block == nullptr) return nullptr;
  char* text = static_cast<char*>(GlobalLock(block));
  if (text != nullptr) {
    size_t i = 0;
    do {
      text[i] = command[i];
    } while (command[i++] != 0 && i < 1025);
    text[1024] = 0;
    GlobalUnlock(block);
  }
  return block;
}

int sys_dde_post_execute(Window server, Window client, void* block) {
  LPARAM packed = PackDDElParam(WM_DDE_EXECUTE, 0, reinterpret_cast<UINT_PTR>(block));
  if (PostMessageA(as_window(server), WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(client), packed))
    return 1;
  GlobalFree(block);
  FreeDDElParam(WM_DDE_EXECUTE, packed);
  return 0;
}

void sys_dde_post_terminate(Window server, Window client) {
  LPARAM packed = PackDDElParam(WM_DDE_TERMINATE, reinterpret_cast<UINT_PTR>(client), 0);
  PostMessageA(as_window(server), WM_DDE_TERMINATE, static_cast<WPARAM>(packed), 0);
}

void sys_shell_execute(Window owner, const char* file, const char* parameters,
                       const char* directory) {
  ShellExecuteA(as_window(owner), nullptr, file, parameters, directory, SW_SHOW);
}

uint32_t sys_tick_count() {
  return GetTickCount();
}
