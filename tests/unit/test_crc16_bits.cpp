// CRC-16 and the bit reader: the table, the CRC of known data, and how the
// member's packed data is read: in refills of at most 16 KiB, never past
// the member, zero bits after it.
#include "support_decode.h"

namespace {

using CrcTable = DecodeTest;
using BitReader = DecodeTest;

TEST_F(CrcTable, KnownEntriesAndValue) {
  EXPECT_EQ(wa->crc_table[0], 0x0000);
  EXPECT_EQ(wa->crc_table[1], 0xC0C1);
  EXPECT_EQ(wa->crc_table[128], 0xA001);
  EXPECT_EQ(wa->crc_table[255], 0x4040);
  wa->crc = 0;
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
  EXPECT_EQ(wa->crc, 0x9738);
  // No bytes, or a negative count, change nothing.
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("x"), 0), 0x9738);
  EXPECT_EQ(update_crc(reinterpret_cast<const uint8_t*>("x"), -5), 0x9738);
}

TEST_F(CrcTable, RunsInPiecesOfAnyLengthMatchTheBitwiseCrc) {
  Bytes data = sample_random(3000, 7);
  for (size_t piece : {1u, 3u, 7u, 8u, 9u, 17u, 64u, 1000u}) {
    wa->crc = 0;
    for (size_t at = 0; at < data.size(); at += piece)
      update_crc(data.data() + at, int32_t(std::min(piece, data.size() - at)));
    EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), data.size())) << "pieces of " << piece;
  }
  // The CRC runs over whatever table was built.
  build_crc_table(0x8408);
  wa->crc = 0;
  update_crc(data.data(), int32_t(data.size()));
  EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), data.size(), 0x8408));
}

TEST_F(CrcTable, LongRunsAtAnyOffsetAfterAnyStartMatchTheBitwiseCrc) {
  // Runs of 64 bytes and more take the fast paths: every length around the
  // steps of 16 and 64 bytes, from every alignment, after a CRC already
  // running.
  Bytes data = sample_random(70000, 11);
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
  // A whole ring's worth, as the sink runs it, and data of one value.
  wa->crc = 0;
  update_crc(data.data(), 65536);
  EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), 65536));
  Bytes ones(4099, 0xFF);
  wa->crc = 0x1234;
  update_crc(ones.data(), int32_t(ones.size()));
  Bytes with_start = {0x34 ^ 0xFF, 0x12 ^ 0xFF};
  with_start.insert(with_start.end(), ones.begin() + 2, ones.end());
  EXPECT_EQ(wa->crc, crc16_bitwise(with_start.data(), with_start.size()));
}

TEST_F(BitReader, StartsWithTheFirstTwoBytesAndShiftsMostSignificantFirst) {
  use_member('5', {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56, 0x78}, 0);
  wa->packed_remaining = 7;
  start_member_decoding('5');
  EXPECT_EQ(wa->bit_window, 0xABCD);
  EXPECT_EQ(read_bits(4), 0xA);
  EXPECT_EQ(wa->bit_window, 0xBCDE);
  EXPECT_EQ(read_bits(16), 0xBCDE);
  EXPECT_EQ(wa->bit_window, 0xF123);
}

TEST_F(BitReader, FillOf17DropsSeventeenBits) {
  Bytes data = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  use_member('5', data, 0);
  wa->packed_remaining = uint32_t(data.size());
  start_member_decoding('5');
  fill_bits(17);
  // The stream from bit 17: 0x123456789ABC << 17, top 16 bits.
  uint64_t stream = 0x123456789ABCull;
  EXPECT_EQ(wa->bit_window, uint16_t(stream >> (48 - 17 - 16)));
  fill_bits(0);
  EXPECT_EQ(wa->bit_window, uint16_t(stream >> (48 - 17 - 16)));
}

TEST_F(BitReader, ReadsTheMemberInOneRefillAndNeverPastIt) {
  Bytes data = sample_random(100, 1);
  use_member('5', data, 0, Bytes(50, 0xEE));
  wa->packed_remaining = 100;
  start_member_decoding('5');
  EXPECT_EQ(archive_position(), 100);  // one read of exactly 100 bytes
  EXPECT_EQ(wa->in_pos, 2u);
  for (int i = 2; i < 100; ++i) EXPECT_EQ(read_bits(8), data[i - 2]);
  EXPECT_EQ(read_bits(16), uint16_t(data[98] << 8 | data[99]));
  EXPECT_EQ(wa->packed_remaining, 0u);
  // Zero bits after the data; the bytes behind it are never read.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(read_bits(16), 0);
  EXPECT_EQ(archive_position(), 100);
}

TEST_F(BitReader, RefillsWithTheRemainderOnlyWhenTheBufferIsUsedUp) {
  Bytes data = sample_random(20000, 2);
  use_member('5', data, 0, Bytes(50, 0xEE));
  wa->packed_remaining = 20000;
  start_member_decoding('5');
  EXPECT_EQ(archive_position(), 16384);
  // The window holds 16 bits ahead: up to bit 16384 * 8 - 16 no refill.
  for (int i = 0; i < 16382; ++i) read_bits(8);
  EXPECT_EQ(archive_position(), 16384);
  EXPECT_EQ(wa->bit_window, uint16_t(data[16382] << 8 | data[16383]));
  EXPECT_EQ(read_bits(1), data[16382] >> 7);
  EXPECT_EQ(archive_position(), 20000);  // a read of 3616 bytes
  EXPECT_EQ(wa->in_pos, 1u);
  for (int i = 0; i < 3620; ++i) fill_bits(8);
  EXPECT_EQ(archive_position(), 20000);
}

TEST_F(BitReader, FileCutShortInsideTheMemberIsAReadError) {
  Bytes data = sample_random(18000, 3);
  use_member('5', data, 0);
  wa->packed_remaining = 20000;  // the header claims more than the file holds
  open_output();
  start_member_decoding('5');
  EXPECT_EXIT(
      {
        for (int i = 0; i < 20000; ++i) read_bits(8);
      },
      ::testing::ExitedWithCode(1), "\"" + archive_path + "\" Read ERROR");
  EXPECT_FALSE(output_exists());
}

}  // namespace
