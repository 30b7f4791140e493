// The encoder's output, decoded by an independent decoder that also refuses what other
// decoders refuse (codes that are not complete among them); length-limited codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pack/huffman_code.h"
#include "pack/member_encoder.h"
#include "support_lzh_decoder.h"

using pack::EncoderTuning;
using pack::Method;
using Bytes = std::vector<uint8_t>;

class MemorySource : public pack::ByteSource {
 public:
  MemorySource(const Bytes& data, size_t piece) : data_(data), piece_(piece) {}
  size_t read(uint8_t* buffer, size_t size) override {
    size = std::min({size, piece_, data_.size() - at_});
    std::memcpy(buffer, data_.data() + at_, size);
    at_ += size;
    return size;
  }

 private:
  const Bytes& data_;
  size_t piece_;
  size_t at_ = 0;
};

struct Packed {
  Bytes bytes;
  DecodeReport report;
};

// Packs data (handed over in pieces of `piece` bytes), decodes it and checks the bytes.
Packed round_trip(const Bytes& data, char digit, const EncoderTuning& tuning = EncoderTuning(),
                  size_t piece = 1 << 20) {
  Method method;
  EXPECT_TRUE(pack::method_of(digit, &method));
  pack::MemberEncoder encoder(method, tuning);
  MemorySource source(data, piece);
  Packed packed;
  const pack::EncodedMember result = encoder.encode(source, &packed.bytes);
  EXPECT_EQ(result.unpacked, data.size());
  EXPECT_EQ(result.crc, crc16_bitwise(data.data(), data.size()));
  Bytes decoded;
  packed.report = reference_decode(packed.bytes, uint32_t(data.size()), digit, &decoded);
  EXPECT_EQ(packed.report.error, "") << "method " << digit << ", " << data.size() << " bytes";
  EXPECT_TRUE(decoded == data) << "method " << digit << ", " << data.size() << " bytes";
  return packed;
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes repeated(const Bytes& pattern, size_t size) {
  Bytes data;
  while (data.size() < size) data.insert(data.end(), pattern.begin(), pattern.end());
  data.resize(size);
  return data;
}

TEST(PackEncoder, TinyMembersAndRunsOfOneByte) {
  for (char digit : {'5', '6', '7'}) {
    EXPECT_TRUE(round_trip({}, digit).bytes.empty());
    round_trip({'x'}, digit);
    round_trip({'a', 'a', 'a', 'a'}, digit);
    EXPECT_LT(round_trip(Bytes(65536, 0), digit).bytes.size(), 100u);
  }
}

TEST(PackEncoder, BoundariesOfUnitsSegmentsAndBlocksInsideLongMatches) {
  // Small units and segments put their boundaries inside the long matches of a run of
  // one byte (one unit and a byte long), a repeated line and a repeated block.
  EncoderTuning tuning;
  tuning.unit = 1 << 16;
  tuning.segment = 5000;
  const std::string text = "a line of a log that repeats itself\r\n";
  const Bytes block = sample_random(1024, 13);
  for (char digit : {'5', '7'}) {
    EXPECT_LT(round_trip(Bytes(tuning.unit + 1, 0), digit, tuning).bytes.size(),
              (tuning.unit / tuning.segment + 2) * 20u);
    EXPECT_LT(round_trip(repeated(Bytes(text.begin(), text.end()), 200000), digit, tuning, 777)
                  .bytes.size(),
              2000u);
    // A match of 256 bytes costs about 12 bits.
    EXPECT_LT(round_trip(repeated(block, 300000), digit, tuning).bytes.size(),
              1100u + 300000 / 256 * 2);
  }
}

TEST(PackEncoder, UnitsCodedApartGiveTheMembersBytes) {
  // What the threads do: every unit coded on its own (here backwards, by one encoder, so
  // that nothing of a unit may stay for the next), then the bits put together.
  EncoderTuning tuning;
  tuning.unit = 40000;
  tuning.segment = 15000;
  const Bytes data = joined({sample_text(100000, 21), sample_random(30000, 22), Bytes(30001, 'z')});
  const Bytes whole = round_trip(data, '7', tuning).bytes;

  Method method;
  pack::method_of('7', &method);
  pack::UnitEncoder encoder(method, tuning);
  const size_t units = (data.size() + tuning.unit - 1) / tuning.unit;
  std::vector<pack::CodedBits> parts(units);
  for (size_t u = units; u-- > 0;) {
    const size_t start = u * tuning.unit;
    const uint32_t prime = pack::unit_prime(method, start);
    const uint32_t size = uint32_t(std::min<size_t>(tuning.unit, data.size() - start));
    encoder.encode(data.data() + start - prime, prime, size, &parts[u]);
  }
  pack::BitWriter bits;
  for (const pack::CodedBits& part : parts) bits.append(part);
  bits.flush();
  Bytes together;
  bits.take_whole_bytes(&together);
  EXPECT_TRUE(together == whole);
}

TEST(PackEncoder, EveryLevelDecodesAndTheHighestIsSmallest) {
  const Bytes data = joined(
      {sample_text(150000, 31), sample_random(20000, 32), Bytes(5000, 0), sample_text(60000, 33)});
  std::vector<size_t> sizes;
  for (int level = pack::min_level; level <= pack::max_level; ++level)
    sizes.push_back(round_trip(data, '7', pack::tuning_for_level(level)).bytes.size());
  EXPECT_LT(sizes.back(), sizes.front());
  EXPECT_LE(sizes.back(), sizes[pack::default_level - pack::min_level]);
}

TEST(PackEncoder, MixedDataInOddPiecesAndManyBlocks) {
  // Text, then noise of more than 65,535 codes (several blocks), then text.
  const Bytes data =
      joined({sample_text(400000, 9), sample_random(300000, 10), sample_text(70000, 9)});
  for (char digit : {'5', '6', '7'}) {
    const Packed packed = round_trip(data, digit, EncoderTuning(), digit == '7' ? 4093 : 1 << 20);
    EXPECT_LT(packed.bytes.size(), 300000u + 400000u / 2);
    EXPECT_GE(packed.report.blocks, 5u);
  }
  round_trip(Bytes(data.begin(), data.begin() + 20000), '7', EncoderTuning(), 1);
}

TEST(PackEncoder, DistancesStayInsideEachMethodsDictionary) {
  // A random stretch repeated at a distance just inside each dictionary, and one just
  // beyond it, which the method must not reach.
  for (char digit : {'5', '6', '7'}) {
    const uint32_t dict = digit == '5' ? 8192 : digit == '6' ? 32768 : 65536;
    const Bytes head = sample_random(dict - 1, 11);
    const Bytes data = joined({head, Bytes(head.begin(), head.begin() + 2000)});
    const Packed near = round_trip(data, digit);
    EXPECT_EQ(near.report.longest_distance, dict - 1);
    EXPECT_LT(near.bytes.size(), dict - 1 + 200);

    const Bytes start = sample_random(dict, 12);
    const Bytes far = joined({start, Bytes(start.begin(), start.begin() + 2000)});
    EXPECT_LT(round_trip(far, digit).report.longest_distance, dict);
  }
}

uint64_t kraft_sum(const std::vector<uint8_t>& lengths) {
  uint64_t sum = 0;
  for (uint8_t len : lengths)
    if (len != 0) sum += uint64_t(1) << (16 - len);
  return sum;
}

std::vector<uint8_t> lengths_of(const std::vector<uint32_t>& freq, int max_bits) {
  std::vector<uint8_t> lengths(freq.size());
  pack::limited_code_lengths(freq.data(), static_cast<int>(freq.size()), max_bits, lengths.data());
  return lengths;
}

TEST(PackCodes, SkewedFrequenciesRespectTheLimit) {
  // Fibonacci weights would want codes of 30 bits and more.
  std::vector<uint32_t> freq(40);
  freq[0] = freq[1] = 1;
  for (size_t i = 2; i < freq.size(); ++i) freq[i] = freq[i - 1] + freq[i - 2];
  for (int limit : {16, 12, 7}) {
    const std::vector<uint8_t> lengths = lengths_of(freq, limit);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), limit);
    EXPECT_EQ(kraft_sum(lengths), 65536u);
  }
  EXPECT_EQ(lengths_of({5, 9}, 16), (std::vector<uint8_t>{1, 1}));
  EXPECT_EQ(lengths_of({0, 3, 0}, 16), (std::vector<uint8_t>{0, 1, 0}));
}
