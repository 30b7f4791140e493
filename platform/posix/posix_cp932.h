// Code page 932 (Shift-JIS as Windows has it) without a run-time converter: tables
// made at build time from the C library's converter, and conversion with them.
#pragma once

#include <cstdint>
#include <string>

namespace cp932 {

constexpr int lead_count = 60;    // lead bytes 0x81-0x9F and 0xE0-0xFC
constexpr int trail_count = 189;  // trail bytes 0x40-0xFC

// UTF-16 unit of every byte that is not a lead byte, 0 where it does not convert.
extern const uint16_t single_byte[256];
// UTF-16 unit of every lead and trail byte, 0 where they do not convert.
extern const uint16_t double_byte[lead_count * trail_count];
// Code point << 16 | the one or two bytes (lead byte high) it converts to, in code
// point order; code points below 0x80 are themselves.
extern const uint32_t reverse_count;
extern const uint32_t reverse[];

bool is_lead(uint8_t byte);

// The conversions of posix_to_utf8 and posix_from_utf8 for this code page, with their
// fallbacks: a byte that does not convert becomes the character of its Latin-1 code
// point; a character the code page lacks becomes the byte of its code point when that
// is below 256, else "?"; a byte that is not valid UTF-8 stays as it is.
std::string to_utf8(const char* text);
std::string from_utf8(const char* text);

}  // namespace cp932
