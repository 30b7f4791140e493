// The file format that the stub reads and kobrix-pack writes, in one place:
// the settings record, the level-2 member header (its field offsets, the
// methods and the extended headers) and the CRC-16. Freestanding: the
// CRT-free stub and the builder include it alike.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(uint32_t) == 4 && sizeof(uint16_t) == 2, "fixed widths");

// ---- the settings record ----

// The 603-byte settings record at file offset 512 of the self-extracting
// file. Its texts are zero-terminated within their fields.
#pragma pack(push, 1)
struct SettingsBlock {
  uint32_t archive_offset;     // file offset of the archive (of the integrity value)
  char window_title[41];       // caption of the dialog and of every message box
  char install_title[41];      // label above the directory field
  char install_dir[256];       // default extraction directory, may start with a macro
  char command[256];           // command run after a clean extraction
  uint8_t reserved[3];         // never read
  uint8_t flags;               // settings_* bits below
  uint8_t restore_attributes;  // nonzero: restore attributes ("/" from the script)
};
#pragma pack(pop)
static_assert(sizeof(SettingsBlock) == 603, "settings record is 603 bytes");
static_assert(offsetof(SettingsBlock, window_title) == 4 &&
                  offsetof(SettingsBlock, install_title) == 45 &&
                  offsetof(SettingsBlock, install_dir) == 86 &&
                  offsetof(SettingsBlock, command) == 342 &&
                  offsetof(SettingsBlock, flags) == 601 &&
                  offsetof(SettingsBlock, restore_attributes) == 602,
              "settings record layout");

constexpr uint32_t settings_offset = 512;
constexpr uint32_t settings_size = 603;

// Bits of SettingsBlock::flags; bits 4 to 7 mean nothing (0x30 occurs).
enum : uint8_t {
  settings_auto_start = 0x01,
  settings_no_overwrite_prompt = 0x02,
  settings_integrity_value = 0x04,  // the archive starts with the 2-byte integrity value
  settings_no_date_check = 0x08,
};

// The value the script writes into restore_attributes.
constexpr uint8_t restore_attributes_on = '/';

// The integrity value: the XOR of the file-CRC fields of every member.
constexpr uint32_t integrity_value_size = 2;

// Bits of the script's "$Flag=" line, which comes after the record and the
// options: a bit of the low byte turns a switch on, the same bit of the high
// byte turns it off, and off acts second.
enum : uint32_t {
  script_flag_auto_start = 0x0001,
  script_flag_no_overwrite_prompt = 0x0002,
  script_flag_no_date_check = 0x0008,
  script_flag_restore_attributes = 0x0010,
  script_flag_off_shift = 8,
};
constexpr uint32_t script_flags_on = script_flag_auto_start | script_flag_no_overwrite_prompt |
                                     script_flag_no_date_check | script_flag_restore_attributes;
constexpr uint32_t script_flags_known =
    script_flags_on | (script_flags_on << script_flag_off_shift);

// ---- member headers ----

// Offsets in the fixed part of a level-2 member header. All integers are
// little-endian.
enum : uint32_t {
  header_size_at = 0,    // u16: the whole header; 0 ends the archive
  header_method_at = 2,  // 5 bytes: "-lh", the method digit, "-"
  header_method_digit_at = 5,
  header_packed_at = 7,       // u32: bytes of member data behind the header
  header_unpacked_at = 11,    // u32: size of the extracted file
  header_time_at = 15,        // u32: seconds since 1970
  header_attributes_at = 19,  // u8
  header_level_at = 20,       // u8
  header_file_crc_at = 21,    // u16: CRC-16 of the extracted bytes
  header_os_at = 23,          // u8: OS id
  header_fixed_part = 24,     // the first next-size field stands here
};

// A header holds the fixed part and the first next-size field; a size above
// 32767 reads as negative and is never allocated.
constexpr uint32_t smallest_header = header_fixed_part + 2;
constexpr uint32_t largest_header = 32767;
constexpr uint8_t header_level_2 = 2;

