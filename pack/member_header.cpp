#include "pack/member_header.h"

#include <algorithm>

#include "format/lzh_format.h"
#include "pack/crc16.h"

namespace pack {
namespace {

void set16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void set32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  set16(out, at, static_cast<uint16_t>(value));
  set16(out, at + 2, static_cast<uint16_t>(value >> 16));
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value));
  put16(out, static_cast<uint16_t>(value >> 16));
}

void put64(std::vector<uint8_t>& out, uint64_t value) {
  put32(out, static_cast<uint32_t>(value));
  put32(out, static_cast<uint32_t>(value >> 32));
}

// Appends an extended header: its size (type, data and the next size field) goes into
// the size field that ends the part before it.
void extended(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& data) {
  set16(out, out.size() - 2, static_cast<uint16_t>(data.size() + ext_overhead));
  out.push_back(type);
  out.insert(out.end(), data.begin(), data.end());
  put16(out, 0);
}

}  // namespace

uint64_t filetime_of(int64_t seconds, long nanoseconds) {
  const int64_t ticks = (seconds + 11644473600ll) * 10000000ll + nanoseconds / 100;
  return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

std::vector<uint8_t> member_header(const MemberEntry& entry, char method_digit, uint32_t packed,
                                   uint32_t unpacked, uint16_t crc) {
  const size_t split = entry.name.rfind('/');
  const std::string dir = split == std::string::npos ? "" : entry.name.substr(0, split + 1);
  const std::string file = split == std::string::npos ? entry.name : entry.name.substr(split + 1);

  // The fixed part and the first next-size field; the sizes are set below.
  std::vector<uint8_t> out(smallest_header, 0);
  const char method[5] = {'-', 'l', 'h', method_digit, '-'};
  std::copy(method, method + 5, out.begin() + header_method_at);
  set32(out, header_packed_at, packed);
  set32(out, header_unpacked_at, unpacked);
  set32(out, header_time_at, entry.time);
  out[header_attributes_at] = static_cast<uint8_t>(entry.attributes);
  out[header_level_at] = header_level_2;
  set16(out, header_file_crc_at, crc);
  out[header_os_at] = os_id_windows;

  extended(out, ext_header_crc, {0, 0});
  const size_t crc_at = out.size() - 4;
  extended(out, ext_file_name, std::vector<uint8_t>(file.begin(), file.end()));
  if (!dir.empty()) {
    std::vector<uint8_t> parts(dir.begin(), dir.end());
    for (uint8_t& c : parts) {
      if (c == '/') c = dir_separator;
    }
    extended(out, ext_dir_name, parts);
  }
  std::vector<uint8_t> attributes;
  put16(attributes, entry.attributes);
  extended(out, ext_attributes, attributes);
  std::vector<uint8_t> times;
  put64(times, entry.created);
  put64(times, entry.written);
  put64(times, entry.accessed);
  extended(out, ext_windows_times, times);

  // A header whose size has a low byte of 0 reads as the end of the archive to tools
  // that look at its first byte alone. An empty comment makes it 3 bytes longer (a pad
  // byte behind the extended headers would be taken for data by others).
  if ((out.size() & 0xFF) == 0) extended(out, ext_comment, {});
  set16(out, header_size_at, static_cast<uint16_t>(out.size()));
  set16(out, crc_at, crc16_update(0, out.data(), out.size()));
  return out;
}

}  // namespace pack
