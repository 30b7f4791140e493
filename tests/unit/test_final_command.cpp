// The command after extraction: how it is split into program and
// parameters and when it runs (the runner's tests start it on Linux).
#include "tests/unit/support_install.h"

namespace {

TEST(SplitCommandLine, ProgramAndParameters) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"README.TXT", "README.TXT", ""},
      // Trailing blanks of the parameters stay.
      {"  \"C:\\Program Files\\App\\app.exe\"   -a  \"b c\"  ", "C:\\Program Files\\App\\app.exe",
       "-a  \"b c\"  "},
      {"\tsetup.exe\t/q", "setup.exe", "/q"},
      {"\"app.exe\"-x y", "app.exe", "-x y"},                      // no blank after the quote
      {"\"C:\\My App\\app.exe -x", "C:\\My App\\app.exe -x", ""},  // no closing quote
      {"   ", "", ""},
  };
  for (const auto& [command, program, parameters] : cases) {
    char out[300];
    const char* rest = split_command_line(out, command);
    EXPECT_STREQ(out, program) << command;
    EXPECT_STREQ(rest, parameters) << command;
  }
}

class FinalCommand : public InstallTest {
 protected:
  void command(const char* command) {
    text_copy(wa->settings.command, command, sizeof wa->settings.command);
    run_command(nullptr);
  }
};

TEST_F(FinalCommand, RunsOnlyAfterACleanPassAndWhenThereIsACommand) {
  command("");
  wa->aborted = 1;
  command("app.exe");
  EXPECT_TRUE(calls().empty());
  wa->aborted = 0;
  command("README.TXT");
  command("\"My App.exe\" /a /b");
  command("  ");  // blanks only are a command: the shell gets an empty name and fails
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "shell_execute(README.TXT|(null)|C:\\Example)",
                         "shell_execute(My App.exe|/a /b|C:\\Example)",
                         "shell_execute(|(null)|C:\\Example)",
                     }));
}

}  // namespace
