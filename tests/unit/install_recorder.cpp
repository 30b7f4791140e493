// The core's calls of the seam's installation actions, recorded on their way
// to the Linux side: tests/CMakeLists.txt wraps each symbol below (ld --wrap),
// so the call reaches wrap_X, which records it and calls real_X. Program
// Manager's stand-in can be made absent or mute, and the clock fast.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/support_install.h"

// real_name and wrap_name of a function of the seam, by its symbol.
#define SEAM(result, name, symbol, parameters)             \
  result real_##name parameters __asm__("__real_" symbol); \
  result wrap_##name parameters __asm__("__wrap_" symbol)

SEAM(void, set_class_value, "_Z19sys_set_class_valuePKcS0_S0_",
     (const char*, const char*, const char*));
SEAM(void, write_profile_string, "_Z24sys_write_profile_stringPKcS0_S0_",
     (const char*, const char*, const char*));
SEAM(void, broadcast_settings_change, "_Z29sys_broadcast_settings_changev", ());
SEAM(Window, find_program_manager, "_Z24sys_find_program_managerv", ());
SEAM(int, start_program_manager, "_Z25sys_start_program_managerv", ());
SEAM(uint16_t, add_atom, "_Z12sys_add_atomPKc", (const char*));
SEAM(void, dde_initiate, "_Z16sys_dde_initiatePvtt", (Window, uint16_t, uint16_t));
SEAM(int, dde_post_execute, "_Z20sys_dde_post_executePvS_S_", (Window, Window, void*));
SEAM(void, dde_post_terminate, "_Z22sys_dde_post_terminatePvS_", (Window, Window));
SEAM(void, shell_execute, "_Z17sys_shell_executePvPKcS1_S1_",
     (Window, const char*, const char*, const char*));
SEAM(uint32_t, tick_count, "_Z14sys_tick_countv", ());

namespace {

std::vector<std::string> calls;
std::map<uint16_t, std::string> atom_names;
ProgramManager program_manager = progman_answers;
uint32_t clock_step, clock_now;

void record(const char* name, std::initializer_list<const char*> args) {
  std::string call = std::string(name) + "(", separator;
  for (const char* a : args) call += std::exchange(separator, "|") + (a ? a : "(null)");
  calls.push_back(call + ")");
}

}  // namespace

std::vector<std::string>& recorded_calls() {
  return calls;
}
void set_program_manager(ProgramManager behaviour) {
  program_manager = behaviour;
}
void set_clock_step(uint32_t step) {
  clock_step = step;
  clock_now = 0;
}

// A mute Program Manager's answers to commands are lost on their way.
void test_dialog_message(Window dialog, PosixWindowMessage message, Window from) {
  if (message == posix_message_ack_execute && program_manager == progman_mute) return;
  terminal_dialog_message(dialog, message, from);
}

void wrap_set_class_value(const char* key_path, const char* value_name, const char* data) {
  record("set_class_value", {key_path, value_name, data});
  real_set_class_value(key_path, value_name, data);
}

void wrap_write_profile_string(const char* section, const char* key, const char* value) {
  record("write_profile_string", {section, key, value});
  real_write_profile_string(section, key, value);
}

void wrap_broadcast_settings_change() {
  record("broadcast_settings_change", {});
  real_broadcast_settings_change();
}

Window wrap_find_program_manager() {
  record("find_program_manager", {});
  Window server = real_find_program_manager();
  return program_manager == progman_absent ? nullptr : server;
}

int wrap_start_program_manager() {
  record("start_program_manager", {});
  return real_start_program_manager();
}

uint16_t wrap_add_atom(const char* name) {
  uint16_t atom = real_add_atom(name);
  atom_names[atom] = name;
  return atom;
}

void wrap_dde_initiate(Window client, uint16_t application, uint16_t topic) {
  record("dde_initiate", {atom_names[application].c_str(), atom_names[topic].c_str()});
  if (program_manager != progman_absent) real_dde_initiate(client, application, topic);
}

int wrap_dde_post_execute(Window server, Window client, void* block) {
  record("dde_execute", {static_cast<const char*>(block)});
  return real_dde_post_execute(server, client, block);
}

void wrap_dde_post_terminate(Window server, Window client) {
  record("dde_terminate", {});
  real_dde_post_terminate(server, client);
}

void wrap_shell_execute(Window owner, const char* file, const char* parameters,
                        const char* directory) {
  record("shell_execute", {file, parameters, directory});
  real_shell_execute(owner, file, parameters, directory);
}

uint32_t wrap_tick_count() {
  return clock_step == 0 ? real_tick_count() : clock_now += clock_step;
}
