// The terminal front end's window procedure: what Windows would send the
// main dialog during the extraction pass, handed on to the core as the
// dialog's own procedure does.
#pragma once

#include "platform/posix/posix_window.h"

// The answers of Program Manager's stand-in go to on_dde_ack; Cancel (Ctrl-C)
// sets cancel_requested while extracting.
void terminal_dialog_message(Window dialog, PosixWindowMessage message, Window from);

// Whether a message box's text is the archive's message (the member "!"),
// which keeps its line breaks and tabs.
bool terminal_shows_message(const char* text);
