// The work area: every piece of mutable state of the program in one
// zero-filled block, reached through one global pointer, and the few flags
// and handles that live beside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/lzh_format.h"
#include "platform/platform.h"

constexpr const char default_title[] = "Kobrix V2.60.w32.0031";

// Capacities of the buffers, texts included their terminator.
constexpr uint32_t in_buf_size = 16384;
constexpr uint32_t ring_capacity = 65536;
constexpr int lit_symbols = lzh_literal_alphabet;
// Decoding tables: a main table indexed by the next lit_main_bits or
// small_main_bits bits, and behind it the subtables of the longer codes.
// A complete code of 510 symbols needs at most 72 subtables of 64 entries
// and one of 32; one of 19 symbols at most two of 256.
constexpr int lit_main_bits = 10;
constexpr int small_main_bits = 8;
constexpr uint32_t lit_table_size = (1u << lit_main_bits) + 72 * 64 + 32;
constexpr uint32_t small_table_size = (1u << small_main_bits) + 2 * 256;
constexpr uint32_t text_size = 1024;
constexpr uint32_t script_size = 4096;
constexpr uint32_t path_size = 260;
constexpr uint32_t target_size = 516;
constexpr uint32_t dir_size = 256;

struct WorkArea {
  // Input, output and pass state
  uint32_t in_pos;
  uint32_t ring_size;
  uint32_t member_size;
  uint32_t packed_remaining;
  uint32_t out_count;
  uint32_t ring_fill;
  int32_t aborted;
  uint32_t archive_size;
  int32_t cancel_requested;
  int32_t extracting;
  int32_t group_checked;
  int32_t class_checked;
  Window dialog;
  FileHandle archive_file;
  FileHandle output_file;
  uint8_t* header_crc_field;
  uint8_t* dir_name_ptr;
  uint8_t* file_name_ptr;

  // Decoding state
  uint16_t crc_table[256];
  uint16_t header_crc;
  uint16_t attributes;
  uint16_t dir_name_len;
  uint16_t file_name_len;
  uint16_t crc;
  uint16_t block_remaining;
  uint16_t dict_bits;
  uint16_t position_count;
  uint16_t position_count_bits;
  uint16_t stored_check;
  uint8_t capture_mode;
  uint32_t bit_count;  // bits of the stream held in bit_word
  uint64_t bit_word;   // the next bits of the stream, the first of them bit 63
  uint32_t lit_table[lit_table_size];
  uint32_t small_table[small_table_size];

  // Settings, header and times
  SettingsBlock settings;
  uint8_t* header;
  int32_t time_created;
  int32_t time_accessed;
  int32_t time_written;

  // Buffers and paths
  uint8_t ring[ring_capacity];
  char member_name[path_size];
  uint8_t lit_lengths[lit_symbols];
  uint8_t small_lengths[128];
  char module_path[path_size];
  char target_path[target_size];
  char dest_dir[dir_size];
  uint8_t in_buf[in_buf_size];
  char text[text_size];
  char script[script_size];
  char program_path[path_size];
  char icon_path[path_size];
  char item_title[80];
  char command_text[text_size];
  char extension[20];
  char class_desc[20];
  char class_key[128];
  char class_title[80];
  char group_title[80];
  char group_name[80];
};

// The one work area, allocated by start-up.
extern WorkArea* wa;

// Globals outside the work area.
extern void* instance;
extern int32_t is_win32s;
extern int32_t auto_start;
extern int32_t no_overwrite_prompt;
extern int32_t skip_if_not_newer;
extern int32_t ask_register;
extern int32_t dir_from_command_line;
extern uint16_t header_crc_xor;
extern int32_t dde_state;
extern Window dde_server;
extern void* dialog_icon;

// Values of capture_mode.
enum : uint8_t { capture_none = 0, capture_message = 1, capture_script = 2 };

// Modes of run_pass.
enum PassMode { pass_scan, pass_extract };

// Little-endian fields of the file formats.
inline uint16_t get_u16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
