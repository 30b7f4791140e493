// kobrix: runs a self-extracting file on Linux.
//   kobrix [--root DIR] [--codepage N] [--run-command] FILE [ARG...]
//   kobrix --list|--test [--json] [--root DIR] [--codepage N] FILE
// FILE is read as the program's own file; the ARGs are its command line.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"
#include "startup/startup.h"
#include "ui/terminal/sfx_listing.h"
#include "ui/terminal/terminal_dialog.h"

namespace {

constexpr int usage_error = 2;

const char usage_text[] =
    "usage: kobrix [--root DIR] [--codepage N] [--run-command] FILE [ARG...]\n"
    "       kobrix --list|--test [--json] [--root DIR] [--codepage N] FILE\n"
    "Runs the self-extracting file FILE. The ARGs are its own command line:\n"
    "  -n    start the extraction without asking    -n-  never start by itself\n"
    "  -c    no date comparison before overwriting  -c-  compare dates\n"
    "  DIR   the extraction directory (after an option)\n"
    "Options:\n"
    "  --root DIR     folder that stands in for drive C:\n"
    "                 (default: $XDG_DATA_HOME/kobrix/drive_c, ~/.local/share/...)\n"
    "  --codepage N   code page of the names in the archive (default: 932)\n"
    "  --list         show the installer, its message and script, and the members\n"
    "  --test         decode every member and check it; writes nothing\n"
    "  --json         with --list or --test: one JSON document\n"
    "  --run-command  run the archive's command without asking (else asked on\n"
    "                 the terminal; without a terminal it is not run)\n"
    "  --help, --version\n"
    "Exit codes: 0 nothing extracted (error, No or Cancel before the extraction),\n"
    "1 the extraction ran (also after an error or Cancel during it), 2 usage.\n"
    "With --list or --test: 0 the file is sound, 1 it is not, 2 usage.\n";

int usage_failure(const char* message, const char* detail) {
  std::fprintf(stderr, "kobrix: %s%s\n%s", message, terminal_safe(detail).c_str(), usage_text);
  return usage_error;
}

// A UTF-8 path made absolute, resolved when it exists.
std::string absolute_path(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr) return resolved;
  if (path[0] == '/') return posix_normalise(path);
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return posix_normalise(std::string(cwd) + "/" + path);
}

// The stub's command line in the archive's code page; an argument with a
// blank in it is quoted so that it stays one token.
std::string argument_text(int count, char** args) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    std::string arg = posix_from_utf8(args[i]);
    if (i > 0) text += ' ';
    if (arg.empty() || arg.find_first_of(" \t") != std::string::npos)
      text += "\"" + arg + "\"";
    else
      text += arg;
  }
  return text;
}

bool parse_code_page(const char* text, uint32_t* out) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != 0 || value == 0 || value > 65535) return false;
  *out = uint32_t(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* root = nullptr;
  uint32_t code_page = 0;  // the default, 932, is taken when a text needs it
  bool list = false, test = false, json = false;
  int i = 1;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(arg, "--help") == 0) {
      std::fputs(usage_text, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--run-command") == 0) {
      posix_set_run_command(1);
      continue;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("kobrix 2.60 (%s)\n", default_title);
      return 0;
    }
    bool* mode = std::strcmp(arg, "--list") == 0   ? &list
                 : std::strcmp(arg, "--test") == 0 ? &test
                 : std::strcmp(arg, "--json") == 0 ? &json
                                                   : nullptr;
    if (mode != nullptr) {
      *mode = true;
      continue;
    }
    bool with_value = std::strcmp(arg, "--root") == 0 || std::strcmp(arg, "--codepage") == 0;
    const char* value = nullptr;
    if (with_value) {
      if (i + 1 >= argc) return usage_failure("missing value for ", arg);
      value = argv[++i];
    } else if (std::strncmp(arg, "--root=", 7) == 0) {
      value = arg + 7, arg = "--root";
    } else if (std::strncmp(arg, "--codepage=", 11) == 0) {
      value = arg + 11, arg = "--codepage";
    } else if (arg[0] == '-' && arg[1] == '-') {
      return usage_failure("unknown option ", arg);
    } else {
      break;
    }
    if (std::strcmp(arg, "--root") == 0) {
      root = value;
    } else if (!parse_code_page(value, &code_page)) {
      return usage_failure("not a code page number: ", value);
    }
  }
  if (i >= argc) return usage_failure("missing FILE", "");
  if (list && test) return usage_failure("--list and --test exclude each other", "");
  if (json && !list && !test) return usage_failure("--json goes with --list or --test", "");
  if ((list || test) && i + 1 < argc) return usage_failure("unexpected argument ", argv[i + 1]);
  // --list and --test write nothing: there the default root is only named.
  bool inspecting = list || test;
  bool default_root = root == nullptr;
  std::string own_root = default_root ? posix_default_root(!inspecting) : root;
  root = own_root.c_str();

  struct stat st;
  if (!(default_root && inspecting) && (stat(root, &st) != 0 || !S_ISDIR(st.st_mode))) {
    std::fprintf(stderr, "kobrix: root folder %s does not exist\n", terminal_safe(root).c_str());
    return usage_error;
  }
  if (code_page != 0 && !posix_set_code_page(code_page)) {
    std::fprintf(stderr, "kobrix: code page %u cannot be converted on this system\n",
                 unsigned(code_page));
    return usage_error;
  }
  std::string problem = sfx_file_problem(argv[i]);
  if (!problem.empty()) {
    std::fprintf(stderr, "kobrix: %s is not a self-extracting file: %s\n",
                 terminal_safe(argv[i]).c_str(), problem.c_str());
    return list || test ? 1 : usage_error;
  }
  posix_set_root(absolute_path(root).c_str());
  if (!inspecting) std::fprintf(stderr, "Drive C: is %s\n", terminal_safe(posix_root()).c_str());
  posix_set_module_path(absolute_path(argv[i]).c_str());
  if (list || test) return inspect_and_report(argv[i], test, json);
  posix_catch_interrupt();
  posix_set_message_check(terminal_shows_message);

  std::string text = argument_text(argc - i - 1, argv + i + 1);
  int result = start_program(nullptr, text.c_str());
  std::fflush(nullptr);
  return result;
}
