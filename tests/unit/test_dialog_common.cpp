// The portable pieces of the main dialog: the trailing separator and taking
// the directory on OK, quotes removed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/posix/posix_config.h"
#include "startup/startup.h"
#include "ui/common/dialog_common.h"

namespace {

class DialogCommon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(posix_set_code_page(932), 1);
    wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
    ASSERT_NE(wa, nullptr);
    text_copy(wa->settings.window_title, "Setup Title", sizeof wa->settings.window_title);
  }
  void TearDown() override {
    sys_free(wa);
    wa = nullptr;
  }
};

TEST_F(DialogCommon, CutTrailingSeparatorAtTheEndOnlyAndNeverATrailByte) {
  struct Case {
    int code_page;
    const char* in;
    int cut;
    const char* out;
  };
  const Case cases[] = {
      {932, "C:\\GAMES\\", 1, "C:\\GAMES"},
      {932, "C:\\", 1, "C:"},
      {932, "a/b/", 1, "a/b"},
      {932, "a\\\\", 1, "a\\"},
      {932, "a\\b", 0, "a\\b"},
      {932, "", 0, ""},
      {932, "C:\\\x83\x5C", 0, "C:\\\x83\x5C"},  // KATAKANA SO: 0x83 0x5C
      {932, "\x83\x5C\\", 1, "\x83\x5C"},
      {1252, "C:\\\x83\x5C", 1, "C:\\\x83"},  // in a single-byte code page a separator
  };
  for (const Case& t : cases) {
    ASSERT_EQ(posix_set_code_page(uint32_t(t.code_page)), 1);
    char path[16] = {};
    std::strcpy(path, t.in);
    EXPECT_EQ(cut_trailing_separator(path), t.cut) << t.in;
    EXPECT_STREQ(path, t.out);
  }
}

TEST_F(DialogCommon, TakeDirectoryRefusesNetworkPaths) {
  // The quotes go first, so a quoted network path is refused as well.
  for (const char* network : {"\\\\server\\share", "\"\\\\server\\share\""}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(take_directory(nullptr, network), 0);
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("Setup Title: Invalid directory"), std::string::npos) << shown;
  }
  const std::pair<const char*, const char*> taken[] = {
      {"\\single", "\\single"},
      {"\"C:\\Program Files\\My App\"", "C:\\Program Files\\My App"},
      {"a\"b\"\"c\"", "abc"},
      {"", ""},
      {nullptr, ""},
  };
  for (const auto& [field, dir] : taken) {
    EXPECT_EQ(take_directory(nullptr, field), 1);
    EXPECT_STREQ(wa->dest_dir, dir);
  }
  // The field holds 255 characters; a longer text is cut, never overflows.
  EXPECT_EQ(take_directory(nullptr, std::string(400, 'x').c_str()), 1);
  EXPECT_EQ(std::strlen(wa->dest_dir), 255u);
}

}  // namespace
