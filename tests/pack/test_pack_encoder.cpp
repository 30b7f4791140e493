// The encoder's output, decoded by an independent decoder that also refuses what other
// decoders refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pack/member_encoder.h"
#include "support_lzh_decoder.h"

namespace {

using pack::EncoderTuning;
using pack::Method;

class MemorySource : public pack::ByteSource {
 public:
  MemorySource(const std::vector<uint8_t>& data, size_t piece) : data_(data), piece_(piece) {}
  size_t read(uint8_t* buffer, size_t size) override {
    size = std::min({size, piece_, data_.size() - at_});
    std::memcpy(buffer, data_.data() + at_, size);
    at_ += size;
    return size;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t piece_;
  size_t at_ = 0;
};

struct Packed {
  std::vector<uint8_t> bytes;
  DecodeReport report;
};

// Packs data (handed over in pieces of `piece` bytes), decodes it and checks the bytes.
Packed round_trip(const std::vector<uint8_t>& data, char digit,
                  const EncoderTuning& tuning = EncoderTuning(), size_t piece = 1 << 20) {
  Method method;
  EXPECT_TRUE(pack::method_of(digit, &method));
  pack::MemberEncoder encoder(method, tuning);
  MemorySource source(data, piece);
  Packed packed;
  const pack::EncodedMember result = encoder.encode(source, &packed.bytes);
  EXPECT_EQ(result.unpacked, data.size());
  EXPECT_EQ(result.crc, reference_crc16(data.data(), data.size()));
  std::vector<uint8_t> decoded;
  packed.report =
      reference_decode(packed.bytes, static_cast<uint32_t>(data.size()), digit, &decoded);
  EXPECT_EQ(packed.report.error, "") << "method " << digit << ", " << data.size() << " bytes";
  EXPECT_TRUE(decoded == data) << "method " << digit << ", " << data.size() << " bytes";
  EXPECT_LE(packed.report.largest_block, 65535u);
  return packed;
}

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t& b : data) b = static_cast<uint8_t>(generator());
  return data;
}

std::vector<uint8_t> text_bytes(size_t size, uint32_t seed) {
  static const char* const words[] = {"the ",    "archive ", "member ", "header ",
                                      "window ", "table ",   "setup ",  "\r\n",
                                      "of ",     "to ",      "kobrix ", "{ }"};
  std::mt19937 generator(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const char* w = words[generator() % 12];
    data.insert(data.end(), w, w + std::strlen(w));
  }
  data.resize(size);
  return data;
}

TEST(PackEncoder, TinyMembersUseTheSingleSymbolForms) {
  for (char digit : {'5', '6', '7'}) {
    EXPECT_TRUE(round_trip({}, digit).bytes.empty());
    const Packed one = round_trip({'x'}, digit);
    EXPECT_EQ(one.report.single_literal_blocks, 1u);
    EXPECT_EQ(one.report.single_position_blocks, 1u);
    round_trip({'a', 'b'}, digit);
    round_trip({'a', 'a', 'a', 'a'}, digit);
  }
}

TEST(PackEncoder, RunsOfOneByteShrinkToLongMatches) {
  for (char digit : {'5', '6', '7'}) {
    const Packed zeros = round_trip(std::vector<uint8_t>(65536, 0), digit);
    EXPECT_LT(zeros.bytes.size(), 100u);
    // every match repeats the byte before: one position symbol in use
    EXPECT_EQ(zeros.report.single_position_blocks, zeros.report.blocks);
  }
}

std::vector<uint8_t> repeated(const std::vector<uint8_t>& pattern, size_t size) {
  std::vector<uint8_t> data;
  while (data.size() < size) data.insert(data.end(), pattern.begin(), pattern.end());
  data.resize(size);
  return data;
}

TEST(PackEncoder, RepetitiveShapesAcrossUnitsAndSegments) {
  // Small units and segments put their boundaries inside the long matches of a run of
  // one byte (one unit and a byte long), a repeated line and a repeated block.
  EncoderTuning tuning;
  tuning.unit = 1 << 16;
  tuning.segment = 5000;
  const std::string text = "a line of a log that repeats itself\r\n";
  const std::vector<uint8_t> line(text.begin(), text.end());
  const std::vector<uint8_t> block = random_bytes(1024, 13);
  for (char digit : {'5', '7'}) {
    // a block or two of a few bytes for each segment
    EXPECT_LT(round_trip(std::vector<uint8_t>(tuning.unit + 1, 0), digit, tuning).bytes.size(),
              (tuning.unit / tuning.segment + 2) * 20u);
    EXPECT_LT(round_trip(repeated(line, 200000), digit, tuning, 777).bytes.size(), 2000u);
    // a match of 256 bytes costs about 12 bits
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
  std::vector<uint8_t> data = text_bytes(100000, 21);
  const std::vector<uint8_t> noise = random_bytes(30000, 22);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 30001, 'z');
  const std::vector<uint8_t> whole = round_trip(data, '7', tuning).bytes;

  Method method;
  pack::method_of('7', &method);
  pack::UnitEncoder encoder(method, tuning);
  const size_t units = (data.size() + tuning.unit - 1) / tuning.unit;
  std::vector<pack::CodedBits> parts(units);
  for (size_t u = units; u-- > 0;) {
    const size_t start = u * tuning.unit;
    const uint32_t prime = pack::unit_prime(method, start);
    const uint32_t size = static_cast<uint32_t>(std::min<size_t>(tuning.unit, data.size() - start));
    encoder.encode(data.data() + start - prime, prime, size, &parts[u]);
  }
  pack::BitWriter bits;
  for (const pack::CodedBits& part : parts) bits.append(part);
  bits.flush();
  std::vector<uint8_t> joined;
  bits.take_whole_bytes(&joined);
  EXPECT_TRUE(joined == whole);
}

