#include "pack/crc16.h"

namespace pack {
namespace {

struct CrcTable {
  uint16_t entry[256];
  CrcTable() {
    for (int i = 0; i < 256; ++i) {
      uint16_t value = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
      entry[i] = value;
    }
  }
};

const CrcTable crc_table;

}  // namespace

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) crc = crc_table.entry[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace pack
