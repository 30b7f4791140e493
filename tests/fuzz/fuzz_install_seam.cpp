// The installation actions' side of the seam under libFuzzer: nothing is
// registered and no Program Manager answers, so every "$Group=" line runs
// into the bounded wait, which a fast clock ends at once.
#include "platform/platform.h"

// clang-format off
void sys_set_class_value(const char*, const char*, const char*) {}
void sys_write_profile_string(const char*, const char*, const char*) {}
void sys_broadcast_settings_change() {}
int sys_actions_after_stop() { return 1; }
Window sys_find_program_manager() { return nullptr; }
int sys_start_program_manager() { return 0; }
uint16_t sys_add_atom(const char*) { return 0xC001; }
void sys_delete_atom(uint16_t) {}
void sys_dde_initiate(Window, uint16_t, uint16_t) {}
void* sys_dde_command_block(const char*) { return nullptr; }
int sys_dde_post_execute(Window, Window, void*) { return 0; }
void sys_dde_post_terminate(Window, Window) {}
void sys_shell_execute(Window, const char*, const char*, const char*) {}
// clang-format on
uint32_t sys_tick_count() {
  static uint32_t now;
  return now += 1000;
}
