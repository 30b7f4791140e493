// The decoder: CRC-16 against a bitwise one, the bit reader's refills,
// decoding tables of random codes, members packed by jlha (the fast loop
// against the code-by-code reference), hand-made blocks, flushes and
// progress, and the damaged members that end the program; the output sink
// and the stored copy.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

#include "support_decode.h"
#include "support_reference_decoder.h"

using Decoder = DecodeTest;
using BlockDecoder = DecodeTest;

std::string decoded() {
  Bytes out = recorded(decode_member);
  return std::string(out.begin(), out.end());
}

void expect_bad_table(const std::function<void()>& fn) {
  EXPECT_EXIT(fn(), ::testing::ExitedWithCode(1), "archive.bin\" Bad table");
}

TEST_F(Decoder, CrcOfAnyRunsAfterAnyStartMatchesTheBitwiseCrc) {
  Bytes data = sample_random(70000, 11);
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
  // A negative count changes nothing; any table built is used.
  EXPECT_EQ(update_crc(data.data(), -5), wa->crc);
  build_crc_table(0x8408);
  wa->crc = 0;
  update_crc(data.data(), 65536);
  EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), 65536, 0x8408));
}

TEST_F(Decoder, BitReaderRefillsWithAtMost16KiBAndNeverReadsPastTheMember) {
  Bytes data = sample_random(20000, 2);
  start_bits('5', data, Bytes(50, 0xEE));
  EXPECT_EQ(archive_position(), 16384);
  // 16 bits are kept ahead: up to bit 16384 * 8 - 16 no refill.
  for (int i = 0; i < 16382; ++i) ASSERT_EQ(take_bits(bits, 8), data[i]);
  EXPECT_EQ(archive_position(), 16384);
  EXPECT_EQ(take_bits(bits, 16), uint32_t(data[16382] << 8 | data[16383]));
  EXPECT_EQ(archive_position(), 20000);  // a read of the 3616 bytes left
  for (int i = 16384; i < 20000; ++i) ASSERT_EQ(take_bits(bits, 8), data[i]);
  EXPECT_EQ(bits.remaining, 0u);
  // Zero bits after the data; the bytes behind it are never read.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(take_bits(bits, 16), 0u);
  EXPECT_EQ(archive_position(), 20000);
}

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

