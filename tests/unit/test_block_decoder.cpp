// The block decoder: real members of -lh5- to -lh7- decode to their files,
// the fast loop leaves the bit reader as its own routines would, blocks of
// single-symbol codes, code-length lists, flushes and progress, and the
// damaged members that end the program.
#include <cstring>

#include "support_decode.h"

namespace {

class BlockDecoder : public DecodeTest {
 protected:
  // Everything of the decoder that the program or the next member sees.
  std::vector<uint32_t> decoder_state() {
    return {wa->in_pos,       wa->packed_remaining,        wa->bit_window, wa->pending_byte,
            wa->pending_bits, wa->block_remaining,         wa->out_count,  wa->ring_fill,
            wa->crc,          uint32_t(archive_position())};
  }
  // Decodes the current member with output to a recorder; its bytes.
  Bytes decode(void (*decoder)()) {
    WriteRecorder out;
    out.start();
    decoder();
    out.finish();
    return out.bytes;
  }
  // 8 bits of the stream that follow what was read, as a marker.
  void expect_marker(uint8_t marker) { EXPECT_EQ(read_bits(8), marker); }
  void start_stream(char method, const BitWriter& w) {
    use_member(method, w.bytes(), 0);
    wa->packed_remaining = uint32_t(w.bytes().size());
    start_member_decoding(method);
  }
};

std::vector<std::pair<std::string, Bytes>> sample_files() {
  Bytes far = sample_random(40000, 11);
  Bytes twice = far;
  twice.insert(twice.end(), far.begin(), far.end());  // matches 40000 bytes back
  Bytes runs(30000, 0);
  for (size_t i = 0; i < runs.size(); i += 97) runs[i] = uint8_t(i);
  return {{"far.bin", twice},
          {"text.txt", sample_text(150000, 12)},
          {"runs.bin", runs},
          {"tiny.txt", sample_text(50, 13)}};
}

TEST_F(BlockDecoder, MembersPackedByJlhaDecodeToTheirFiles) {
  auto files = sample_files();
  for (char method : {'5', '6', '7'}) {
    auto members = pack_with_jlha(method, files);
    if (members.empty()) GTEST_SKIP() << "jlha is not installed";
    ASSERT_EQ(members.size(), files.size());
    for (size_t i = 0; i < members.size(); ++i) {
      SCOPED_TRACE(std::string(1, method) + " " + members[i].name);
      // What does not shrink is stored; the repeat 40000 bytes back only
      // the 64 KiB window of -lh7- reaches.
      if (members[i].name != "far.bin" || method == '7') {
        EXPECT_EQ(members[i].method(), method);
      }
      use_member(members[i], Bytes(40, 0xEE));
      open_output();
      if (members[i].method() == '0')
        copy_stored_member(int32_t(members[i].size()));
      else
        decode_member();
      EXPECT_EQ(output_bytes(), files[i].second);
      EXPECT_EQ(wa->crc, members[i].crc());
      // The next header would be read right behind the packed data.
      EXPECT_EQ(archive_position(), int32_t(members[i].data.size()));
      sys_close_own_file(wa->archive_file);
      wa->archive_file = invalid_file;
    }
  }
}

TEST_F(BlockDecoder, CorpusMembersDecodeToTheirManifestDigest) {
  std::string corpus = corpus_folder();
  if (corpus.empty()) GTEST_SKIP() << "the corpus beside the checkout is absent";
  int checked = 0;
  for (const char* name :
       {"lhaunix_medium_lh5.lzh", "lhaunix_medium_lh6.lzh", "lhaunix_medium_lh7.lzh",
        "lhmelt_16536__h2_lh5.lzh", "explzh_723__h2_lh7.lzh"}) {
    std::map<std::string, std::string> digests = corpus_digests(name);
    for (const StoredMember& m : read_level2_members(read_file_bytes(corpus + "/" + name))) {
      if (m.method() < '4' || m.method() > '7') continue;
      SCOPED_TRACE(std::string(name) + " " + m.name);
      use_member(m);
      Bytes out = decode(decode_member);
      EXPECT_EQ(out.size(), m.size());
      EXPECT_EQ(wa->crc, m.crc());
      EXPECT_EQ(sha256_of(out), digests[m.name]);
      sys_close_own_file(wa->archive_file);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 17);
}

TEST_F(BlockDecoder, FastLoopLeavesTheStateTheBitReaderRoutinesLeave) {
  auto members = pack_with_jlha('7', sample_files());
  if (members.empty()) GTEST_SKIP() << "jlha is not installed";
  for (const StoredMember& packed : members) {
    // As packed; with stray bytes behind the data that the decoder does
    // not reach; and with a packed size too small, so zero bits follow.
    StoredMember longer = packed, shorter = packed;
    longer.data.resize(packed.data.size() + 20000, 0x5A);
    shorter.data.resize(packed.data.size() * 2 / 3);
    for (StoredMember* m : {&longer, &shorter}) {
      uint32_t size = uint32_t(m->data.size());
      for (int i = 0; i < 4; ++i) m->header[7 + i] = uint8_t(size >> (8 * i));
    }
    for (const StoredMember* m : std::vector<const StoredMember*>{&packed, &longer, &shorter}) {
      SCOPED_TRACE(packed.name + " packed " + std::to_string(m->data.size()));
      std::memset(wa->ring, 0, ring_capacity);
      use_member(*m, Bytes(40, 0xEE));
      Bytes fast = decode(decode_member);
      std::vector<uint32_t> fast_state = decoder_state();
      sys_close_own_file(wa->archive_file);

      std::memset(wa->ring, 0, ring_capacity);
      use_member(*m, Bytes(40, 0xEE));
      Bytes reference = decode(reference_decode_member);
      EXPECT_EQ(fast_state, decoder_state());
      EXPECT_TRUE(fast == reference);
      sys_close_own_file(wa->archive_file);
    }
  }
}

TEST_F(BlockDecoder, ABlockWithoutALiteralCodeKeepsTheTableOfTheMemberBefore) {
  // The loop builds lit_lookup only in part; a block whose lengths are all
  // zero decodes by the table as the block before left it, here the last
  // block of the member before, whichever decoder took either member.
  Bytes text = sample_text(20000, 21);
  auto members = pack_with_jlha('5', {{"text.txt", text}});
  if (members.empty()) GTEST_SKIP() << "jlha is not installed";
  for (uint16_t pattern : {0x0000, 0x0123, 0x5A5A, 0xFFFF}) {
    BitWriter w;
    w.put(3000, 16);
    w.put(0, 5);  // code-length code: the single symbol 0, a zero length
    w.put(0, 5);
    w.put(5, 9);  // five lengths of that symbol, taking no bits: no code
    w.put(0, 4);  // position code: the single symbol 0
    w.put(0, 4);
    for (int i = 0; i < 8; ++i) w.put(pattern, 16);  // what the old table looks up
    Bytes outputs[4];
    int k = 0;
    for (void (*first)() : {decode_member, reference_decode_member})
      for (void (*second)() : {decode_member, reference_decode_member}) {
        SCOPED_TRACE("pattern " + std::to_string(pattern) + ", combination " + std::to_string(k));
        use_member(members[0]);
        EXPECT_TRUE(decode(first) == text);
        sys_close_own_file(wa->archive_file);
        use_member('5', w.bytes(), 3000);
        outputs[k++] = decode(second);
        sys_close_own_file(wa->archive_file);
      }
    EXPECT_GE(outputs[0].size(), 3000u);
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(outputs[i] == outputs[0]) << "pattern " << pattern;
  }
}

TEST_F(BlockDecoder, SingleSymbolBlocksTakeNoBitsPerCode) {
  // Block size 0 stands for 65536 codes; then a block of 4464.
  BitWriter w;
  put_constant_block(w, 0, 'A', 0, 4);
  put_constant_block(w, 4464, 'B', 0, 4);
  use_member('5', w.bytes(), 70000);
  WriteRecorder out;
  out.start();
  decode_member();
  out.finish();
  EXPECT_EQ(out.sizes, (std::vector<size_t>{65536, 4464}));
  Bytes expected(65536, 'A');
  expected.resize(70000, 'B');
  EXPECT_TRUE(out.bytes == expected);
  EXPECT_EQ(wa->crc, crc16_bitwise(expected.data(), expected.size()));
}

TEST_F(BlockDecoder, MatchesOfEveryLengthAndShortDistance) {
  // 256 bytes from the ring's last byte, left by an earlier member; "ab";
  // 3 bytes from distance value 1; 10 repeats of the previous byte.
  wa->ring[65535] = 'Q';
  BitWriter w;
  put_constant_block(w, 1, 509, 0, 5);
  put_constant_block(w, 1, 'a', 0, 5);
  put_constant_block(w, 1, 'b', 0, 5);
  put_constant_block(w, 1, 256, 1, 5);
  put_constant_block(w, 1, 263, 0, 5);
  use_member('7', w.bytes(), 256 + 2 + 3 + 10);
  std::string expected = std::string(256, 'Q') + "ab" + "aba" + std::string(10, 'a');
  Bytes got = decode(decode_member);
  EXPECT_EQ(std::string(got.begin(), got.end()), expected);
}

TEST_F(BlockDecoder, MatchPastTheSizeIsCopiedWholeAndEmptyMemberWritesNothing) {
  BitWriter w;
  put_constant_block(w, 1, 'z', 0, 4);
  put_constant_block(w, 1, 509, 0, 4);
  use_member('5', w.bytes(), 100);
  EXPECT_EQ(decode(decode_member), Bytes(257, 'z'));
  EXPECT_EQ(wa->out_count, 257u);
  sys_close_own_file(wa->archive_file);

  use_member('5', w.bytes(), 0);
  std::vector<int> progress =
      progress_shown([this] { EXPECT_TRUE(decode(decode_member).empty()); });
  EXPECT_TRUE(progress.empty());
}

TEST_F(BlockDecoder, CodeLengthListWithZeroRun) {
  BitWriter w;
  w.put(7, 5);
  for (int len : {2, 2, 2}) w.put(len, 3);
  w.put(2, 2);  // two zeros after the third length, counted in the 7
  w.put(3, 3);
  w.put(3, 3);
  w.put(0xA5, 8);
  w.put(5, 5);  // count 5: the list ends with the zero run
  for (int len : {1, 2, 2}) w.put(len, 3);
  w.put(2, 2);
  w.put(0x3C, 8);
  w.put(0, 16);
  start_stream('5', w);
  load_small_lengths(19, 5, 3);
  EXPECT_EQ(Bytes(wa->small_lengths, wa->small_lengths + 19),
            Bytes({2, 2, 2, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(wa->small_lookup[63], 0);
  EXPECT_EQ(wa->small_lookup[191], 2);
  EXPECT_EQ(wa->small_lookup[192], 5);
  EXPECT_EQ(wa->small_lookup[255], 6);
  expect_marker(0xA5);
  load_small_lengths(19, 5, 3);
  EXPECT_EQ(Bytes(wa->small_lengths, wa->small_lengths + 6), Bytes({1, 2, 2, 0, 0, 0}));
  expect_marker(0x3C);
}

TEST_F(BlockDecoder, LongLengthsUseTheUnaryEscape) {
  BitWriter w;
  w.put(11, 4);
  for (int len = 1; len <= 6; ++len) w.put(len, 3);
  // 7 + the number of 1-bits before the 0-bit: 7, 8, 9, 10, 10.
  for (uint32_t escape : {0x0u, 0x2u, 0x6u, 0xEu, 0xEu}) {
    w.put(7, 3);
    int bits = escape == 0 ? 1 : escape == 2 ? 2 : escape == 6 ? 3 : 4;
    w.put(escape, bits);
  }
  w.put(0x96, 8);
  w.put(0, 16);
  start_stream('5', w);
  load_small_lengths(14, 4, -1);
  EXPECT_EQ(Bytes(wa->small_lengths, wa->small_lengths + 14),
            Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 0, 0, 0}));
  expect_marker(0x96);
}

TEST_F(BlockDecoder, ListsOutsideTheirAlphabetsAreBadTables) {
  auto bad_header = [this](char method, const BitWriter& w) {
    EXPECT_EXIT(
        {
          start_stream(method, w);
          next_lit_symbol();
        },
        ::testing::ExitedWithCode(1), "\"" + archive_path + "\" Bad table");
  };
  auto block_start = [](BitWriter& w, int code_length_symbol) {
    w.put(1, 16);
    w.put(0, 5);
    w.put(code_length_symbol, 5);  // every code length is this one symbol
  };
  {  // 511 lengths of zero
    BitWriter w;
    block_start(w, 0);
    w.put(511, 9);
    bad_header('5', w);
  }
  {  // a zero run from 0 to 520
    BitWriter w;
    block_start(w, 2);
    w.put(510, 9);
    w.put(500, 9);
    bad_header('5', w);
  }
  {  // single literal/length symbols 510 and 511
    for (int symbol : {510, 511}) {
      BitWriter w;
      put_constant_block(w, 1, uint16_t(symbol), 0, 4);
      bad_header('5', w);
    }
  }
  {  // single position symbols beyond 13 (-lh5-) and 16 (-lh7-)
    BitWriter w5, w7;
    put_constant_block(w5, 1, 'a', 14, 4);
    put_constant_block(w7, 1, 'a', 17, 5);
    bad_header('5', w5);
    bad_header('7', w7);
  }
  {  // and one of the code-length code beyond 18
    BitWriter w;
    block_start(w, 19);
    bad_header('5', w);
  }
}

TEST_F(BlockDecoder, ListsThatFillTheAlphabetExactlyAreTaken) {
  // A zero run that ends at 510, and position symbol 16 for -lh7-: zero
  // lengths only, so the literal table stays as it was (symbol 0 of 0 bits).
  BitWriter w;
  w.put(3, 16);
  w.put(0, 5);
  w.put(2, 5);
  w.put(510, 9);
  w.put(490, 9);
  w.put(0, 5);
  w.put(16, 5);
  use_member('7', w.bytes(), 3);
  EXPECT_EQ(decode(decode_member), Bytes(3, 0));
  EXPECT_EQ(wa->block_remaining, 0);
}

TEST_F(BlockDecoder, FlushesEvery64KiBWithProgress) {
  Bytes text = sample_text(150000, 21);
  auto members = pack_with_jlha('5', {{"big.txt", text}});
  if (members.empty()) GTEST_SKIP() << "jlha is not installed";
  use_member(members[0]);
  WriteRecorder out;
  std::vector<int> progress = progress_shown([&] {
    out.start();
    decode_member();
    out.finish();
  });
  EXPECT_EQ(out.sizes, (std::vector<size_t>{65536, 65536, 18928}));
  EXPECT_TRUE(out.bytes == text);
  EXPECT_EQ(wa->crc, crc16_bitwise(text.data(), text.size()));
  // 65536 and 131072 of 150000 (and a match more), then the end.
  EXPECT_EQ(progress, (std::vector<int>{43, 87, 100}));

  // Captured into memory: no progress, and the last block stays.
  sys_close_own_file(wa->archive_file);
  use_member(members[0]);
  wa->capture_mode = capture_script;
  progress = progress_shown([] { decode_member(); });
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(std::string(wa->script),
            std::string(text.begin() + 131072, text.begin() + 131072 + 4095));
}

TEST_F(BlockDecoder, MemberCutShortIsAReadError) {
  Bytes text = sample_text(150000, 22);
  auto members = pack_with_jlha('6', {{"big.txt", text}});
  if (members.empty()) GTEST_SKIP() << "jlha is not installed";
  StoredMember cut = members[0];
  ASSERT_GT(cut.data.size(), 20000u);
  cut.data.resize(18000);  // the header still gives the full packed size
  use_member(cut);
  open_output();
  EXPECT_EXIT(decode_member(), ::testing::ExitedWithCode(1), "\"" + archive_path + "\" Read ERROR");
  EXPECT_FALSE(output_exists());
}

}  // namespace
