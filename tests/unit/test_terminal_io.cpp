// The front ends' shared pieces (the directory taken on OK, quotes removed,
// the trailing separator cut), and the runner's message boxes and progress
// when standard input and standard error are not terminals: each question
// reads one line, the end of input answers No or Cancel, progress is logged
// once per member and at its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/terminal_filter.h"
#include "startup/startup.h"
#include "startup/work_area.h"
#include "ui/common/dialog_common.h"
#include "ui/terminal/terminal_dialog.h"

class TerminalIo : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(posix_set_code_page(932), 1); }
  // Standard input from a text.
  void feed_stdin(const std::string& text) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fflush(f);
    ASSERT_NE(freopen(("/proc/self/fd/" + std::to_string(fileno(f))).c_str(), "r", stdin), nullptr);
    std::fclose(f);
  }
  int ask(uint32_t style, std::string* shown) {
    testing::internal::CaptureStderr();
    int answer = sys_message_box(nullptr, "\"C:\\App\\a.txt\" Overwrite?", "Setup", style);
    *shown = testing::internal::GetCapturedStderr();
    return answer;
  }
};

TEST_F(TerminalIo, EachQuestionReadsOneLineAndTheEndAnswersNoOrCancel) {
  feed_stdin("y\nN\n  c  \nYES\nmaybe\nn\nc\ny\n");
  struct Case {
    uint32_t style;
    int answer;
    const char* shown;
  };
  const Case cases[] = {
      {box_yes_no_cancel | box_icon_question, answer_yes, "Setup: \"C:\\App\\a.txt\" Overwrite?"},
      {box_yes_no_cancel, answer_no, "[y/n/c]"},
      {box_yes_no_cancel, answer_cancel, ""},
      {box_ok | box_icon_stop, answer_ok, ""},  // reads no line
      {box_yes_no, answer_yes, "[y/n]"},
      {box_yes_no, answer_no, "maybe"},  // a line that answers nothing is passed over
      {box_yes_no, answer_yes, ""},      // so is Cancel where it is not offered
      {box_yes_no, answer_no, ""},       // the end of input
      {box_yes_no_cancel, answer_cancel, ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    EXPECT_EQ(ask(c.style, &shown), c.answer) << shown;
    EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
  }
  // A last line without its newline still counts.
  feed_stdin("y");
  std::string shown;
  EXPECT_EQ(ask(box_yes_no_cancel, &shown), answer_yes);
  EXPECT_EQ(ask(box_yes_no_cancel, &shown), answer_cancel);
}

TEST(TerminalSafe, ControlCharactersReorderingMarksAndBrokenUtf8AreShownEscaped) {
  EXPECT_EQ(terminal_safe("\x1b]0;\xE2\x80\xAEtxt.exe\xE2\x81\xA6"),
            "\\x1b]0;\\u202etxt.exe\\u2066");
  // Overlong forms of ESC and CSI, a surrogate, a cut sequence: byte by byte.
  EXPECT_EQ(terminal_safe("\xC0\x9B\xE0\x80\x9B\xED\xA0\x80\xE6\x97"),
            "\\xc0\\x9b\\xe0\\x80\\x9b\\xed\\xa0\\x80\\xe6\\x97");
  EXPECT_EQ(terminal_safe("\xE6\x97\xA5 \xF0\x9F\x98\x80"), "\xE6\x97\xA5 \xF0\x9F\x98\x80");
}

TEST_F(TerminalIo, DirectoryTakenOnOkAndItsTrailingSeparatorCut) {
  // A separator is cut at the end only, never a trail byte (KATAKANA SO is
  // 0x83 0x5C); in a single-byte code page 0x5C is a separator.
  const std::tuple<int, const char*, int, const char*> cases[] = {
      {932, "a\\b", 0, "a\\b"},
      {932, "C:\\\x83\x5C", 0, "C:\\\x83\x5C"},
      {932, "\x83\x5C/", 1, "\x83\x5C"},
      {1252, "C:\\\x83\x5C", 1, "C:\\\x83"},
  };
  for (const auto& [code_page, in, cut, out] : cases) {
    ASSERT_EQ(posix_set_code_page(uint32_t(code_page)), 1);
    char path[16] = {};
    std::strcpy(path, in);
    EXPECT_EQ(cut_trailing_separator(path), cut) << in;
    EXPECT_STREQ(path, out);
  }
  // Quotes go (network paths are met in the runner's tests); the field holds
  // 255 characters, a longer text is cut, never overflows.
  wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  ASSERT_NE(wa, nullptr);
  EXPECT_EQ(take_directory(nullptr, std::string(400, 'x').c_str()), 1);
  EXPECT_EQ(std::strlen(wa->dest_dir), 255u);
  sys_free(wa);
  wa = nullptr;
}