TEST_F(Decoder, TablesOfRandomCompleteCodesDecodeEverySymbolBack) {
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

TEST_F(BlockDecoder, JlhaMembersDecodeToTheirFilesAsTheReferenceDoes) {
  Bytes far = sample_random(40000, 11);
  Bytes twice = far;
  twice.insert(twice.end(), far.begin(), far.end());  // matches 40000 bytes back
  const std::vector<Bytes> files = {twice, sample_text(150000, 12), sample_text(50, 13)};
  for (char method : {'5', '6', '7'}) {
    auto members = pack_with_jlha(method, files);
    if (members.empty()) GTEST_SKIP() << "jlha is not installed";
    for (size_t i = 0; i < members.size(); ++i) {
      const StoredMember& packed = members[i];
      // Only the 64 KiB window of -lh7- reaches 40000 bytes back; else stored.
      if (i == 0 && method != '7') continue;
      ASSERT_EQ(packed.header[5], method) << i;
      SCOPED_TRACE(std::string(1, method) + " file " + std::to_string(i));
      // What the program or the next member sees: the same of both.
      Bytes out[2];
      std::pair<std::array<uint32_t, 6>, int32_t> state[2];
      for (int k = 0; k < 2; ++k) {
        std::memset(wa->ring, 0, ring_capacity);
        use_member(packed, Bytes(40, 0xEE));
        out[k] = recorded(k == 0 ? decode_member : reference_decode_member);
        state[k] = {decoder_state(), archive_position()};
      }
      EXPECT_EQ(state[0], state[1]);
      EXPECT_TRUE(out[0] == files[i] && out[1] == files[i]);
      EXPECT_EQ(wa->crc, packed.crc());
      // The next header would be read right behind the packed data.
      EXPECT_EQ(archive_position(), int32_t(packed.data.size()));
    }
  }
}

TEST_F(BlockDecoder, MatchesAcrossTheRingsEnd) {
  // At the ring's start, from its end: 256 bytes from the last byte that a
  // member before left.
  wa->ring[65535] = 'Q';
  BitWriter w;
  put_constant_block(w, 1, 509, 0, 5);
  use_member('7', w.bytes, 256);
  EXPECT_EQ(decoded(), std::string(256, 'Q'));
  // Near the ring's end, where codes go one at a time: 65300 'a', then a
  // match from 150 bytes past the fill (distance value 32768 + 32617), whose
  // source wraps over the ring's end to the first 'a's of the member.
  for (uint32_t i = 0; i < ring_capacity; ++i) wa->ring[i] = uint8_t('A' + i % 26);
  std::string expected(65300, 'a');
  for (uint32_t k = 0; k < 256; ++k) {
    uint32_t from = (65450 + k) & 0xFFFF;
    expected += from >= 65300 ? char(wa->ring[from]) : 'a';
  }
  BitWriter near_end;
  put_constant_block(near_end, 65300, 'a', 0, 5);
  put_constant_block(near_end, 1, 509, 16, 5);
  near_end.put(32617, 15);
  use_member('7', near_end.bytes, 65300 + 256);
  EXPECT_TRUE(decoded() == expected);
}

TEST_F(BlockDecoder, AMatchPastTheSizeIsCutThere) {
  BitWriter w;
  put_constant_block(w, 1, 'z', 0, 4);
  put_constant_block(w, 1, 509, 0, 4);
  put_constant_block(w, 0, 509, 0, 4);
  // In the careful steps (a short member) and in the runs of the loop.
  for (uint32_t size : {100u, 200000u}) {
    use_member('5', w.bytes, size);
    EXPECT_EQ(decoded(), std::string(size, 'z'));
    EXPECT_EQ(wa->out_count, size);
  }

  use_member('5', w.bytes, 0);
  EXPECT_TRUE(progress_shown([] { EXPECT_EQ(decoded(), ""); }).empty());
  // Nearly 4 GiB from a few bytes of 256-byte matches: the count of bytes
  // would pass 2^32 within a match and start again from 0, and zero bytes
  // would be written without end.
  for (int i = 0; i < 256; ++i) put_constant_block(w, 0, 509, 0, 4);
  use_member('5', w.bytes, 0xFFFFFFFFu);
  uint64_t written = 0;
  recorded(decode_member, nullptr, &written);
  EXPECT_EQ(written, 0xFFFFFFFFu);
  EXPECT_EQ(wa->out_count, 0xFFFFFFFFu);
}

TEST_F(BlockDecoder, ListsOutsideTheirAlphabetsIncompleteOrOverfullAreBadTables) {
  auto block_start = [](BitWriter& w, int code_length_symbol) {
    w.put(3, 16);
    w.put(0, 5);
    w.put(code_length_symbol, 5);  // every code length is this one symbol
  };
  BitWriter zeros, run, lit510, lit511, position5, position7, code_length;
  block_start(zeros, 0);  // 511 lengths of zero
  zeros.put(511, 9);
  block_start(run, 2);  // a zero run from 0 to 520
  run.put(510, 9);
  run.put(500, 9);
  put_constant_block(lit510, 1, 510, 0, 4);
  put_constant_block(lit511, 1, 511, 0, 4);
  put_constant_block(position5, 1, 'a', 14, 4);  // beyond 13 for -lh5-
  put_constant_block(position7, 1, 'a', 17, 5);  // beyond 16 for -lh7-
  block_start(code_length, 19);
  for (auto [method, w] : {std::pair{'5', zeros},
                           {'5', run},
                           {'5', lit510},
                           {'5', lit511},
                           {'5', position5},
                           {'7', position7},
                           {'5', code_length}}) {
    expect_bad_table([&, method = method, w = w] {
      start_bits(method, w.bytes);
      read_block_header(bits);
    });
  }
  const std::vector<uint8_t> refused[] = {
      {1, 2},
      {1, 1, 1, 1},  // sums to a multiple of 65536 too
      // A length above 16 has no code, even beside a complete code.
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 17},
  };
  for (const auto& list : refused)
    expect_bad_table([&] {
      build_table(list.data(), int(list.size()), small_main_bits, wa->small_table, small_table_size,
                  table_symbols);
    });
  // 256 codes of 7 bits would fill the table twice over.
  expect_bad_table([&] {
    for (int i = 0; i < 256; ++i) wa->lit_lengths[i] = 7;
    build_table(wa->lit_lengths, lit_symbols, lit_main_bits, wa->lit_table, lit_table_size,
                table_symbols);
  });
  // Exactly full: a zero run that ends at 510, and position symbol 16 for
  // -lh7-; zero lengths only, so the literal table stays (symbol 0, 0 bits).
  BitWriter w;
  block_start(w, 2);
  w.put(510, 9);
  w.put(490, 9);
  w.put(0, 5);
  w.put(16, 5);
  use_member('7', w.bytes, 3);
  EXPECT_EQ(decoded(), std::string(3, '\0'));
  EXPECT_EQ(wa->block_remaining, 0);
}

