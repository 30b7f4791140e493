// Bit output, most significant bit first, into a growing byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pack {

// A run of bits: whole bytes, then 0 to 7 bits more (the low tail_bits bits of tail).
struct CodedBits {
  std::vector<uint8_t> bytes;
  uint32_t tail = 0;
  int tail_bits = 0;
};

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
  // Appends a run of bits written by another BitWriter.
  void append(const CodedBits& bits) {
    if (pending_ == 0) {
      bytes_.insert(bytes_.end(), bits.bytes.begin(), bits.bytes.end());
    } else {
      // each byte ends the pending bits and leaves as many of its own pending
      const uint32_t mask = (1u << pending_) - 1;
      uint32_t partial = static_cast<uint32_t>(accumulator_) & mask;
      const size_t at = bytes_.size();
      bytes_.resize(at + bits.bytes.size());
      uint8_t* to = bytes_.data() + at;
      for (uint8_t b : bits.bytes) {
        *to++ = static_cast<uint8_t>((partial << (8 - pending_)) | (b >> pending_));
        partial = b & mask;
      }
      accumulator_ = partial;
    }
    put(bits.tail, bits.tail_bits);
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
  // Hands out everything written so far, the partial byte as the tail, and starts over.
  void take(CodedBits* out) {
    take_whole_bytes(&out->bytes);
    out->tail = static_cast<uint32_t>(accumulator_ & ((1u << pending_) - 1));
    out->tail_bits = pending_;
    accumulator_ = 0;
    pending_ = 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  int pending_ = 0;
};

}  // namespace pack
