// Program items through a DDE conversation with Program Manager: one
// conversation (initiate, execute, terminate) for each "$Group=" line.
#include "install/install.h"
#include "startup/startup.h"

namespace {

// The service and the topic.
constexpr char progman_name[] = "PROGMAN";
// The command block, terminator included.
constexpr uint32_t command_block_size = 1025;

// A server answers the initiate while it is being sent, so a conversation
// still waiting for its first acknowledgement after this has no server.
constexpr uint32_t initiate_wait_ms = 2000;
// Time a server has to carry out one command.
constexpr uint32_t command_wait_ms = 10000;

enum : int32_t {
  dde_idle = 0,
  dde_initiated = 1,
  dde_command_posted = 2,
  dde_ended = -1,
};

}  // namespace

void open_progman_conversation(Window dialog) {
  if (sys_find_program_manager() == nullptr) sys_start_program_manager();
  dde_state = dde_initiated;
  uint16_t application = sys_add_atom(progman_name);
  uint16_t topic = sys_add_atom(progman_name);
  sys_dde_initiate(dialog, application, topic);
  sys_delete_atom(topic);
  sys_delete_atom(application);
}

void on_dde_ack(Window dialog, Window server) {
  if (dde_state == dde_initiated) {
    dde_server = server;
    send_group_command(dialog);
  } else if (dde_state == dde_command_posted) {
    sys_dde_post_terminate(dde_server, dialog);
    dde_state = dde_ended;
  }
}

void send_group_command(Window dialog) {
  char tail[264];
  short_path_of(wa->dest_dir, wa->program_path, wa->program_path, 256);
  if (wa->icon_path[0] != 0) {
    short_path_of(wa->dest_dir, wa->icon_path, wa->icon_path, 256);
    format_text(tail, sizeof(tail), ",%s)]", wa->icon_path);
  } else {
    text_copy(tail, ")]", sizeof(tail));
  }
  format_text(wa->command_text, text_size, "[CreateGroup(\"%s\",0)]\n[AddItem(%s,%s",
              wa->group_name, wa->program_path, wa->item_title);
  text_append(wa->command_text, tail, text_size);
  if (text_length(wa->command_text) >= command_block_size) return;

  void* block = sys_dde_command_block(wa->command_text);
  if (block == nullptr) return;
  dde_state = dde_command_posted;
  sys_dde_post_execute(dde_server, dialog, block);
}

void wait_for_conversation_end(Window dialog) {
  int32_t state = dde_state;
  uint32_t since = sys_tick_count();
  while (dde_state != dde_ended) {
    drain_messages(dialog);
    if (dde_state != state) {
      state = dde_state;
      since = sys_tick_count();
      continue;
    }
    uint32_t limit = state == dde_command_posted ? command_wait_ms : initiate_wait_ms;
    if (sys_tick_count() - since < limit) continue;
    // No answer in time: end the conversation so that the next line can
    // start its own; a late acknowledgement is then ignored.
    if (state == dde_command_posted) sys_dde_post_terminate(dde_server, dialog);
    dde_state = dde_ended;
  }
}
