// Decoding tables: random complete codes, written by their canonical
// codes, decode back through the main table and its subtables; lists of no
// code keep the symbols; the lists that are refused as "Bad table".
#include <algorithm>
#include <random>

#include "support_decode.h"

namespace {

struct Code {
  std::vector<uint8_t> lengths;  // by symbol
  std::vector<uint32_t> codes;   // canonical, by symbol
};

// The canonical codes of c's lengths: by length, then by symbol.
void assign_codes(Code& c) {
  c.codes.assign(c.lengths.size(), 0);
  uint32_t next = 0;
  for (int len = 1; len <= 16; ++len) {
    for (size_t s = 0; s < c.lengths.size(); ++s)
      if (c.lengths[s] == len) c.codes[s] = next++;
    next <<= 1;
  }
}

// A complete code of `used` of the symbols, with lengths up to 16: leaves
// split at random from a single root, given to symbols at random.
Code random_code(int symbol_count, int used, std::mt19937& random) {
  std::vector<int> depths = {0};
  while (int(depths.size()) < used) {
    size_t k = random() % depths.size();
    if (depths[k] == 16) continue;
    int d = ++depths[k];
    depths.push_back(d);
  }
  std::vector<int> symbols(static_cast<size_t>(symbol_count), 0);
  for (int i = 0; i < symbol_count; ++i) symbols[size_t(i)] = i;
  std::shuffle(symbols.begin(), symbols.end(), random);
  Code c;
  c.lengths.assign(size_t(symbol_count), 0);
  for (size_t i = 0; i < depths.size(); ++i) c.lengths[size_t(symbols[i])] = uint8_t(depths[i]);
  assign_codes(c);
  return c;
}

class HuffmanTable : public DecodeTest {
 protected:
  // Builds the table of c and decodes the symbols back from their codes.
  void expect_round_trip(const Code& c, uint32_t main_bits, uint32_t* table, uint32_t capacity,
                         std::mt19937& random) {
    int symbol_count = int(c.lengths.size());
    std::vector<uint32_t> message;
    for (int s = 0; s < symbol_count; ++s)
      if (c.lengths[size_t(s)] != 0) message.push_back(uint32_t(s));
    for (int i = 0; i < 200; ++i) message.push_back(message[random() % message.size()]);
    BitWriter w;
    for (uint32_t s : message) w.put(c.codes[s], c.lengths[s]);
    w.put(0, 16);
    build_table(c.lengths.data(), symbol_count, main_bits, table, capacity, table_symbols);
    start_bits('5', w.bytes);
    for (uint32_t s : message) {
      uint32_t e = table_entry(table, main_bits, bits.word);
      ASSERT_EQ(entry_value(e), s);
      ASSERT_EQ(entry_length(e), c.lengths[s]);
      skip_bits(bits, entry_length(e));
    }
  }
};

TEST_F(HuffmanTable, RandomCompleteCodesDecodeBack) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int used = 2 + int(random() % 509);
    expect_round_trip(random_code(lit_symbols, used, random), lit_main_bits, wa->lit_table,
                      lit_table_size, random);
    expect_round_trip(random_code(19, 2 + int(random() % 18), random), small_main_bits,
                      wa->small_table, small_table_size, random);
  }
  // The longest chains: a code of every length, and its 16-bit pair.
  Code chain;
  chain.lengths.assign(lit_symbols, 0);
  for (int k = 0; k <= 14; ++k) chain.lengths[size_t(k)] = uint8_t(k + 1);
  chain.lengths[15] = chain.lengths[16] = 16;
  assign_codes(chain);
  std::mt19937 fixed(1);
  expect_round_trip(chain, lit_main_bits, wa->lit_table, lit_table_size, fixed);
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
