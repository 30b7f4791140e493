// The installation actions on Linux. What the Windows calls would write is
// collected and becomes, under the user's data folder:
//   file types    mime/packages/kobrix-<class>.xml and
//                 applications/kobrix-<class>.desktop (written at the
//                 settings broadcast that ends the walk over the script);
//   program items applications/<group>/kobrix-<group>-<title>.desktop,
//                 written by a stand-in for Program Manager that answers
//                 the DDE conversation and carries out its commands.
// The command starts detached in the extraction directory, or a document
// opens with xdg-open.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "install/install.h"
#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"
#include "startup/work_area.h"

namespace {

// ---- recording ----

struct InstallState {
  bool recording = false;
  std::vector<PosixInstallCall> calls;
  PosixDdeServer server_mode = dde_server_answers;
  // The keys written under the classes root since the last broadcast,
  // lower-cased, with their default values.
  std::map<std::string, std::string> classes;
  // WIN.INI "Extensions": extension without its period -> "program ^.ext".
  std::map<std::string, std::string> extensions;
  // Global atoms: name (lower-cased) -> atom and reference count.
  std::map<std::string, std::pair<uint16_t, int>> atoms;
  uint16_t next_atom = 0xC000;
  // The group named by the last CreateGroup of the conversation.
  std::string current_group;
  // The "$Group=" line of the conversation names what would change the
  // structure of the commands: they are not carried out.
  bool skip_commands = false;
  // The user agreed in advance to the settings command (--run-command).
  bool command_agreed = false;
  uint32_t clock_step = 0;
  uint32_t clock_offset = 0;
};

InstallState& state() {
  static InstallState* s = new InstallState();
  return *s;
}

void record(const char* name, std::initializer_list<const char*> args) {
  InstallState& s = state();
  if (!s.recording) return;
  PosixInstallCall call;
  call.name = name;
  for (const char* a : args) call.args.push_back(a != nullptr ? a : "(null)");
  s.calls.push_back(call);
}

// Stands for Program Manager's window.
char progman_window;

// ---- texts ----

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// A name usable in a MIME type and a desktop file ID: ASCII letters and
// digits, ".", "_", "+" and "-"; anything else becomes "-".
std::string mime_token(const std::string& name) {
  std::string out;
  for (char c : lower_ascii(name)) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                c == '+' || c == '-';
    out += keep ? c : '-';
  }
  return out.empty() ? std::string("-") : out;
}

// A name usable as one file-name component (UTF-8 kept): separators,
// blanks, control and shell characters become "_"; never hidden or empty.
std::string file_component(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    bool replace = u < 0x20 || u == 0x7F || std::strchr("/\\ :*?\"<>|'`$&;", c) != nullptr;
    out += replace ? '_' : c;
  }
  if (out.empty()) return "_";
  if (out[0] == '.') out[0] = '_';
  return out;
}

std::string xml_escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A desktop-entry string value.
std::string entry_value(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c == ' ' && i == 0)
      out += "\\s";
    else
      out += c;
  }
  return out;
}

// One argument of an Exec key, quoted, before the value escaping.
std::string exec_argument(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return out + "\"";
}

// Tells the user on standard error why an action of the archive is left out.
void note(const std::string& what) {
  posix_end_progress_line();
  std::fprintf(stderr, "kobrix: %s\n", terminal_safe(what).c_str());
  std::fflush(stderr);
}

// An extension (after its period) or a class key: ASCII letters and digits,
// ".", "_", "+" and "-" (and blanks in a class key, which its MIME type
// writes as "-"), beginning with a letter or digit; no glob characters and
// no separators.
bool plain_name(const std::string& name, bool class_key) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && (i == 0 || std::strchr(class_key ? "._+- " : "._+-", c) == nullptr)) return false;
  }
  return true;
}

