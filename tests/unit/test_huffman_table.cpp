// Huffman decoding tables: tree nodes for long codes, lists of no code, and
// the lists that are refused as "Bad table". How short codes fill the table
// the block decoder's test of code-length lists shows.
#include "support_decode.h"

namespace {

class HuffmanTable : public DecodeTest {
 protected:
  void SetUp() override {
    DecodeTest::SetUp();
    for (int i = 0; i < tree_nodes; ++i) wa->tree_left[i] = wa->tree_right[i] = 0x7777;
  }
  bool nodes_untouched() {
    for (int i = 0; i < tree_nodes; ++i)
      if (wa->tree_left[i] != 0x7777 || wa->tree_right[i] != 0x7777) return false;
    return true;
  }
  void build_small(const std::vector<uint8_t>& lengths) {
    for (size_t i = 0; i < lengths.size(); ++i) wa->small_lengths[i] = lengths[i];
    build_decode_table(int16_t(lengths.size()), wa->small_lengths, 8, wa->small_lookup);
  }
};

TEST_F(HuffmanTable, ListOfZerosChangesNothing) {
  for (int i = 0; i < 256; ++i) wa->small_lookup[i] = uint16_t(i * 3);
  build_small(std::vector<uint8_t>(19, 0));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(wa->small_lookup[i], i * 3);
  EXPECT_TRUE(nodes_untouched());
}

TEST_F(HuffmanTable, LongCodesWalkTheTreeBitByBit) {
  // Symbol k has k + 1 bits (k ones and a zero) up to 15 bits; symbols 15
  // and 16 have the two codes of 16 bits.
  for (int k = 0; k <= 14; ++k) wa->lit_lengths[k] = uint8_t(k + 1);
  wa->lit_lengths[15] = wa->lit_lengths[16] = 16;
  build_decode_table(lit_symbols, wa->lit_lengths, 12, wa->lit_lookup);
  EXPECT_EQ(wa->lit_lookup[0], 0);
  EXPECT_EQ(wa->lit_lookup[2048], 1);
  EXPECT_EQ(wa->lit_lookup[4094], 11);
  EXPECT_EQ(wa->lit_lookup[4095], 510);  // the first node

  // Decode 12, 13, 14, 15, 16 and 0 from their codes, back to back.
  BitWriter w;
  w.put(0x1FFE, 13);
  w.put(0x3FFE, 14);
  w.put(0x7FFE, 15);
  w.put(0xFFFE, 16);
  w.put(0xFFFF, 16);
  w.put(0, 1);
  w.put(0, 16);
  start_bits('5', w.bytes);
  wa->block_remaining = 100;
  for (uint16_t expected : {12, 13, 14, 15, 16, 0}) EXPECT_EQ(next_lit_symbol(), expected);
  EXPECT_EQ(wa->block_remaining, 94);
}

TEST_F(HuffmanTable, IncompleteAndOverfullListsAreBadTables) {
  const std::vector<uint8_t> refused[] = {
      {1, 2},
      {1, 1, 1, 1},  // sums to a multiple of 65536 too
      // A length above 16 has no code, even beside a complete code.
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 17},
  };
  for (const auto& lengths : refused)
    EXPECT_EXIT(build_small(lengths), ::testing::ExitedWithCode(1), "archive.bin\" Bad table");
  // 256 codes of 7 bits would fill the table twice over.
  EXPECT_EXIT(
      {
        for (int i = 0; i < 256; ++i) wa->lit_lengths[i] = 7;
        build_decode_table(lit_symbols, wa->lit_lengths, 12, wa->lit_lookup);
      },
      ::testing::ExitedWithCode(1), "Bad table");
}

TEST_F(HuffmanTable, WalkThatRunsOutOfBitsIsABadTable) {
  // Nodes left from earlier builds that lead in a circle.
  start_bits('7', {0xFF, 0xFF, 0xFF});
  for (int i = 0; i < 256; ++i) wa->small_lookup[i] = 20;
  wa->tree_left[20] = wa->tree_right[20] = 21;
  wa->tree_left[21] = wa->tree_right[21] = 20;
  EXPECT_EXIT(next_position(), ::testing::ExitedWithCode(1), "Bad table");
}

}  // namespace
