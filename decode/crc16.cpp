// The CRC-16 of the work area: crc_table and the running crc, over the
// format's CRC routines.
#include "decode/decode.h"

void build_crc_table(uint16_t polynomial) {
  crc16_make_table(wa->crc_table, polynomial);
}

uint16_t update_crc(const uint8_t* data, int32_t length) {
  wa->crc = crc16_run(wa->crc_table, wa->crc, data, length);
  return wa->crc;
}
