// Decoding tables: random complete codes, written by their canonical
// codes, decode back through the main table and its subtables; lists of no
// code keep the symbols; the lists that are refused as "Bad table".
#include <algorithm>
#include <random>

#include "support_decode.h"

namespace {

// Lengths of a complete code over `used` of the symbols, up to 16 bits:
// leaves split at random from a single root, given to symbols at random.
std::vector<uint8_t> random_code(int symbol_count, int used, std::mt19937& random) {
  std::vector<uint8_t> depths = {0};
  while (int(depths.size()) < used) {
    size_t k = random() % depths.size();
    if (depths[k] < 16) depths.push_back(++depths[k]);
  }
  depths.resize(size_t(symbol_count), 0);
  std::shuffle(depths.begin(), depths.end(), random);
  return depths;
}

using HuffmanTable = DecodeTest;

TEST_F(HuffmanTable, RandomCompleteCodesDecodeBack) {
  std::mt19937 random(7);
  for (int round = 0; round < 600; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    bool lit = round % 2 == 0;
    std::vector<uint8_t> lengths = lit ? random_code(lit_symbols, 2 + int(random() % 509), random)
                                       : random_code(19, 2 + int(random() % 18), random);
    uint32_t main_bits = lit ? lit_main_bits : small_main_bits;
    uint32_t* table = lit ? wa->lit_table : wa->small_table;
    build_table(lengths.data(), int(lengths.size()), main_bits, table,
                lit ? lit_table_size : small_table_size, table_symbols);
    // Every symbol by its canonical code (by length, then by symbol).
    BitWriter w;
    std::vector<uint32_t> sent;
    uint32_t next = 0;
    for (int len = 1; len <= 16; ++len, next <<= 1)
      for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] == len) {
          w.put(next++, len);
          sent.push_back(uint32_t(s));
        }
    w.put(0, 16);
    start_bits('5', w.bytes);
    for (uint32_t s : sent) {
      uint32_t e = table_entry(table, main_bits, bits.word);
      ASSERT_EQ(entry_value(e), s);
      ASSERT_EQ(entry_length(e), lengths[s]);
      skip_bits(bits, entry_length(e));
    }
  }
}

TEST_F(HuffmanTable, ListOfZerosKeepsTheSymbolsWithoutBits) {
  // The position code 1, 2, 2 (symbols 0, 1, 13), then a list of zeros: the
  // same symbols by the same bits, each taking none; then, for a code of 12
  // symbols, symbol 13 is outside the alphabet.
  std::vector<uint8_t> lengths(14, 0);
  lengths[0] = 1;
  lengths[1] = 2;
  lengths[13] = 2;
  build_table(lengths.data(), 14, small_main_bits, wa->small_table, small_table_size,
              table_positions);
  std::vector<uint8_t> zeros(14, 0);
  build_table(zeros.data(), 14, small_main_bits, wa->small_table, small_table_size,
              table_positions);
  start_bits('5', {0x00, 0x80, 0xC0, 0x00, 0x00});
  uint32_t e = table_entry(wa->small_table, small_main_bits, bits.word);
  EXPECT_EQ(entry_length(e), 0u);
  EXPECT_EQ(entry_value(e), 0u);
  skip_bits(bits, 8);
  e = table_entry(wa->small_table, small_main_bits, bits.word);
  EXPECT_EQ(entry_value(e), 1u);
  skip_bits(bits, 8);
  e = table_entry(wa->small_table, small_main_bits, bits.word);
  EXPECT_EQ(entry_value(e), 1u << 12);  // symbol 13: distance 4096 and 12 extra bits
  EXPECT_EQ(entry_extra(e), 12u);
  EXPECT_EQ(entry_length(e), 0u);
  // Read as code lengths of a smaller alphabet.
  build_table(zeros.data(), 12, small_main_bits, wa->small_table, small_table_size, table_symbols);
  EXPECT_EQ(entry_value(table_entry(wa->small_table, small_main_bits, 0)), 0u);
  EXPECT_EXIT(table_entry(wa->small_table, small_main_bits, bits.word),
              ::testing::ExitedWithCode(1), "archive.bin\" Bad table");
}

TEST_F(HuffmanTable, IncompleteAndOverfullListsAreBadTables) {
  const std::vector<uint8_t> refused[] = {
      {1, 2},
      {1, 1, 1, 1},  // sums to a multiple of 65536 too
      // A length above 16 has no code, even beside a complete code.
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 17},
  };
  for (const auto& lengths : refused)
    EXPECT_EXIT(build_table(lengths.data(), int(lengths.size()), small_main_bits, wa->small_table,
                            small_table_size, table_symbols),
                ::testing::ExitedWithCode(1), "archive.bin\" Bad table");
  // 256 codes of 7 bits would fill the table twice over.
  EXPECT_EXIT(
      {
        for (int i = 0; i < 256; ++i) wa->lit_lengths[i] = 7;
        build_table(wa->lit_lengths, lit_symbols, lit_main_bits, wa->lit_table, lit_table_size,
                    table_symbols);
      },
      ::testing::ExitedWithCode(1), "Bad table");
}

}  // namespace
