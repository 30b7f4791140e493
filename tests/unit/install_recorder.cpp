// The calls the core makes of the seam's installation actions, recorded on
// their way to the Linux side: the tests that link this file wrap each
// symbol below (ld --wrap, tests/CMakeLists.txt), so that the core's call
// reaches __wrap_X, which records it and calls __real_X, the Linux side's.
// Program Manager's stand-in can be made absent or mute, and the clock fast.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/unit/support_install.h"

// The Linux side's functions, by their symbols.
void real_set_class_value(const char*, const char*,
                          const char*) __asm__("__real__Z19sys_set_class_valuePKcS0_S0_");
void real_write_profile_string(const char*, const char*,
                               const char*) __asm__("__real__Z24sys_write_profile_stringPKcS0_S0_");
void real_broadcast_settings_change() __asm__("__real__Z29sys_broadcast_settings_changev");
Window real_find_program_manager() __asm__("__real__Z24sys_find_program_managerv");
int real_start_program_manager() __asm__("__real__Z25sys_start_program_managerv");
uint16_t real_add_atom(const char*) __asm__("__real__Z12sys_add_atomPKc");
void real_dde_initiate(Window, uint16_t, uint16_t) __asm__("__real__Z16sys_dde_initiatePvtt");
int real_dde_post_execute(Window, Window, void*) __asm__("__real__Z20sys_dde_post_executePvS_S_");
void real_dde_post_terminate(Window, Window) __asm__("__real__Z22sys_dde_post_terminatePvS_");
void real_shell_execute(Window, const char*, const char*,
                        const char*) __asm__("__real__Z17sys_shell_executePvPKcS1_S1_");
uint32_t real_tick_count() __asm__("__real__Z14sys_tick_countv");

namespace {

struct Recorder {
  std::vector<RecordedCall> calls;
  std::map<uint16_t, std::string> atom_names;
  ProgramManager program_manager = progman_answers;
  uint32_t clock_step = 0;
  uint32_t clock_offset = 0;
};

Recorder& recorder() {
  static Recorder* r = new Recorder();
  return *r;
}

void record(const char* name, std::initializer_list<const char*> args) {
  RecordedCall call{name, {}};
  for (const char* a : args) call.args.push_back(a != nullptr ? a : "(null)");
  recorder().calls.push_back(call);
}

}  // namespace

std::vector<RecordedCall>& recorded_calls() {
  return recorder().calls;
}

void set_program_manager(ProgramManager behaviour) {
  recorder().program_manager = behaviour;
}

void set_clock_step(uint32_t step) {
  recorder().clock_step = step;
  recorder().clock_offset = 0;
}

// What a test's main dialog does with the stand-in's answers: the terminal
// front end's procedure, but a mute Program Manager's command answers are lost.
void test_dialog_message(Window dialog, PosixWindowMessage message, Window from) {
  if (message == posix_message_ack_execute && recorder().program_manager == progman_mute) return;
  terminal_dialog_message(dialog, message, from);
}

void wrap_set_class_value(const char* key_path, const char* value_name,
                          const char* data) __asm__("__wrap__Z19sys_set_class_valuePKcS0_S0_");
void wrap_set_class_value(const char* key_path, const char* value_name, const char* data) {
  record("set_class_value", {key_path, value_name, data});
  real_set_class_value(key_path, value_name, data);
}

void wrap_write_profile_string(const char* section, const char* key, const char* value) __asm__(
    "__wrap__Z24sys_write_profile_stringPKcS0_S0_");
void wrap_write_profile_string(const char* section, const char* key, const char* value) {
  record("write_profile_string", {section, key, value});
  real_write_profile_string(section, key, value);
}

void wrap_broadcast_settings_change() __asm__("__wrap__Z29sys_broadcast_settings_changev");
void wrap_broadcast_settings_change() {
  record("broadcast_settings_change", {});
  real_broadcast_settings_change();
}

Window wrap_find_program_manager() __asm__("__wrap__Z24sys_find_program_managerv");
Window wrap_find_program_manager() {
  record("find_program_manager", {});
  Window server = real_find_program_manager();
  return recorder().program_manager == progman_absent ? nullptr : server;
}

int wrap_start_program_manager() __asm__("__wrap__Z25sys_start_program_managerv");
int wrap_start_program_manager() {
  record("start_program_manager", {});
  return real_start_program_manager();
}

uint16_t wrap_add_atom(const char* name) __asm__("__wrap__Z12sys_add_atomPKc");
uint16_t wrap_add_atom(const char* name) {
  uint16_t atom = real_add_atom(name);
  recorder().atom_names[atom] = name;
  return atom;
}

void wrap_dde_initiate(Window client, uint16_t application,
                       uint16_t topic) __asm__("__wrap__Z16sys_dde_initiatePvtt");
void wrap_dde_initiate(Window client, uint16_t application, uint16_t topic) {
  Recorder& r = recorder();
  record("dde_initiate", {r.atom_names[application].c_str(), r.atom_names[topic].c_str()});
  if (r.program_manager != progman_absent) real_dde_initiate(client, application, topic);
}

int wrap_dde_post_execute(Window server, Window client,
                          void* block) __asm__("__wrap__Z20sys_dde_post_executePvS_S_");
int wrap_dde_post_execute(Window server, Window client, void* block) {
  record("dde_execute", {static_cast<const char*>(block)});
  return real_dde_post_execute(server, client, block);
}

void wrap_dde_post_terminate(Window server,
                             Window client) __asm__("__wrap__Z22sys_dde_post_terminatePvS_");
void wrap_dde_post_terminate(Window server, Window client) {
  record("dde_terminate", {});
  real_dde_post_terminate(server, client);
}

void wrap_shell_execute(Window owner, const char* file, const char* parameters,
                        const char* directory) __asm__("__wrap__Z17sys_shell_executePvPKcS1_S1_");
void wrap_shell_execute(Window owner, const char* file, const char* parameters,
                        const char* directory) {
  record("shell_execute", {file, parameters, directory});
  real_shell_execute(owner, file, parameters, directory);
}

uint32_t wrap_tick_count() __asm__("__wrap__Z14sys_tick_countv");
uint32_t wrap_tick_count() {
  Recorder& r = recorder();
  r.clock_offset += r.clock_step;
  return real_tick_count() + r.clock_offset;
}
