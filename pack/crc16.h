// CRC-16 of LZH archives: reflected polynomial 0xA001, start 0, no final inversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pack {

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t length);

}  // namespace pack
