// Message boxes and control texts on a terminal: boxes and progress go to
// standard error, answers come from standard input, Ctrl-C is the Cancel
// button (handed to the front end by the pump, posix_window.cpp).
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_window.h"
#include "platform/posix/terminal_filter.h"

namespace {

volatile sig_atomic_t interrupted = 0;
volatile sig_atomic_t extraction_begun = 0;
PosixMessageHook message_hook = nullptr;
PosixMessageCheck message_check = nullptr;

struct ProgressLine {
  std::string member;
  std::string progress;
  bool member_shown;
  bool open;  // a line in place stands unfinished on the terminal
};

ProgressLine& progress_line() {
  static ProgressLine line = {std::string(), std::string(), true, false};
  return line;
}

void on_interrupt(int) {
  // Before the extraction nothing is written yet: Cancel ends with 0.
  if (!extraction_begun) _exit(0);
  interrupted = 1;
}

// Text of the core for the terminal: UTF-8, filtered, "\r\n" as "\n"; line
// breaks are kept only where asked (a message's text).
std::string terminal_text(const char* text, bool keep_line_breaks = false) {
  return terminal_safe(posix_to_utf8(text), keep_line_breaks);
}

std::string trimmed(const std::string& s) {
  size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  size_t last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// The answer a line stands for, 0 when it stands for none offered.
int answer_of(const std::string& line, bool cancel_offered) {
  std::string word = trimmed(line);
  for (char& c : word)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  if (word == "y" || word == "yes") return answer_yes;
  if (word == "n" || word == "no") return answer_no;
  if (cancel_offered && (word == "c" || word == "cancel")) return answer_cancel;
  return 0;
}

}  // namespace

void posix_catch_interrupt() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a waiting read returns
  sigaction(SIGINT, &action, nullptr);
}

int posix_interrupted() {
  return interrupted ? 1 : 0;
}

void posix_extraction_begins() {
  extraction_begun = 1;
}

int posix_read_line(std::string* line) {
  line->clear();
  for (;;) {
    // A Ctrl-C that came before the read began answers as one during it.
    if (interrupted && line->empty()) return -1;
    int c = std::fgetc(stdin);
    if (c == EOF) {
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        if (interrupted) return -1;
        continue;
      }
      return line->empty() ? 0 : 1;
    }
    if (c == '\n') return 1;
    *line += char(c);
  }
}

void posix_end_progress_line() {
  ProgressLine& line = progress_line();
  if (line.open) std::fputc('\n', stderr);
  line.open = false;
}

void posix_set_message_hook(PosixMessageHook hook) {
  message_hook = hook;
}

void posix_set_message_check(PosixMessageCheck check) {
  message_check = check;
}

int sys_message_box(Window owner, const char* text, const char* caption, uint32_t style) {
  (void)owner;
  if (message_hook != nullptr) return message_hook(text, style);
  posix_end_progress_line();
  // Only the archive's message keeps its line breaks; in a file's message or
  // a question, a line break of a name could pass for a line of the runner.
  bool message = message_check != nullptr && message_check(text);
  std::fprintf(stderr, "%s: %s\n", terminal_text(caption).c_str(),
               terminal_text(text, message).c_str());
  std::fflush(stderr);
  uint32_t buttons = style & 0x0F;
  if (buttons != box_yes_no && buttons != box_yes_no_cancel) return answer_ok;
  bool cancel_offered = buttons == box_yes_no_cancel;
  bool terminal = isatty(STDIN_FILENO) != 0;
  for (;;) {
    std::fputs(cancel_offered ? "[y/n/c] " : "[y/n] ", stderr);
    std::fflush(stderr);
    std::string line;
    int got = posix_read_line(&line);
    if (got < 0) {
      // Ctrl-C while the pass asks: Cancel here, and the next pump of the
      // pass hands Cancel to the front end.
      std::fputc('\n', stderr);
      return cancel_offered ? answer_cancel : answer_no;
    }
    if (got == 0) {
      std::fputs(cancel_offered ? "(end of input: c)\n" : "(end of input: n)\n", stderr);
      return cancel_offered ? answer_cancel : answer_no;
    }
    if (!terminal) std::fprintf(stderr, "%s\n", terminal_safe(trimmed(line)).c_str());
    int answer = answer_of(line, cancel_offered);
    if (answer != 0) return answer;
  }
}

void sys_set_item_text(Window dialog, int id, const char* text) {
  if (dialog == nullptr) return;
  ProgressLine& line = progress_line();
  if (id == 101) {
    line.member = terminal_text(text);
    line.member_shown = false;
    return;
  }
  if (id != 102) return;
  line.progress = terminal_text(text);
  if (isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "\r%s  %s\033[K", line.member.c_str(), line.progress.c_str());
    line.open = true;
  } else {
    // Logs get one line when the member changes and one at its end.
    size_t n = line.progress.size();
    bool complete = n >= 4 && line.progress.compare(n - 4, 4, "100%") == 0;
    if (!line.member_shown || complete)
      std::fprintf(stderr, "%s  %s\n", line.member.c_str(), line.progress.c_str());
    line.member_shown = true;
  }
  std::fflush(stderr);
}
