// The messages the Linux side sends the front end's window, as Windows sends
// a dialog its WM_DDE_ACK and its Cancel command, and what it asks of the
// front end: the front end registers its procedures and hands the messages
// on to the core, so that the seam is only ever called from above.
#pragma once

#include "platform/platform.h"

enum PosixWindowMessage {
  // Program Manager's stand-in answers the initiate; from is its window.
  posix_message_ack_initiate,
  // It has carried out a command; from is its window.
  posix_message_ack_execute,
  // Ctrl-C during the extraction: the Cancel button.
  posix_message_cancel,
};

typedef void (*PosixWindowProc)(Window window, PosixWindowMessage message, Window from);

// The front end's window procedure, or none with null.
void posix_set_window_proc(PosixWindowProc proc);
// Hands a message to the window procedure at once (SendMessage).
void posix_send_message(Window window, PosixWindowMessage message, Window from);
// Queues a message for the next sys_pump_messages (PostMessage).
void posix_post_message(Window window, PosixWindowMessage message, Window from);

// Whether a message box shows the archive's message, which alone keeps its
// line breaks and tabs on the terminal; asked of the front end (none: no
// text is the message).
typedef bool (*PosixMessageCheck)(const char* text);
void posix_set_message_check(PosixMessageCheck check);
