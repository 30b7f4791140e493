// A stand-in for Program Manager on Linux: it answers the DDE conversation
// for "PROGMAN" and carries out its commands, CreateGroup and AddItem, as
// menu entries in a folder named after the group. Its answers go to the
// client's window (posix_window.h), as Windows sends WM_DDE_ACK.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_window.h"

namespace {

struct Conversation {
  // Global atoms: name (lower-cased) -> atom and reference count.
  std::map<std::string, std::pair<uint16_t, int>> atoms;
  uint16_t next_atom = 0xC000;
  // The group named by the last CreateGroup of the conversation.
  std::string current_group;
  // The "$Group=" line of the conversation names what would change the
  // structure of the commands: they are not carried out.
  bool skip_commands = false;
};

Conversation& conversation() {
  static Conversation* c = new Conversation();
  return *c;
}

// Stands for Program Manager's window.
char progman_window;

// The Linux path of a path of the core (archive text).
std::string linux_path(const std::string& core_path) {
  return posix_map_path(core_path.c_str());
}

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
// hold commas, so the path is the shortest run of arguments that names an
// existing file (a folder "C:\a,b" splits "C:\a,b\README.TXT,Read Me" in
// three), and with arguments left beyond the title the icon is the same.
void add_item(const std::vector<std::string>& args) {
  std::string path = args[0], title, icon;
  size_t rest = 1;
  if (args.size() > 1) {
    for (size_t k = 1; k <= args.size(); ++k) {
      if (posix_is_file(linux_path(joined(args, 0, k)))) {
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
        if (posix_is_file(linux_path(joined(args, j, args.size())))) {
          title_end = j;
          break;
        }
      }
    }
    icon = joined(args, title_end, args.size());
  }
  if (rest < args.size()) title = joined(args, rest, title_end);

  std::string program = linux_path(path);
  if (program.empty()) return;
  std::string name = posix_to_utf8(title.c_str());
  if (name.empty()) name = program.substr(program.rfind('/') + 1);
  posix_write_menu_entry(posix_to_utf8(conversation().current_group.c_str()), name, program,
                         icon.empty() ? std::string() : linux_path(icon));
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
    std::string name = posix_lower_ascii(text.substr(i + 1, open - i - 1));
    std::vector<std::string> args = command_arguments(text.substr(open + 1, close - open - 1));
    if (name == "creategroup")
      conversation().current_group = args[0];
    else if (name == "additem" && !args[0].empty())
      add_item(args);
    i = close + 2;
  }
}

}  // namespace

void posix_progman_line(const char* group, const char* title, const char* program,
                        const char* icon) {
  conversation().skip_commands = posix_group_line_refused(group, title, program, icon);
}

Window sys_find_program_manager() {
  return &progman_window;
}

int sys_start_program_manager() {
  return 0;
}

uint16_t sys_add_atom(const char* name) {
  Conversation& c = conversation();
  auto& atom = c.atoms[posix_lower_ascii(name)];
  if (atom.second == 0) atom.first = c.next_atom++;
  ++atom.second;
  return atom.first;
}

void sys_delete_atom(uint16_t atom) {
  Conversation& c = conversation();
  for (auto it = c.atoms.begin(); it != c.atoms.end(); ++it) {
    if (it->second.first != atom) continue;
    if (--it->second.second == 0) c.atoms.erase(it);
    return;
  }
}

void sys_dde_initiate(Window client, uint16_t application, uint16_t topic) {
  Conversation& c = conversation();
  std::string application_name, topic_name;
  for (const auto& atom : c.atoms) {
    if (atom.second.first == application) application_name = atom.first;
    if (atom.second.first == topic) topic_name = atom.first;
  }
  if (application_name != "progman" || topic_name != "progman") return;
  c.current_group.clear();
  c.skip_commands = false;
  // Answered while the initiate is sent, as a server answers on Windows.
  posix_send_message(client, posix_message_ack_initiate, &progman_window);
}

void* sys_dde_command_block(const char* command) {
  char* block = static_cast<char*>(calloc(1, 1025));
  if (block == nullptr) return nullptr;
  std::strncpy(block, command, 1024);
  return block;
}

int sys_dde_post_execute(Window server, Window client, void* block) {
  const char* text = static_cast<const char*>(block);
  if (server != &progman_window) {
    free(block);
    return 0;
  }
  if (!conversation().skip_commands) carry_out(text);
  free(block);
  posix_post_message(client, posix_message_ack_execute, server);
  return 1;
}

void sys_dde_post_terminate(Window server, Window client) {
  (void)server;
  (void)client;
  conversation().current_group.clear();
}
