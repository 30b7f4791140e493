// Level-2 member headers as the stub reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/lzh_format.h"

namespace pack {

struct MemberEntry {
  std::string name;  // "/" inside; a directory's name ends in "/"
  bool directory = false;
  uint32_t time = 0;                                // seconds since 1970, for the fixed part
  uint16_t attributes = 0;                          // Windows file attributes
  uint64_t created = 0, written = 0, accessed = 0;  // Windows FILETIME values
};

// Longest member name the stub holds (directory part and file name joined).
constexpr size_t max_member_name = member_name_size - 1;

// The complete header: fixed part with OS id "W", then the header CRC, file name,
// directory name (0xFF after every component), attributes and the three times.
std::vector<uint8_t> member_header(const MemberEntry& entry, char method_digit, uint32_t packed,
                                   uint32_t unpacked, uint16_t crc);

// FILETIME of a time given in seconds and nanoseconds since 1970.
uint64_t filetime_of(int64_t seconds, long nanoseconds);

}  // namespace pack
