// CRC-16 of LZH archives: reflected polynomial 0xA001, start 0, no final
// inversion. The caller keeps the byte table. With it made for 0xA001, runs
// of 8 bytes go through seven more tables at once, which crc16_make_table
// makes in zero-filled memory (they cost the program file nothing); and on
// x86-64 processors with carry-less multiplication, runs of 64 bytes and
// more are folded 16 bytes at a time in four lanes.
#include "format/lzh_format.h"

namespace {

// slices[t - 1][b]: the CRC of byte b followed by t zero bytes.
uint16_t slices[7][256];
bool slices_built;

uint16_t crc_of_byte(uint32_t byte, uint16_t polynomial) {
  uint16_t value = uint16_t(byte);
  for (int bit = 0; bit < 8; ++bit)
    value = (value & 1) != 0 ? uint16_t((value >> 1) ^ polynomial) : uint16_t(value >> 1);
  return value;
}

uint32_t bytewise(const uint16_t* table, uint32_t crc, const uint8_t* data, int32_t length) {
  for (int32_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t sliced(const uint16_t* table, uint32_t crc, const uint8_t* p, int32_t length) {
  const auto& t = slices;
  int32_t i = 0;
  for (; i + 8 <= length; i += 8, p += 8) {
    uint32_t x = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8);
    crc = t[6][x & 0xFF] ^ t[5][x >> 8] ^ t[4][p[2]] ^ t[3][p[3]] ^ t[2][p[4]] ^ t[1][p[5]] ^
          t[0][p[6]] ^ table[p[7]];
  }
  return bytewise(table, crc, p, length - i);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KOBRIX_CRC_FOLDING 1

// Folding. 16 bytes loaded little-endian stand for a polynomial whose
// highest term is bit 0 of the first byte, as the reflected CRC takes them:
// bit i of the 128-bit value is the coefficient of x^(127 - i). A lane A
// followed by d more bits of the message is replaced by a value of 128 bits
// that is the same modulo the polynomial: with H its low half (the high
// terms) and L its high half, A x^d = H x^(d+64) + L x^d, and each half is
// multiplied by x^(d+63) or x^(d-1) modulo the polynomial, kept reflected in
// 64 bits (the coefficient of x^m in bit 63 - m), which puts the product in
// place. What is left at the end, one lane of 16 bytes, goes through the
// byte table.

typedef long long Lane __attribute__((vector_size(16)));
typedef Lane __attribute__((__may_alias__, __aligned__(1))) UnalignedLane;

// x^n modulo the polynomial of degree 16 (0x8005 with the x^16 term),
// reflected in 64 bits.
constexpr uint64_t reflected_power(uint32_t n) {
  uint32_t remainder = 1;  // x^0, not reflected: bit m is x^m
  for (uint32_t i = 0; i < n; ++i) {
    remainder <<= 1;
    if (remainder & 0x10000) remainder ^= 0x18005;
  }
  uint64_t out = 0;
  for (int m = 0; m < 16; ++m)
    if (remainder & (1u << m)) out |= uint64_t(1) << (63 - m);
  return out;
}

// Multipliers for a lane moved d bits on: x^(d+63) for its low half, x^(d-1)
// for its high half.
constexpr Lane by_512 = {(long long)reflected_power(512 + 63), (long long)reflected_power(512 - 1)};
constexpr Lane by_128 = {(long long)reflected_power(128 + 63), (long long)reflected_power(128 - 1)};

__attribute__((target("pclmul,sse2"))) inline Lane fold(Lane lane, Lane by) {
  return __builtin_ia32_pclmulqdq128(lane, by, 0x00) ^ __builtin_ia32_pclmulqdq128(lane, by, 0x11);
}

inline Lane load_lane(const uint8_t* p) {
  return *reinterpret_cast<const UnalignedLane*>(p);
}

// Whole 16-byte lanes of at least 64 bytes; the byte count taken is *used.
__attribute__((target("pclmul,sse2"))) uint32_t folded(const uint16_t* table, uint32_t crc,
                                                       const uint8_t* p, int32_t length,
                                                       int32_t* used) {
  // The running CRC counts as the first two bytes of the message.
  Lane x0 = load_lane(p) ^ Lane { (long long)crc, 0 };
  Lane x1 = load_lane(p + 16);
  Lane x2 = load_lane(p + 32);
  Lane x3 = load_lane(p + 48);
  int32_t i = 64;
  for (; i + 64 <= length; i += 64) {
    x0 = fold(x0, by_512) ^ load_lane(p + i);
    x1 = fold(x1, by_512) ^ load_lane(p + i + 16);
    x2 = fold(x2, by_512) ^ load_lane(p + i + 32);
    x3 = fold(x3, by_512) ^ load_lane(p + i + 48);
  }
  x1 ^= fold(x0, by_128);
  x2 ^= fold(x1, by_128);
  x3 ^= fold(x2, by_128);
  for (; i + 16 <= length; i += 16) x3 = fold(x3, by_128) ^ load_lane(p + i);
  uint8_t rest[16];
  *reinterpret_cast<UnalignedLane*>(rest) = x3;
  *used = i;
  return bytewise(table, 0, rest, 16);
}

bool folding_supported() {
  uint32_t a, b, c, d;
  __asm__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(1), "c"(0));
  return (c & 2) != 0;  // PCLMULQDQ
}
bool folding;  // set with the slices
#endif

}  // namespace

void crc16_make_table(uint16_t* table, uint16_t polynomial) {
  for (uint32_t i = 0; i < 256; ++i) table[i] = crc_of_byte(i, polynomial);
  if (polynomial != crc_polynomial || slices_built) return;
  for (int t = 0; t < 7; ++t)
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t previous = t == 0 ? table[i] : slices[t - 1][i];
      slices[t][i] = uint16_t((previous >> 8) ^ table[previous & 0xFF]);
    }
#ifdef KOBRIX_CRC_FOLDING
  folding = folding_supported();
#endif
  slices_built = true;
}

uint16_t crc16_run(const uint16_t* table, uint16_t start, const uint8_t* data, int32_t length) {
  uint32_t crc = start;
  // Entry 128 of a byte table is its polynomial.
  if (length <= 0) {
  } else if (!slices_built || table[128] != crc_polynomial) {
    crc = bytewise(table, crc, data, length);
  } else {
#ifdef KOBRIX_CRC_FOLDING
    if (length >= 64 && folding) {
      int32_t used = 0;
      crc = folded(table, crc, data, length, &used);
      data += used;
      length -= used;
    }
#endif
    crc = sliced(table, crc, data, length);
  }
  return uint16_t(crc);
}
