// CRC-16 and the bit reader: the CRC against a bitwise one on every path of
// update_crc, and how the member's packed data is read: in refills of at
// most 16 KiB, never past the member, zero bits after it.
#include "support_decode.h"

namespace {

using CrcTable = DecodeTest;
using BitReader = DecodeTest;

TEST_F(CrcTable, KnownValueAndNoBytes) {
  wa->crc = 0;
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
  EXPECT_EQ(wa->crc, 0x9738);
  // No bytes, or a negative count, change nothing.
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("x"), 0), 0x9738);
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("x"), -5), 0x9738);
}

TEST_F(CrcTable, RunsOfAnyLengthAndOffsetAfterAnyStartMatchTheBitwiseCrc) {
  Bytes data = sample_random(70000, 11);
  auto expect_crc = [&](size_t n, const std::string& what) {
    EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), n)) << what;
  };
  // Short runs one after the other, around the steps of 8, 16 and 64 bytes.
  for (size_t piece : {1u, 3u, 7u, 8u, 9u, 17u, 64u, 1000u}) {
    wa->crc = 0;
    for (size_t at = 0; at < 3000; at += piece)
      update_crc(data.data() + at, int32_t(std::min(piece, 3000 - at)));
    expect_crc(3000, "pieces of " + std::to_string(piece));
  }
  // Runs of 64 bytes and more take the fast paths: every length around
  // their steps, from several alignments, after a CRC already running.
  for (size_t offset = 0; offset < 16; offset += 5)
    for (size_t length = 60; length < 400; ++length) {
      wa->crc = 0;
      update_crc(data.data(), 5);
      update_crc(data.data() + 5 + offset, int32_t(length));
      Bytes joined(data.begin(), data.begin() + 5);
      joined.insert(joined.end(), data.begin() + 5 + offset, data.begin() + 5 + offset + length);
      ASSERT_EQ(wa->crc, crc16_bitwise(joined.data(), joined.size()))
          << "offset " << offset << ", length " << length;
    }
  // A whole ring's worth, as the sink runs it.
  wa->crc = 0;
  update_crc(data.data(), 65536);
  expect_crc(65536, "ring");
  // The CRC runs over whatever table was built.
  build_crc_table(0x8408);
  wa->crc = 0;
  update_crc(data.data(), 3000);
  EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), 3000, 0x8408));
}

TEST_F(BitReader, TakesBitsMostSignificantFirst) {
  start_bits('5', {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE});
  EXPECT_EQ(take_bits(bits, 4), 0x1u);
  EXPECT_EQ(take_bits(bits, 16), 0x2345u);
  EXPECT_EQ(take_bits(bits, 0), 0u);
  skip_bits(bits, 16);  // the longest step of the unary escape: 17 bits
  skip_bits(bits, 1);
  EXPECT_EQ(take_bits(bits, 16), uint16_t(0x123456789ABCDEull >> 3));
}

TEST_F(BitReader, ReadsTheMemberInOneRefillAndNeverPastIt) {
  Bytes data = sample_random(100, 1);
  start_bits('5', data, Bytes(50, 0xEE));
  EXPECT_EQ(archive_position(), 100);  // one read of exactly 100 bytes
  for (int i = 0; i < 98; ++i) EXPECT_EQ(take_bits(bits, 8), data[i]);
  EXPECT_EQ(take_bits(bits, 16), uint32_t(data[98] << 8 | data[99]));
  EXPECT_EQ(bits.remaining, 0u);
  // Zero bits after the data; the bytes behind it are never read.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(take_bits(bits, 16), 0u);
  EXPECT_EQ(archive_position(), 100);
}

TEST_F(BitReader, RefillsWithTheRemainderOnlyWhenTheBufferIsUsedUp) {
  Bytes data = sample_random(20000, 2);
  start_bits('5', data, Bytes(50, 0xEE));
  EXPECT_EQ(archive_position(), 16384);
  // 16 bits are kept ahead: up to bit 16384 * 8 - 16 no refill.
  for (int i = 0; i < 16382; ++i) ASSERT_EQ(take_bits(bits, 8), data[i]);
  EXPECT_EQ(archive_position(), 16384);
  EXPECT_EQ(bits.word >> 48, uint64_t(data[16382] << 8 | data[16383]));
  EXPECT_EQ(take_bits(bits, 1), uint32_t(data[16382] >> 7));
  EXPECT_EQ(archive_position(), 20000);  // a read of 3616 bytes
  for (int i = 0; i < 3620; ++i) skip_bits(bits, 8);
  EXPECT_EQ(archive_position(), 20000);
}

TEST_F(BitReader, FileCutShortInsideTheMemberIsAReadError) {
  use_member('5', sample_random(18000, 3), 0);
  wa->packed_remaining = 20000;  // the header claims more than the file holds
  open_output();
  EXPECT_EXIT(
      {
        Bits b = start_member_decoding('5');
        for (int i = 0; i < 20000; ++i) take_bits(b, 8);
      },
      ::testing::ExitedWithCode(1), "archive.bin\" Read ERROR");
  EXPECT_FALSE(output_exists());
}

}  // namespace