TEST(PackEncoder, EveryLevelDecodesAndTheHighestIsSmallest) {
  std::vector<uint8_t> data = text_bytes(150000, 31);
  const std::vector<uint8_t> noise = random_bytes(20000, 32);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 5000, 0);
  const std::vector<uint8_t> more = text_bytes(60000, 33);
  data.insert(data.end(), more.begin(), more.end());
  std::vector<size_t> sizes;
  for (int level = pack::min_level; level <= pack::max_level; ++level) {
    sizes.push_back(round_trip(data, '7', pack::tuning_for_level(level)).bytes.size());
  }
  EXPECT_LT(sizes.back(), sizes.front());
  EXPECT_LE(sizes.back(), sizes[pack::default_level - pack::min_level]);
}

TEST(PackEncoder, IncompressibleDataStillDecodes) {
  for (char digit : {'5', '7'}) {
    const std::vector<uint8_t> data = random_bytes(300000, 7);
    const Packed packed = round_trip(data, digit);
    EXPECT_GT(packed.bytes.size(), data.size() * 99 / 100);
    // more than 65,535 codes: several blocks
    EXPECT_GE(packed.report.blocks, 5u);
  }
}

TEST(PackEncoder, DistancesStayInsideEachMethodsDictionary) {
  // A random stretch repeated at a distance just inside each dictionary, and one just
  // beyond it, which the method must not reach.
  for (char digit : {'5', '6', '7'}) {
    const uint32_t dict = digit == '5' ? 8192 : digit == '6' ? 32768 : 65536;
    std::vector<uint8_t> data = random_bytes(dict - 1, 11);
    const std::vector<uint8_t> head(data.begin(), data.begin() + 2000);
    data.insert(data.end(), head.begin(), head.end());
    const Packed near = round_trip(data, digit);
    EXPECT_EQ(near.report.longest_distance, dict - 1);
    EXPECT_LT(near.bytes.size(), dict - 1 + 200);

    std::vector<uint8_t> far = random_bytes(dict, 12);
    const std::vector<uint8_t> start(far.begin(), far.begin() + 2000);
    far.insert(far.end(), start.begin(), start.end());
    EXPECT_LT(round_trip(far, digit).report.longest_distance, dict);
  }
}

TEST(PackEncoder, TextAcrossManySegmentsAndBlocks) {
  const std::vector<uint8_t> text = text_bytes(1500000, 3);
  for (char digit : {'5', '6', '7'}) {
    const Packed packed = round_trip(text, digit);
    EXPECT_LT(packed.bytes.size(), text.size() / 3);
  }
}

TEST(PackEncoder, SegmentAndBlockBoundariesInsideLongMatches) {
  // Small segments and a low threshold for long matches put boundaries inside them.
  EncoderTuning tuning;
  tuning.segment = 1000;
  tuning.nice_length = 8;
  tuning.search_depth = 4;
  std::vector<uint8_t> data = text_bytes(20000, 5);
  const std::vector<uint8_t> copy = data;
  data.insert(data.end(), copy.begin(), copy.end());
  data.insert(data.end(), 5000, 'z');
  for (char digit : {'5', '7'}) {
    round_trip(data, digit, tuning, 777);
  }
}

TEST(PackEncoder, MixedDataWithOddPieceSizes) {
  std::vector<uint8_t> data = text_bytes(70000, 9);
  const std::vector<uint8_t> noise = random_bytes(70000, 10);
  data.insert(data.end(), noise.begin(), noise.end());
  const std::vector<uint8_t> more = text_bytes(70000, 9);
  data.insert(data.end(), more.begin(), more.end());
  for (size_t piece : {size_t(1), size_t(4093), size_t(1) << 20}) {
    round_trip(data, '7', EncoderTuning(), piece);
  }
}

}  // namespace
