// Installation actions: the script reader, file-type registration, the
// program group and the final command.
#pragma once

#include <cstdint>

#include "startup/work_area.h"

// ---- script reader ----

// The keys of the script, numbered from 1 in the order match_script_key tries them.
enum ScriptKey {
  key_window_title = 1,
  key_install_title,
  key_install_dir,
  key_class_title,
  key_class,
  key_group_title,
  key_group,
  key_command,
  key_ask_regist,
  key_flag,
};

// Moves over bytes 1 to 31; 1 when a line follows, 0 at the end of the text.
int at_next_line(const char** pos);
// The ScriptKey at the position, moved past it; 0 for none.
int match_script_key(const char** pos);
// Copies the rest of the line, at most size - 1 bytes.
void read_script_value(const char** pos, char* out, uint32_t size);
// Moves to the end of the line.
void skip_line_rest(const char** pos);
// Applies the key lines of wa->script while the archive is scanned.
void apply_script_settings();

// ---- actions after extraction ----

// The walk over the class and group lines, then the settings broadcast.
void run_script_actions(Window dialog);
// Starts the command after a clean extraction.
void run_command(Window dialog);

// ---- file types, program group, final command ----

// Copies the next comma-separated field of a line value into out (size bytes);
// 1 when the field fitted whole, 0 when it was cut.
int next_field(const char** pos, char* out, uint32_t size);
// Performs the "$Class=" line whose fields are stored in the work area.
void register_file_class();
// Creates or opens a key under HKEY_CLASSES_ROOT and sets one text value.
void set_class_value(const char* key_path, const char* value_name, const char* data);
// The short form of directory + "\\" + name into out (size bytes; may be name),
// or the joined path when the system has no short form. 0, out untouched,
// when the joined path does not fit in 255 characters.
int short_path_of(const char* directory, const char* name, char* out, uint32_t size);
// Makes sure a Program Manager is there and broadcasts the DDE initiate.
void open_progman_conversation(Window dialog);
// The dialog's handling of WM_DDE_ACK, server being the message's wParam.
void on_dde_ack(Window dialog, Window server);
// Builds the execute command and posts it to dde_server.
void send_group_command(Window dialog);
// Pumps the dialog until the conversation has ended, or gives it up after a
// bounded time without an answer.
void wait_for_conversation_end(Window dialog);
// The program part of a command into out; returns where the parameters begin.
const char* split_command_line(char* out, const char* command);
