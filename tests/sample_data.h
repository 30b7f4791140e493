// Sample data fixed by a seed (text with a few random bytes now and then;
// random bytes) and CRC-16, for the decoder's and the encoder's tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::vector<uint8_t> sample_text(size_t n, uint32_t seed) {
  static const char* const words[] = {"archive", "member", "header", "the", "of",   "decode",
                                      "ring",    "table",  "window", "and", "code", "length"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  while (out.size() < n) {
    const std::string w = words[rng() % 12];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
    if (rng() % 50 == 0)
      for (int k = int(rng() % 40); k > 0; --k) out.push_back(uint8_t(rng()));
  }
  out.resize(n);
  return out;
}

inline std::vector<uint8_t> sample_random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// The CRC-16 of LZH archives (start 0, 0xA001 reflected) bit by bit.
inline uint16_t crc16_bitwise(const uint8_t* data, size_t n, uint16_t polynomial = 0xA001) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? uint16_t((crc >> 1) ^ polynomial) : crc >> 1;
  }
  return crc;
}
