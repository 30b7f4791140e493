// The portable pieces of the main dialog: quotes, the trailing separator,
// taking the directory on OK and the check boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/posix/posix_config.h"
#include "startup/startup.h"
#include "ui/common/dialog_common.h"
#include "ui/main_dialog.h"

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

TEST_F(DialogCommon, StripQuotesKeepsTheOrderWithinTheCount) {
  char text[32] = "\"C:\\Program Files\\App\"";
  strip_quotes(text, sizeof text);
  EXPECT_STREQ(text, "C:\\Program Files\\App");

  char inner[16] = "a\"b\"\"c\"";
  strip_quotes(inner, sizeof inner);
  EXPECT_STREQ(inner, "abc");

  // Only the first n bytes are looked at; the rest stays as it was.
  char partial[16] = "\"ab\"cd\"e";
  strip_quotes(partial, 4);
  EXPECT_EQ(std::string(partial, 8), std::string("ab\0\0cd\"e", 8));

  char only[4] = "\"\"\"";
  strip_quotes(only, sizeof only);
  EXPECT_STREQ(only, "");
}

TEST_F(DialogCommon, CutTrailingSeparatorStopsAtTheEndOnly) {
  char games[16] = "C:\\GAMES\\";
  EXPECT_EQ(cut_trailing_separator(games), 1);
  EXPECT_STREQ(games, "C:\\GAMES");

  char drive[8] = "C:\\";
  EXPECT_EQ(cut_trailing_separator(drive), 1);
  EXPECT_STREQ(drive, "C:");

  char slash[8] = "a/b/";
  EXPECT_EQ(cut_trailing_separator(slash), 1);
  EXPECT_STREQ(slash, "a/b");

  char twice[8] = "a\\\\";
  EXPECT_EQ(cut_trailing_separator(twice), 1);
  EXPECT_STREQ(twice, "a\\");

  char none[8] = "a\\b";
  EXPECT_EQ(cut_trailing_separator(none), 0);
  EXPECT_STREQ(none, "a\\b");

  char empty[4] = "";
  EXPECT_EQ(cut_trailing_separator(empty), 0);
}

TEST_F(DialogCommon, TrailByteThatLooksLikeABackslashStays) {
  // KATAKANA SO in code page 932 is 0x83 0x5C.
  char so[8] = "C:\\\x83\x5C";
  EXPECT_EQ(cut_trailing_separator(so), 0);
  EXPECT_STREQ(so, "C:\\\x83\x5C");

  char after[8] = "\x83\x5C\\";
  EXPECT_EQ(cut_trailing_separator(after), 1);
  EXPECT_STREQ(after, "\x83\x5C");

  // In a single-byte code page the same byte is a separator.
  ASSERT_EQ(posix_set_code_page(1252), 1);
  char latin[8] = "C:\\\x83\x5C";
  EXPECT_EQ(cut_trailing_separator(latin), 1);
  EXPECT_STREQ(latin, "C:\\\x83");
  ASSERT_EQ(posix_set_code_page(932), 1);
}

TEST_F(DialogCommon, TakeDirectoryRefusesNetworkPaths) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(take_directory(nullptr, "\\\\server\\share"), 0);
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Setup Title: Invalid directory"), std::string::npos) << shown;

  // The quotes go first, so a quoted network path is refused as well.
  testing::internal::CaptureStderr();
  EXPECT_EQ(take_directory(nullptr, "\"\\\\server\\share\""), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Invalid directory"), std::string::npos);

  EXPECT_EQ(take_directory(nullptr, "\\single"), 1);
  EXPECT_STREQ(wa->dest_dir, "\\single");
  EXPECT_EQ(take_directory(nullptr, "\"C:\\Program Files\\My App\""), 1);
  EXPECT_STREQ(wa->dest_dir, "C:\\Program Files\\My App");
  EXPECT_EQ(take_directory(nullptr, ""), 1);
  EXPECT_STREQ(wa->dest_dir, "");
  EXPECT_EQ(take_directory(nullptr, nullptr), 1);
  EXPECT_STREQ(wa->dest_dir, "");

  // The field holds 255 characters; a longer text is cut, never overflows.
  std::string long_text(400, 'x');
  EXPECT_EQ(take_directory(nullptr, long_text.c_str()), 1);
  EXPECT_EQ(std::strlen(wa->dest_dir), 255u);
}

TEST_F(DialogCommon, CheckBoxesFlipTheirOwnFlag) {
  wa->group_checked = 1;
  EXPECT_EQ(toggle_check_box(control_group), 0);
  EXPECT_EQ(wa->group_checked, 0);
  EXPECT_EQ(toggle_check_box(control_group), 1);
  wa->class_checked = 5;  // any nonzero value counts as ticked
  EXPECT_EQ(toggle_check_box(control_class), 0);
  EXPECT_EQ(wa->group_checked, 1);
  EXPECT_EQ(toggle_check_box(control_ok), 0);
  EXPECT_EQ(wa->group_checked, 1);
  EXPECT_EQ(wa->class_checked, 0);
}

}  // namespace
