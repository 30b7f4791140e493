// Bit output, most significant bit first, into a growing byte buffer.
#pragma once

#include <cstdint>
#include <vector>

namespace pack {

class BitWriter {
 public:
  // Appends the low `bits` bits of value (bits 0 to 24).
  void put(uint32_t value, int bits) {
    accumulator_ = (accumulator_ << bits) | (value & ((1u << bits) - 1));
    pending_ += bits;
    while (pending_ >= 8) {
      pending_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(accumulator_ >> pending_));
    }
  }
  // Pads the last byte with zero bits.
  void flush() {
    if (pending_ > 0) bytes_.push_back(static_cast<uint8_t>(accumulator_ << (8 - pending_)));
    pending_ = 0;
    accumulator_ = 0;
  }
  // Hands out the whole bytes written so far and keeps the partial one.
  void take_whole_bytes(std::vector<uint8_t>* out) {
    out->swap(bytes_);
    bytes_.clear();
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  int pending_ = 0;
};

}  // namespace pack
