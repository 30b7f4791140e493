#include "pack/member_header.h"

#include "pack/crc16.h"

namespace pack {
namespace {

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
  const uint16_t size = static_cast<uint16_t>(data.size() + 3);
  out[out.size() - 2] = static_cast<uint8_t>(size);
  out[out.size() - 1] = static_cast<uint8_t>(size >> 8);
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

  std::vector<uint8_t> out;
  put16(out, 0);  // header size, set below
  const char method[5] = {'-', 'l', 'h', method_digit, '-'};
  out.insert(out.end(), method, method + 5);
  put32(out, packed);
  put32(out, unpacked);
  put32(out, entry.time);
  out.push_back(static_cast<uint8_t>(entry.attributes));
  out.push_back(2);  // header level
  put16(out, crc);
  out.push_back('W');
  put16(out, 0);  // size of the first extended header

  extended(out, 0x00, {0, 0});
  const size_t crc_at = out.size() - 4;
  extended(out, 0x01, std::vector<uint8_t>(file.begin(), file.end()));
  if (!dir.empty()) {
    std::vector<uint8_t> parts(dir.begin(), dir.end());
    for (uint8_t& c : parts) {
      if (c == '/') c = 0xFF;
    }
    extended(out, 0x02, parts);
  }
  std::vector<uint8_t> attributes;
  put16(attributes, entry.attributes);
  extended(out, 0x40, attributes);
  std::vector<uint8_t> times;
  put64(times, entry.created);
  put64(times, entry.written);
  put64(times, entry.accessed);
  extended(out, 0x41, times);

  // A header whose size has a low byte of 0 reads as the end of the archive to tools
  // that look at its first byte alone. An empty comment makes it 3 bytes longer (a pad
  // byte behind the extended headers would be taken for data by others).
  if ((out.size() & 0xFF) == 0) extended(out, 0x3F, {});
  out[0] = static_cast<uint8_t>(out.size());
  out[1] = static_cast<uint8_t>(out.size() >> 8);
  const uint16_t header_crc = crc16_update(0, out.data(), out.size());
  out[crc_at] = static_cast<uint8_t>(header_crc);
  out[crc_at + 1] = static_cast<uint8_t>(header_crc >> 8);
  return out;
}

}  // namespace pack
