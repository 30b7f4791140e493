// The CRC-16 of LZH archives (format/lzh_format.h) for the builder: any
// length, from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pack {

uint16_t crc16_update(uint16_t crc, const uint8_t* data, size_t length);

}  // namespace pack
