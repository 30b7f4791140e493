#include "support_lzh_decoder.h"

#include <stdexcept>

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& data) : data_(data) {}
  uint32_t bits(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
      if (position_ >> 3 >= data_.size()) throw Failure("reads past the packed data");
      value = value << 1 | ((data_[position_ >> 3] >> (7 - (position_ & 7))) & 1);
      ++position_;
    }
    return value;
  }
  size_t position() const { return position_; }

 private:
  const std::vector<uint8_t>& data_;
  size_t position_ = 0;
};

// A canonical code, decoded a bit at a time; or a single symbol that takes no bits.
class Code {
 public:
  void single(int symbol) { single_ = symbol; }
  void lengths(const std::vector<int>& lengths) {
    single_ = -1;
    count_.assign(17, 0);
    symbols_.clear();
    uint32_t kraft = 0;
    for (int len : lengths) {
      if (len > 16) throw Failure("code longer than 16 bits");
      if (len > 0) ++count_[len], kraft += 1u << (16 - len);
    }
    if (kraft != 65536) throw Failure("code not complete");
    for (int len = 1; len <= 16; ++len)
      for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] == len) symbols_.push_back(int(s));
  }
  int decode(BitReader& in) const {
    if (single_ >= 0) return single_;
    uint32_t code = 0, first = 0, index = 0;
    for (int len = 1; len <= 16; ++len) {
      code |= in.bits(1);
      if (code - first < count_[len]) return symbols_[index + (code - first)];
      index += count_[len];
      first = (first + count_[len]) << 1;
      code <<= 1;
    }
    throw Failure("no such code");
  }

 private:
  int single_ = -1;
  std::vector<uint32_t> count_;
  std::vector<int> symbols_;
};

// The code-length code and the position code: a count, then 3-bit lengths
// with a unary escape, and after zero_run_after lengths a 2-bit zero run.
void read_small(BitReader& in, int symbols, int count_bits, int zero_run_after, Code* code) {
  const int n = int(in.bits(count_bits));
  if (n == 0) {
    const int s = int(in.bits(count_bits));
    if (s >= symbols) throw Failure("single symbol out of range");
    return code->single(s);
  }
  if (n > symbols) throw Failure("length count too large");
  std::vector<int> lengths(symbols, 0);
  for (int i = 0; i < n;) {
    int c = int(in.bits(3));
    if (c == 7)
      while (in.bits(1)) ++c;
    lengths[i++] = c;
    if (i == zero_run_after && (i += int(in.bits(2))) > n) throw Failure("zero run past the count");
  }
  code->lengths(lengths);
}

}  // namespace

DecodeReport reference_decode(const std::vector<uint8_t>& packed, uint32_t size, char method,
                              std::vector<uint8_t>* out) {
  DecodeReport report;
  const int dict_bits = method == '5' ? 13 : method == '6' ? 15 : 16;
  const int position_count = method == '5' ? 14 : 17;
  const int position_bits = method == '5' ? 4 : 5;
  out->clear();
  try {
    BitReader in(packed);
    Code length_code, literal_code, position_code;
    while (out->size() < size) {
      const uint32_t block = in.bits(16);
      if (block == 0) throw Failure("block size 0");
      ++report.blocks;
      read_small(in, 19, 5, 3, &length_code);
      const uint32_t n = in.bits(9);
      if (n == 0) {
        const uint32_t s = in.bits(9);
        if (s >= 510) throw Failure("single literal out of range");
        literal_code.single(int(s));
      } else {
        if (n > 510) throw Failure("literal count too large");
        std::vector<int> lengths(510, 0);
        for (uint32_t i = 0; i < n;) {
          // 0: one zero, 1: 3 to 18 zeros, 2: 20 to 531 zeros, else a length + 2.
          const int c = length_code.decode(in);
          const uint32_t zeros = c == 0   ? 1
                                 : c == 1 ? in.bits(4) + 3
                                 : c == 2 ? in.bits(9) + 20
                                          : 0;
          if (c > 2) lengths[i++] = c - 2;
          if (c <= 2 && (i += zeros) > n) throw Failure("zero run past the count");
        }
        literal_code.lengths(lengths);
      }
      read_small(in, position_count, position_bits, -1, &position_code);
      for (uint32_t k = 0; k < block; ++k) {
        if (out->size() >= size) throw Failure("block holds codes past the member's end");
        const int c = literal_code.decode(in);
        if (c < 256) {
          out->push_back(uint8_t(c));
          continue;
        }
        const uint32_t length = uint32_t(c) - 253;
        const int j = position_code.decode(in);
        const uint32_t back = (j < 2 ? uint32_t(j) : (1u << (j - 1)) + in.bits(j - 1)) + 1;
        if (back > out->size()) throw Failure("match before the member's first byte");
        if (back >= (1u << dict_bits)) throw Failure("match beyond the dictionary");
        if (back > report.longest_distance) report.longest_distance = back;
        if (out->size() + length > size) throw Failure("match past the member's end");
        for (uint32_t m = 0; m < length; ++m) out->push_back((*out)[out->size() - back]);
      }
    }
    if ((in.position() + 7) / 8 != packed.size())
      throw Failure("packed data longer than its codes");
  } catch (const Failure& e) {
    report.error = e.what();
  }
  return report;
}