// A field of a "$Group=" line (archive text) that would change the
// structure of the commands sent for it: brackets, parentheses, quotes,
// control characters. Looked for in UTF-8, where the trail byte of a
// double-byte character ("\x81\x5B" is a long vowel mark) is no bracket.
bool structural_field(const char* field) {
  for (unsigned char c : posix_to_utf8(field))
    if (c < 0x20 || c == 0x7F || std::strchr("[]()\"", c) != nullptr) return true;
  return false;
}

// ---- files ----

bool make_directories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = slash == std::string::npos ? path : path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the file whole or not at all: a temporary file renamed over it.
bool write_file(const std::string& path, const std::string& contents) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || !make_directories(path.substr(0, slash))) return false;
  std::string temporary = path + ".kobrix-new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  bool ok = done == contents.size();
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

bool is_file(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_program(const std::string& path) {
  return is_file(path) && access(path.c_str(), X_OK) == 0;
}

// The full path of a program found on PATH, or empty.
std::string find_on_path(const char* name) {
  const char* path = getenv("PATH");
  if (path == nullptr) return std::string();
  std::string dirs = path;
  size_t i = 0;
  while (i <= dirs.size()) {
    size_t colon = dirs.find(':', i);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(i, colon - i);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      if (is_program(candidate)) return candidate;
    }
    i = colon + 1;
  }
  return std::string();
}

// Starts argv[0] (a full path) in directory, in a session of its own, and
// does not wait for it: an intermediate child that ends at once is reaped.
// In a child: standard input and output go to /dev/null, away from the
// runner's terminal and pipes.
void silence_standard_streams() {
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
  }
}

