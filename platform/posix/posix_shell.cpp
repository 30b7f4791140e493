// The settings command on Linux (ShellExecuteA): a program in the
// extraction directory or on PATH starts detached with its parameters, a
// document opens with xdg-open, and only when the user agrees.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"

namespace {

// The user agreed in advance to the settings command (--run-command).
bool command_agreed = false;

// Parameters split the way a Windows program splits its command line:
// blanks separate, double quotes group and are removed.
std::vector<std::string> split_parameters(const char* parameters) {
  std::vector<std::string> out;
  if (parameters == nullptr) return out;
  std::string current;
  bool in_word = false, quoted = false;
  for (const char* p = parameters; *p != 0; ++p) {
    char c = *p;
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) out.push_back(posix_to_utf8(current.c_str()));
      current.clear();
      in_word = false;
    } else {
      current += c;
      in_word = true;
    }
  }
  if (in_word) out.push_back(posix_to_utf8(current.c_str()));
  return out;
}

// Whether the user agrees that the archive's command runs: agreed in advance
// (--run-command), or asked on the terminal, Enter being No. Without a
// terminal on standard input and without the option it does not run.
bool user_agrees_to_command(const std::vector<std::string>& argv, const std::string& folder) {
  std::string parameters;
  for (size_t i = 1; i < argv.size(); ++i) parameters += (i > 1 ? " " : "") + argv[i];
  posix_end_progress_line();
  std::fprintf(stderr,
               "The archive's command:\n  program:    %s\n  parameters: %s\n  folder:     %s\n",
               terminal_safe(argv[0]).c_str(), terminal_safe(parameters).c_str(),
               terminal_safe(folder).c_str());
  if (command_agreed) {
    std::fputs("Run it? yes (--run-command)\n", stderr);
    return true;
  }
  if (!isatty(STDIN_FILENO)) {
    std::fputs("Not run: no terminal to ask (--run-command runs it).\n", stderr);
    return false;
  }
  std::fputs("Run it? [y/N] ", stderr);
  std::fflush(stderr);
  std::string line;
  int got = posix_read_line(&line);
  if (got <= 0) std::fputc('\n', stderr);
  std::string word;
  for (char c : line)
    if (c != ' ' && c != '\t' && c != '\r') word += c >= 'A' && c <= 'Z' ? char(c + 32) : c;
  bool yes = got > 0 && (word == "y" || word == "yes");
  if (!yes) std::fputs("Not run.\n", stderr);
  std::fflush(stderr);
  return yes;
}

// A command that cannot be started here is named, so that the user knows it
// did not run.
void report_not_started(const char* file, const char* why) {
  posix_end_progress_line();
  std::fprintf(stderr, "The archive's command %s: %s; not run.\n",
               terminal_safe(posix_to_utf8(file)).c_str(), why);
}

}  // namespace

void posix_set_run_command(int agreed) {
  command_agreed = agreed != 0;
}

void sys_shell_execute(Window owner, const char* file, const char* parameters,
                       const char* directory) {
  (void)owner;
  if (file == nullptr || file[0] == 0) return;
  std::string folder =
      directory != nullptr && directory[0] != 0 ? posix_map_path(directory) : std::string();
  std::string name = file;
  bool has_separator = name.find_first_of("/\\:") != std::string::npos;
  std::string target;
  if (name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':')) {
    target = posix_map_path(file);
  } else if (!folder.empty()) {
    std::string relative = posix_to_utf8(file);
    for (char& c : relative)
      if (c == '\\') c = '/';
    target = posix_normalise(folder + "/" + relative);
  }

  std::vector<std::string> argv;
  if (posix_is_program(target)) {
    argv.push_back(target);
    for (const std::string& p : split_parameters(parameters)) argv.push_back(p);
  } else if (posix_is_file(target)) {
    std::string opener = posix_find_on_path("xdg-open");
    if (opener.empty()) return report_not_started(file, "no xdg-open to open it");
    argv = {opener, target};
  } else if (!has_separator) {
    // Not in the directory: a program on the search path, as the shell would.
    std::string program = posix_find_on_path(posix_to_utf8(file).c_str());
    if (program.empty()) return report_not_started(file, "not found");
    argv.push_back(program);
    for (const std::string& p : split_parameters(parameters)) argv.push_back(p);
  } else {
    return report_not_started(file, "not found");
  }
  if (!user_agrees_to_command(argv, folder)) return;
  posix_spawn_detached(argv, folder);
}
