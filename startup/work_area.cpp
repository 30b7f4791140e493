// The one work area pointer and the flags and handles that live beside it.
#include "startup/work_area.h"

WorkArea* wa;

void* instance;
int32_t is_win32s;
int32_t auto_start;
int32_t no_overwrite_prompt;
int32_t skip_if_not_newer;
int32_t ask_register;
int32_t dir_from_command_line;
uint16_t header_crc_xor;
int32_t dde_state;
Window dde_server;
void* dialog_icon;
