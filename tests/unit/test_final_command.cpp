// The command after extraction: how it is split into program and
// parameters, when it runs, and how the Linux side starts it.
#include <unistd.h>

#include "tests/unit/support_install.h"

namespace {

struct Split {
  std::string program;
  std::string parameters;
};

Split split(const char* command) {
  char program[300];
  const char* rest = split_command_line(program, command);
  return {program, rest};
}

TEST(SplitCommandLine, ProgramAndParameters) {
  Split doc = split("README.TXT");
  EXPECT_EQ(doc.program, "README.TXT");
  EXPECT_EQ(doc.parameters, "");

  Split quoted = split("  \"C:\\Program Files\\App\\app.exe\"   -a  \"b c\"  ");
  EXPECT_EQ(quoted.program, "C:\\Program Files\\App\\app.exe");
  EXPECT_EQ(quoted.parameters, "-a  \"b c\"  ");  // trailing blanks stay

  Split tabs = split("\tsetup.exe\t/q");
  EXPECT_EQ(tabs.program, "setup.exe");
  EXPECT_EQ(tabs.parameters, "/q");
}

TEST(SplitCommandLine, QuotesWithoutBlanksOrWithoutAnEnd) {
  Split glued = split("\"app.exe\"-x y");
  EXPECT_EQ(glued.program, "app.exe");
  EXPECT_EQ(glued.parameters, "-x y");

  Split open = split("\"C:\\My App\\app.exe -x");
  EXPECT_EQ(open.program, "C:\\My App\\app.exe -x");
  EXPECT_EQ(open.parameters, "");

  Split blanks = split("   ");
  EXPECT_EQ(blanks.program, "");
  EXPECT_EQ(blanks.parameters, "");
}

class FinalCommand : public InstallTest {};

TEST_F(FinalCommand, PassesTheDocumentWithoutParametersInTheDirectory) {
  text_copy(wa->settings.command, "README.TXT", sizeof wa->settings.command);
  run_command(nullptr);
  text_copy(wa->settings.command, "\"My App.exe\" /a /b", sizeof wa->settings.command);
  run_command(nullptr);
  std::vector<std::string> expected = {
      "shell_execute(README.TXT|(null)|C:\\Example)",
      "shell_execute(My App.exe|/a /b|C:\\Example)",
  };
  EXPECT_EQ(calls(), expected);
}

TEST_F(FinalCommand, RunsOnlyAfterACleanPassAndWhenThereIsACommand) {
  run_command(nullptr);
  text_copy(wa->settings.command, "app.exe", sizeof wa->settings.command);
  wa->aborted = 1;
  run_command(nullptr);
  EXPECT_TRUE(calls().empty());

  // Blanks only are a command: the shell gets an empty name and fails.
  wa->aborted = 0;
  text_copy(wa->settings.command, "  ", sizeof wa->settings.command);
  run_command(nullptr);
  EXPECT_EQ(calls(), std::vector<std::string>{"shell_execute(|(null)|C:\\Example)"});
}

// Polls for a file for at most five seconds.
bool appears(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (access(path.c_str(), F_OK) == 0) return true;
    usleep(10000);
  }
  return false;
}

TEST_F(FinalCommand, ProgramStartsDetachedInTheExtractionDirectory) {
  std::string done = scratch + "/done";
  make_file("Example/bin/start.sh",
            "#!/bin/sh\nsleep 1\n{ pwd; printf '%s\\n' \"$@\"; } > '" + done +
                ".tmp'\n"
                "mv '" +
                done + ".tmp' '" + done + "'\n",
            0755);
  text_copy(wa->settings.command, "bin\\start.sh \"two words\" x", sizeof wa->settings.command);
  uint32_t start = sys_tick_count();
  run_command(nullptr);
  EXPECT_LT(sys_tick_count() - start, 800u);  // it does not wait for the program
  ASSERT_TRUE(appears(done));
  EXPECT_EQ(read_file(done), root + "/Example\ntwo words\nx\n");
}

}  // namespace