// The longest member name the stub holds (the directory part and the file
// name joined), terminator included.
constexpr uint32_t member_name_size = 260;

// Extended headers: a type byte, the data and the u16 size of the next one.
// The size of an extended header counts all three.
enum : uint8_t {
  ext_header_crc = 0x00,  // u16 CRC-16 of the header, taken with this field zero
  ext_file_name = 0x01,   // no terminator
  ext_dir_name = 0x02,    // components each closed by dir_separator
  ext_comment = 0x3F,
  ext_attributes = 0x40,     // u16 Windows file attributes
  ext_windows_times = 0x41,  // three u64 FILETIME values: created, written, accessed
};
constexpr uint32_t ext_overhead = 3;
constexpr uint8_t dir_separator = 0xFF;

// The OS id kobrix-pack writes. Only "M", "W" and "w" headers have their
// 0x40 and 0x41 extended headers honoured.
constexpr uint8_t os_id_windows = 'W';
inline bool os_keeps_windows_fields(uint8_t os) {
  return os == 'M' || os == 'W' || os == 'w';
}

// ---- methods ----

constexpr char method_stored = '0';
constexpr char method_directory = 'd';  // no data

// A method by its digit in "-lh?-": the window of the compressed ones and
// how their position code is sent.
struct LzhMethod {
  char digit;
  uint8_t dict_bits;            // the window is 2^dict_bits bytes; 0 for no compression
  uint8_t position_count;       // symbols of the position code
  uint8_t position_count_bits;  // width of the count field of the position code lengths
};
constexpr LzhMethod lzh_methods[] = {
    {method_stored, 0, 0, 0},     // -lh0-: the data is the file
    {'4', 12, 14, 4},             // -lh4-
    {'5', 13, 14, 4},             // -lh5-
    {'6', 15, 17, 5},             // -lh6-
    {'7', 16, 17, 5},             // -lh7-
    {method_directory, 0, 0, 0},  // -lhd-: a directory, no data
};

// The method of a digit, or null for one the stub does not read.
constexpr const LzhMethod* find_lzh_method(char digit) {
  for (const LzhMethod& m : lzh_methods)
    if (m.digit == digit) return &m;
  return nullptr;
}

// find_lzh_method(digit) != nullptr in fewer instructions: the stub tests
// every header with it.
constexpr bool is_method_digit(char m) {
  return m == method_stored || (m >= '4' && m <= '7') || m == method_directory;
}
constexpr bool method_digits_agree() {
  for (int c = 0; c < 256; ++c)
    if (is_method_digit(char(c)) != (find_lzh_method(char(c)) != nullptr)) return false;
  return true;
}
static_assert(method_digits_agree(), "is_method_digit and lzh_methods name the same methods");

// Whether the 5 bytes of a method field name a method the stub reads.
inline bool is_known_method(const uint8_t* field) {
  return field[0] == '-' && field[1] == 'l' && field[2] == 'h' && field[4] == '-' &&
         is_method_digit(char(field[3]));
}

// The block format of the compressed methods.
constexpr int lzh_literal_alphabet = 510;  // 256 bytes and match lengths 3 to 256
constexpr int lzh_code_length_alphabet = 19;
constexpr int lzh_max_position_alphabet = 17;
constexpr int lzh_max_code_bits = 16;
constexpr int lzh_min_match = 3;
constexpr int lzh_max_match = 256;

// ---- CRC-16 ----

// Reflected polynomial 0xA001, start 0, no final inversion: "abc" gives 0x9738.
constexpr uint16_t crc_polynomial = 0xA001;

// Fills the 256 entries of table for the polynomial. For crc_polynomial it
// also makes, once, the tables behind crc16_run's fast paths; call it before
// any crc16_run on another thread.
void crc16_make_table(uint16_t* table, uint16_t polynomial);
// The CRC after the bytes, from crc, by a table crc16_make_table filled; a
// length of 0 or less changes nothing.
uint16_t crc16_run(const uint16_t* table, uint16_t crc, const uint8_t* data, int32_t length);
