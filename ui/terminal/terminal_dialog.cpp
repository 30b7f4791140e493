// The main dialog on a terminal: the caption, the label and the directory
// are shown, the directory and the enabled check boxes asked, then the
// extraction pass runs with its progress on one line.
#include "ui/terminal/terminal_dialog.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "install/install.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"
#include "startup/startup.h"
#include "ui/common/dialog_common.h"
#include "ui/main_dialog.h"

namespace {

// Stands for the dialog window: the pass shows its progress "in" it.
char dialog_window;

// A control text as shown: UTF-8, the mnemonic "&" removed ("&&" is "&").
std::string label_text(const char* text) {
  std::string utf8 = posix_to_utf8(text);
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '&') {
      if (i + 1 < utf8.size() && utf8[i + 1] == '&') out += '&', ++i;
      continue;
    }
    out += utf8[i];
  }
  return terminal_safe(out);
}

// Asks with a prompt on standard error and reads one line: 1 read, 0 end of
// input. Answers read from a pipe are echoed, so that a log reads whole.
int ask(const std::string& prompt, std::string* line) {
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  int got = posix_read_line(line);
  if (got <= 0) {
    std::fputs("(end of input: Cancel)\n", stderr);
    return 0;
  }
  if (!isatty(STDIN_FILENO)) std::fprintf(stderr, "%s\n", terminal_safe(*line).c_str());
  return 1;
}

// A check box: shown, and asked when enabled; 0 when the input ends.
int ask_check_box(int id, const char* title, const char* template_text) {
  int32_t checked = id == control_group ? wa->group_checked : wa->class_checked;
  std::string label = label_text(title[0] != 0 ? title : template_text);
  if (!checked) {
    std::fprintf(stderr, "%s: no\n", label.c_str());
    return 1;
  }
  if (auto_start) {
    std::fprintf(stderr, "%s: yes\n", label.c_str());
    return 1;
  }
  for (;;) {
    std::string line;
    if (!ask(label + "? [Y/n] ", &line)) return 0;
    for (char& c : line)
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
    if (line.empty() || line == "y" || line == "yes") return 1;
    if (line == "n" || line == "no") {
      toggle_check_box(id);
      return 1;
    }
  }
}

std::string current_directory_text() {
  char text[dir_size];
  uint32_t n = sys_current_directory(text, sizeof text);
  return n > 0 && n < sizeof text ? std::string(text) : std::string();
}

}  // namespace

void terminal_dialog_message(Window dialog, PosixWindowMessage message, Window from) {
  switch (message) {
    case posix_message_ack_initiate:
      // The stand-in writes files from the commands, so it is told what the
      // line's fields were before they are joined into commands.
      posix_progman_line(wa->group_name, wa->item_title, wa->program_path, wa->icon_path);
      on_dde_ack(dialog, from);
      break;
    case posix_message_ack_execute:
      on_dde_ack(dialog, from);
      break;
    case posix_message_cancel:
      if (wa->extracting == 1) wa->cancel_requested = 1;
      break;
  }
}

bool terminal_shows_message(const char* text) {
  return wa != nullptr && wa->capture_mode == capture_message && text == wa->text;
}

int run_main_dialog() {
  Window dialog = &dialog_window;
  dde_state = 0;
  wa->extracting = 0;
  wa->cancel_requested = 0;

  const char* label =
      wa->settings.install_title[0] != 0 ? wa->settings.install_title : "Install &Directory:";
  std::fprintf(
      stderr, "%s\n%s %s\n", terminal_safe(posix_to_utf8(wa->settings.window_title)).c_str(),
      label_text(label).c_str(), terminal_safe(posix_to_utf8(wa->settings.install_dir)).c_str());

  // The field holds the default directory until another is typed.
  std::string field = wa->settings.install_dir;
  // A rooted directory is a Linux path when the user gave it (the command
  // line or the prompt) or it is the current directory; one from the archive
  // goes below the root.
  bool users_path = dir_from_command_line != 0 || field == current_directory_text();
  bool asking = auto_start == 0;
  for (;;) {
    if (asking) {
      std::string line;
      if (!ask("Directory (Enter keeps it): ", &line)) return 0;
      if (!line.empty()) {
        field = posix_from_utf8(line.c_str());
        users_path = true;
      }
    }
    if (take_directory(dialog, field.c_str())) break;
    asking = true;  // refused: the user may correct it
  }
  if (!ask_check_box(control_group, wa->group_title, "&Start Menu") ||
      !ask_check_box(control_class, wa->class_title, "Set Cl&ass"))
    return 0;

  posix_set_extract_dir(wa->dest_dir, users_path ? 1 : 0);
  posix_extraction_begins();
  wa->extracting = 1;
  posix_set_window_proc(terminal_dialog_message);
  run_pass(dialog, pass_extract);
  posix_set_window_proc(nullptr);
  posix_end_progress_line();
  return 1;
}
