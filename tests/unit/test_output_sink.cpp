// The output sink and the stored copy: 64 KiB pieces with progress, the CRC
// over what was written, and the failures that end the program with the
// partial file deleted.
#include <signal.h>
#include <sys/resource.h>

#include "support_decode.h"

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
}

TEST_F(OutputSink, StoredMemberOfNoBytesOrANegativeCountReadsAndWritesNothing) {
  open_archive(Bytes(100, 0x41));
  for (uint32_t size : {0u, 0x80000000u}) {
    wa->crc = 0x1234;
    Bytes out;
    EXPECT_TRUE(progress_shown([&] {
                  out = recorded([&] { copy_stored_member(int32_t(size)); });
                }).empty());
    EXPECT_TRUE(out.empty());
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
