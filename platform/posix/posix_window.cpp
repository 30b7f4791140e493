// The front end's window on Linux: messages sent at once or posted until the
// core pumps, and the pump, which also turns Ctrl-C into Cancel.
#include "platform/posix/posix_window.h"

#include <vector>

#include "platform/posix/posix_internal.h"

namespace {

struct PostedMessage {
  Window window;
  PosixWindowMessage message;
  Window from;
};

PosixWindowProc window_proc = nullptr;

std::vector<PostedMessage>& posted() {
  static std::vector<PostedMessage>* queue = new std::vector<PostedMessage>();
  return *queue;
}

}  // namespace

void posix_set_window_proc(PosixWindowProc proc) {
  window_proc = proc;
  posted().clear();
}

void posix_send_message(Window window, PosixWindowMessage message, Window from) {
  if (window_proc != nullptr) window_proc(window, message, from);
}

void posix_post_message(Window window, PosixWindowMessage message, Window from) {
  if (window_proc != nullptr) posted().push_back({window, message, from});
}

void sys_pump_messages(Window dialog) {
  if (posix_interrupted()) posix_send_message(dialog, posix_message_cancel, nullptr);
  // Until none waits, those posted on the way included.
  std::vector<PostedMessage>& queue = posted();
  while (!queue.empty()) {
    PostedMessage m = queue.front();
    queue.erase(queue.begin());
    posix_send_message(m.window, m.message, m.from);
  }
}