TEST_F(BlockDecoder, FlushesEvery64KiBWithProgressAndACutMemberIsAReadError) {
  Bytes text = sample_text(150000, 21);
  auto members = pack_with_jlha('6', {text});
  if (members.empty()) GTEST_SKIP() << "jlha is not installed";
  use_member(members[0]);
  std::vector<size_t> sizes;
  Bytes out;
  std::vector<int> progress = progress_shown([&] { out = recorded(decode_member, &sizes); });
  EXPECT_EQ(sizes, (std::vector<size_t>{65536, 65536, 18928}));
  EXPECT_TRUE(out == text);
  EXPECT_EQ(wa->crc, crc16_bitwise(text.data(), text.size()));
  // 65536 and 131072 of 150000 (and a match more), then the end.
  EXPECT_EQ(progress, (std::vector<int>{43, 87, 100}));

  // Captured into memory: no progress, and the last block stays.
  use_member(members[0]);
  wa->capture_mode = capture_script;
  EXPECT_TRUE(progress_shown(decode_member).empty());
  EXPECT_EQ(std::string(wa->script),
            std::string(text.begin() + 131072, text.begin() + 131072 + 4095));

  StoredMember cut = members[0];
  ASSERT_GT(cut.data.size(), 20000u);
  cut.data.resize(18000);  // the header still gives the full packed size
  use_member(cut);
  open_output();
  EXPECT_EXIT(decode_member(), ::testing::ExitedWithCode(1), "archive.bin\" Read ERROR");
  EXPECT_FALSE(output_exists());
}

using OutputSink = DecodeTest;

TEST_F(OutputSink, StoredMemberGoesThroughTheRingIn64KiBPieces) {
  Bytes data = sample_random(150000, 31);
  open_archive(data, Bytes(30, 0xEE));
  wa->crc = 0x1234;
  std::vector<size_t> sizes;
  Bytes out;
  std::vector<int> progress =
      progress_shown([&] { out = recorded([] { copy_stored_member(150000); }, &sizes); });
  EXPECT_EQ(sizes, (std::vector<size_t>{65536, 65536, 18928}));
  EXPECT_TRUE(out == data);
  EXPECT_EQ(wa->crc, crc16_bitwise(data.data(), data.size()));
  // Progress with the bytes copied before each piece: 0, 65536, 131072.
  EXPECT_EQ(progress, (std::vector<int>{0, 43, 87}));
  EXPECT_EQ(archive_position(), 150000);
  // No bytes, or a negative count: nothing read, written or shown.
  for (uint32_t size : {0u, 0x80000000u}) {
    open_archive(data);
    EXPECT_TRUE(progress_shown([&] {
                  EXPECT_TRUE(recorded([&] { copy_stored_member(int32_t(size)); }).empty());
                }).empty());
    EXPECT_EQ(wa->crc, 0);
    EXPECT_EQ(archive_position(), 0);
  }
}

TEST_F(OutputSink, ArchiveCutShortIsAReadErrorAndAShortWriteAWriteError) {
  open_archive(sample_random(100000, 34));
  open_output();
  EXPECT_EXIT(copy_stored_member(150000), ::testing::ExitedWithCode(1), "archive.bin\" Read ERROR");
  EXPECT_FALSE(output_exists());

  // The second piece is cut short.
  open_archive(sample_random(150000, 35));
  open_output();
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = 100000;  // a disk that takes 100000 bytes
        setrlimit(RLIMIT_FSIZE, &limit);
        copy_stored_member(150000);
      },
      ::testing::ExitedWithCode(1), "out.bin\" Write ERROR");
  EXPECT_FALSE(output_exists());
}
