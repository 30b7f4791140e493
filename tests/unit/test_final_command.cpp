// The command after extraction: how it is split into program and
// parameters, when it runs, and how the Linux side starts it.
#include <unistd.h>

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
  void run(const char* command) {
    text_copy(wa->settings.command, command, sizeof wa->settings.command);
    run_command(nullptr);
  }
};

TEST_F(FinalCommand, RunsOnlyAfterACleanPassAndWhenThereIsACommand) {
  run("");
  wa->aborted = 1;
  run("app.exe");
  EXPECT_TRUE(calls().empty());
  wa->aborted = 0;
  run("README.TXT");
  run("\"My App.exe\" /a /b");
  run("  ");  // blanks only are a command: the shell gets an empty name and fails
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "shell_execute(README.TXT|(null)|C:\\Example)",
                         "shell_execute(My App.exe|/a /b|C:\\Example)",
                         "shell_execute(|(null)|C:\\Example)",
                     }));
}

TEST_F(FinalCommand, ProgramStartsDetachedInTheExtractionDirectory) {
  std::string done = scratch + "/done";
  make_file("Example/bin/start.sh",
            "#!/bin/sh\nsleep 1\n{ pwd; printf '%s\\n' \"$@\"; } > '" + done + ".tmp'\nmv '" +
                done + ".tmp' '" + done + "'\n",
            0755);
  posix_set_run_command(1);  // no terminal here to ask
  uint32_t start = sys_tick_count();
  run("bin\\start.sh \"two words\" x");
  posix_set_run_command(0);
  EXPECT_LT(sys_tick_count() - start, 800u);  // it does not wait for the program
  for (int i = 0; i < 500 && access(done.c_str(), F_OK) != 0; ++i) usleep(10000);
  EXPECT_EQ(read_file(done), root + "/Example\ntwo words\nx\n");
}

}  // namespace
