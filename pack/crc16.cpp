#include "pack/crc16.h"

#include "format/lzh_format.h"

namespace pack {
namespace {

struct CrcTable {
  uint16_t entry[256];
  CrcTable() { crc16_make_table(entry, crc_polynomial); }
};

}  // namespace

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t length) {
  // Made on first use, once, before any thread runs the CRC with it.
  static const CrcTable table;
  constexpr size_t piece = size_t(1) << 30;  // crc16_run takes a signed 32-bit length
  for (; length > piece; data += piece, length -= piece)
    crc = crc16_run(table.entry, crc, data, int32_t(piece));
  return crc16_run(table.entry, crc, data, int32_t(length));
}

}  // namespace pack