void wait_for_child(pid_t child) {
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

void spawn_detached(const std::vector<std::string>& argv, const std::string& directory) {
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(127);
    silence_standard_streams();
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  wait_for_child(child);
}

// Runs a desktop database tool on a folder when the tool is installed, and
// waits for it; its output is dropped.
void run_tool_if_present(const char* tool, const std::string& folder) {
  std::string program = find_on_path(tool);
  if (program.empty()) return;
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    silence_standard_streams();
    execl(program.c_str(), tool, folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  wait_for_child(child);
}

// The Linux path of a path of the core (archive text).
std::string linux_path(const std::string& core_path) {
  return posix_map_path(core_path.c_str());
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// ---- file types ----

// The program of a command value "\"program\" \"%1\"" (archive text).
std::string program_of_command(const std::string& command) {
  if (!command.empty() && command[0] == '"') {
    size_t close = command.find('"', 1);
    return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return command.substr(0, command.find(' '));
}

bool write_file_type(const std::string& extension, const std::string& class_key,
                     const std::string& description, const std::string& program) {
  std::string token = mime_token(class_key);
  std::string mime_type = "application/x-kobrix-" + token;
  std::string home = posix_data_home();
  std::string comment =
      posix_to_utf8(description.empty() ? class_key.c_str() : description.c_str());
  std::string glob = "*" + posix_to_utf8(extension.c_str());

  std::string package =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" +
      mime_type +
      "\">\n"
      "    <comment>" +
      xml_escaped(comment) +
      "</comment>\n"
      "    <glob pattern=\"" +
      xml_escaped(glob) +
      "\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  bool written = write_file(home + "/mime/packages/kobrix-" + token + ".xml", package);
  if (program.empty()) return written;

  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      entry_value(comment) +
      "\n"
      "Exec=" +
      entry_value(exec_argument(linux_path(program))) +
      " %f\n"
      "MimeType=" +
      mime_type +
      ";\n"
      "NoDisplay=true\n";
  return write_file(home + "/applications/kobrix-" + token + ".desktop", entry) || written;
}

// Writes every file type collected since the last broadcast.
void commit_file_types() {
  InstallState& s = state();
  bool any = false;
  // An extension's key: a period, a name, no subkey.
  auto extension_key = [](const std::string& key) {
    return key.size() >= 2 && key[0] == '.' && key.find('\\') == std::string::npos;
  };
  // The class keys the extensions name: one that begins with a period has
  // its own key among the extensions' keys.
  std::set<std::string> class_keys;
  for (const auto& key : s.classes)
    if (extension_key(key.first)) class_keys.insert(lower_ascii(key.second));
  for (const auto& key : s.classes) {
    if (!extension_key(key.first)) continue;
    const std::string& class_key = key.second;
    if (class_key.empty() || class_keys.count(key.first) != 0) continue;
    if (!plain_name(key.first.substr(1), false) || !plain_name(class_key, true)) {
      note("file type " + posix_to_utf8(key.first.c_str()) + " of class " +
           posix_to_utf8(class_key.c_str()) +
           " skipped: an extension and a class key are letters, digits, \".\", \"_\", \"+\" "
           "and \"-\"");
      continue;
    }
    std::string lower = lower_ascii(class_key);
    auto description = s.classes.find(lower);
    auto command = s.classes.find(lower + "\\shell\\open\\command");
    any |= write_file_type(
        key.first, class_key, description != s.classes.end() ? description->second : std::string(),
        command != s.classes.end() ? program_of_command(command->second) : std::string());
  }
  for (const auto& entry : s.extensions) {
    // "program ^.ext": the class is named after the extension.
    const std::string& value = entry.second;
    size_t caret = value.rfind(" ^");
    if (entry.first.empty() || caret == std::string::npos) continue;
    if (!plain_name(entry.first, false)) {
      note("file type ." + posix_to_utf8(entry.first.c_str()) +
           " skipped: an extension is letters, digits, \".\", \"_\", \"+\" and \"-\"");
      continue;
    }
    any |=
        write_file_type(value.substr(caret + 2), entry.first, entry.first, value.substr(0, caret));
  }
  s.classes.clear();
  s.extensions.clear();
  if (!any) return;
  std::string home = posix_data_home();
  run_tool_if_present("update-mime-database", home + "/mime");
  run_tool_if_present("update-desktop-database", home + "/applications");
}

// ---- program items ----

// The arguments of one DDE command, split at commas outside double quotes,
// the quotes removed.
std::vector<std::string> command_arguments(const std::string& text) {
  std::vector<std::string> args(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"')
      quoted = !quoted;
    else if (c == ',' && !quoted)
      args.emplace_back();
    else
      args.back() += c;
  }
  return args;
}

std::string joined(const std::vector<std::string>& parts, size_t first, size_t last) {
  std::string out;
  for (size_t i = first; i < last; ++i) out += (i > first ? "," : "") + parts[i];
  return out;
}

// AddItem (path, title[, icon]). Linux paths keep their long form and may
// hold commas: with more arguments than that, the path and the icon are the
// runs of arguments that name existing files.
void add_item(const std::vector<std::string>& args) {
  std::string path = args[0], title, icon;
  size_t rest = 1;
  if (args.size() > 3) {
    for (size_t k = 1; k <= args.size(); ++k) {
      if (is_file(linux_path(joined(args, 0, k)))) {
        path = joined(args, 0, k);
        rest = k;
        break;
      }
    }
  }
  size_t title_end = args.size();
  if (args.size() - rest >= 2) {
    title_end = rest + 1;
    if (args.size() - rest > 2) {
      for (size_t j = rest + 1; j < args.size(); ++j) {
        if (is_file(linux_path(joined(args, j, args.size())))) {
          title_end = j;
          break;
        }
      }
    }
    icon = joined(args, title_end, args.size());
  }
  if (rest < args.size()) title = joined(args, rest, title_end);

  InstallState& s = state();
  std::string program = linux_path(path);
  if (program.empty()) return;
  std::string group = posix_to_utf8(s.current_group.c_str());
  std::string name = posix_to_utf8(title.c_str());
  if (name.empty()) name = program.substr(program.rfind('/') + 1);

  std::string exec =
      is_program(program) ? exec_argument(program) : "xdg-open " + exec_argument(program);
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      entry_value(name) +
      "\n"
      "Exec=" +
      entry_value(exec) +
      "\n"
      "Path=" +
      entry_value(directory_of(program)) + "\n";
  if (!icon.empty()) entry += "Icon=" + entry_value(linux_path(icon)) + "\n";
  std::string folder = file_component(group);
  write_file(posix_data_home() + "/applications/" + folder + "/kobrix-" + folder + "-" +
                 file_component(name) + ".desktop",
             entry);
}

// Carries out the commands of one execute text: [Name(arguments)] ...
void carry_out(const std::string& text) {
  size_t i = 0;
  while ((i = text.find('[', i)) != std::string::npos) {
    size_t open = text.find('(', i);
    if (open == std::string::npos) break;
    // The command ends at the ")]" followed by the end, a blank or the next "[".
    size_t close = open;
    for (;;) {
      close = text.find(")]", close + 1);
      if (close == std::string::npos) break;
      size_t after = close + 2;
      if (after >= text.size() || text[after] == '[' || text[after] == '\n' ||
          text[after] == '\r' || text[after] == ' ')
        break;
    }
    if (close == std::string::npos) break;
    std::string name = lower_ascii(text.substr(i + 1, open - i - 1));
    std::vector<std::string> args = command_arguments(text.substr(open + 1, close - open - 1));
    if (name == "creategroup")
      state().current_group = args[0];
    else if (name == "additem" && !args[0].empty())
      add_item(args);
    i = close + 2;
  }
}

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
  if (state().command_agreed) {
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

}  // namespace

// ---- test and runner settings ----

void posix_set_run_command(int agreed) {
  state().command_agreed = agreed != 0;
}

void posix_install_record(bool on) {
  state().recording = on;
}

const std::vector<PosixInstallCall>& posix_install_calls() {
  return state().calls;
}

void posix_install_clear_calls() {
  state().calls.clear();
}

void posix_install_set_server(PosixDdeServer mode) {
  state().server_mode = mode;
}

void posix_install_set_clock_step(uint32_t step) {
  state().clock_step = step;
  state().clock_offset = 0;
}

// The home folder /etc/passwd gives the user, or "/". Read directly: the runner is
// linked statically, where getpwuid would need the shared libraries of the glibc it
// was built with at run time.
static std::string home_of_user(uid_t uid) {
  FILE* file = fopen("/etc/passwd", "r");
  if (file == nullptr) return "/";
  std::string home = "/";
  char line[1024];
  while (fgets(line, sizeof line, file) != nullptr) {
    // name:password:uid:gid:comment:home:shell
    std::vector<std::string> fields(1);
    for (const char* c = line; *c != 0 && *c != '\n'; ++c) {
      if (*c == ':')
        fields.emplace_back();
      else
        fields.back() += *c;
    }
    if (fields.size() >= 6 && fields[2] == std::to_string(uid) && fields[5][0] == '/') {
      home = fields[5];
      break;
    }
  }
  fclose(file);
  return home;
}

std::string posix_data_home() {
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return posix_normalise(data);
  const char* home = getenv("HOME");
  std::string base;
  if (home != nullptr && home[0] == '/') {
    base = home;
  } else {
    base = home_of_user(getuid());
  }
  return posix_normalise(base + "/.local/share");
}

// ---- registry and WIN.INI ----

void sys_set_class_value(const char* key_path, const char* value_name, const char* data) {
  record("set_class_value", {key_path, value_name, data});
  // Only default values make up a file type.
  if (value_name[0] == 0) state().classes[lower_ascii(key_path)] = data;
}

void sys_write_profile_string(const char* section, const char* key, const char* value) {
  record("write_profile_string", {section, key, value});
  if (lower_ascii(section) == "extensions" && key != nullptr && value != nullptr)
    state().extensions[lower_ascii(key)] = value;
}

void sys_broadcast_settings_change() {
  record("broadcast_settings_change", {});
  commit_file_types();
}

int sys_actions_after_stop() {
  return 0;
}

// ---- the conversation with the stand-in for Program Manager ----

Window sys_find_program_manager() {
  record("find_program_manager", {});
  return state().server_mode == dde_server_absent ? nullptr : &progman_window;
}

int sys_start_program_manager() {
  record("start_program_manager", {});
  return 0;
}

uint16_t sys_add_atom(const char* name) {
  InstallState& s = state();
  auto& atom = s.atoms[lower_ascii(name)];
  if (atom.second == 0) atom.first = s.next_atom++;
  ++atom.second;
  return atom.first;
}

void sys_delete_atom(uint16_t atom) {
  InstallState& s = state();
  for (auto it = s.atoms.begin(); it != s.atoms.end(); ++it) {
    if (it->second.first != atom) continue;
    if (--it->second.second == 0) s.atoms.erase(it);
    return;
  }
}

void sys_dde_initiate(Window client, uint16_t application, uint16_t topic) {
  InstallState& s = state();
  std::string application_name, topic_name;
  for (const auto& atom : s.atoms) {
    if (atom.second.first == application) application_name = atom.first;
    if (atom.second.first == topic) topic_name = atom.first;
  }
  record("dde_initiate", {application_name.c_str(), topic_name.c_str()});
  if (s.server_mode == dde_server_absent) return;
  if (application_name != "progman" || topic_name != "progman") return;
  s.current_group.clear();
  // The fields of the line, before the paths are joined to the directory.
  s.skip_commands = false;
  if (wa != nullptr) {
    for (const char* field : {wa->group_name, wa->item_title, wa->program_path, wa->icon_path}) {
      if (!structural_field(field)) continue;
      note("\"$Group=\" line for " + posix_to_utf8(wa->item_title) +
           " skipped: its fields hold brackets, parentheses or quotes");
      s.skip_commands = true;
      break;
    }
  }
  on_dde_ack(client, &progman_window);
}

void* sys_dde_command_block(const char* command) {
  char* block = static_cast<char*>(calloc(1, 1025));
  if (block == nullptr) return nullptr;
  std::strncpy(block, command, 1024);
  return block;
}

int sys_dde_post_execute(Window server, Window client, void* block) {
  const char* text = static_cast<const char*>(block);
  record("dde_execute", {text});
  if (server != &progman_window) {
    free(block);
    return 0;
  }
  if (!state().skip_commands) carry_out(text);
  free(block);
  // The acknowledgement of the command: the core ends the conversation.
  if (state().server_mode == dde_server_answers) on_dde_ack(client, server);
  return 1;
}

void sys_dde_post_terminate(Window server, Window client) {
  (void)server;
  (void)client;
  record("dde_terminate", {});
  state().current_group.clear();
}

// ---- the shell ----

void sys_shell_execute(Window owner, const char* file, const char* parameters,
                       const char* directory) {
  (void)owner;
  record("shell_execute", {file, parameters, directory});
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
  if (is_program(target)) {
    argv.push_back(target);
    for (const std::string& p : split_parameters(parameters)) argv.push_back(p);
  } else if (is_file(target)) {
    std::string opener = find_on_path("xdg-open");
    if (opener.empty()) return;
    argv = {opener, target};
  } else if (!has_separator) {
    // Not in the directory: a program on the search path, as the shell would.
    std::string program = find_on_path(posix_to_utf8(file).c_str());
    if (program.empty()) return;
    argv.push_back(program);
    for (const std::string& p : split_parameters(parameters)) argv.push_back(p);
  } else {
    return;
  }
  if (!user_agrees_to_command(argv, folder)) return;
  spawn_detached(argv, folder);
}

uint32_t sys_tick_count() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  InstallState& s = state();
  s.clock_offset += s.clock_step;
  return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u) + s.clock_offset;
}

std::string posix_mime_token(const std::string& name) {
  return mime_token(name);
}

std::string posix_file_component(const std::string& utf8) {
  return file_component(utf8);
}
