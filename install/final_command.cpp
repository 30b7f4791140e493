// The command started through the shell after a clean extraction.
#include "install/install.h"
#include "startup/startup.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

const char* split_command_line(char* out, const char* command) {
  const char* p = command;
  while (is_blank(*p)) ++p;
  uint32_t n = 0;
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') out[n++] = *p++;
    if (*p == '"') ++p;
  } else {
    while (*p != 0 && !is_blank(*p)) out[n++] = *p++;
  }
  out[n] = 0;
  while (is_blank(*p)) ++p;
  return p;
}

void run_command(Window dialog) {
  const char* command = wa->settings.command;
  if (command[0] == 0 || wa->aborted != 0) return;
  const char* parameters = split_command_line(wa->text, command);
  sys_shell_execute(dialog, wa->text, parameters[0] != 0 ? parameters : nullptr, wa->dest_dir);
}
