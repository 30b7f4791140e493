#include "pack/crc16.h"

namespace pack {
namespace {

// entry[t][b]: the CRC of byte b followed by t zero bytes; eight bytes go through the
// eight tables at once.
struct CrcTables {
  uint16_t entry[8][256];
  CrcTables() {
    for (int i = 0; i < 256; ++i) {
      uint16_t value = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
      entry[0][i] = value;
    }
    for (int t = 1; t < 8; ++t) {
      for (int i = 0; i < 256; ++i) {
        const uint16_t before = entry[t - 1][i];
        entry[t][i] = entry[0][before & 0xFF] ^ (before >> 8);
      }
    }
  }
};

const CrcTables crc_tables;

}  // namespace

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t length) {
  const auto& t = crc_tables.entry;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint8_t* p = data + i;
    const uint32_t x = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8);
    crc = t[7][x & 0xFF] ^ t[6][x >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
          t[1][p[6]] ^ t[0][p[7]];
  }
  for (; i < length; ++i) crc = t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace pack
