// CRC-16 of LZH archives: reflected polynomial 0xA001, start 0, no final
// inversion. crc_table is the byte table; with it built for 0xA001, runs of
// 8 bytes go through seven more tables at once (fixed at compile time).
#include "decode/decode.h"

namespace {

// table[t - 1][b]: the CRC of byte b followed by t zero bytes.
struct CrcSlices {
  uint16_t table[7][256];
};

constexpr CrcSlices make_slices() {
  uint16_t byte_table[256] = {};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t value = uint16_t(i);
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 1) != 0 ? uint16_t((value >> 1) ^ crc_polynomial) : uint16_t(value >> 1);
    byte_table[i] = value;
  }
  CrcSlices s{};
  for (int t = 0; t < 7; ++t)
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t previous = t == 0 ? byte_table[i] : s.table[t - 1][i];
      s.table[t][i] = uint16_t((previous >> 8) ^ byte_table[previous & 0xFF]);
    }
  return s;
}

constexpr CrcSlices slices = make_slices();

}  // namespace

void build_crc_table(uint16_t polynomial) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t value = uint16_t(i);
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 1) != 0 ? uint16_t((value >> 1) ^ polynomial) : uint16_t(value >> 1);
    wa->crc_table[i] = value;
  }
}

uint16_t update_crc(const uint8_t* data, int32_t length) {
  const uint16_t* table = wa->crc_table;
  uint32_t crc = wa->crc;
  int32_t i = 0;
  // Entry 128 of a byte table is its polynomial.
  if (table[128] == crc_polynomial) {
    const auto& t = slices.table;
    for (; i + 8 <= length; i += 8) {
      const uint8_t* p = data + i;
      uint32_t x = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8);
      crc = t[6][x & 0xFF] ^ t[5][x >> 8] ^ t[4][p[2]] ^ t[3][p[3]] ^ t[2][p[4]] ^ t[1][p[5]] ^
            t[0][p[6]] ^ table[p[7]];
    }
  }
  for (; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  wa->crc = uint16_t(crc);
  return wa->crc;
}
