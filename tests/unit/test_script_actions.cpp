// The walk over the script after extraction: the field splitter; file types
// (the lines refused; the values written and the question are met in the
// Wine tests);
// program items through the DDE conversation (one whole conversation per
// line whether Program Manager answers, stays mute or is missing); the files
// the Linux side makes of them; and the command after extraction, split and
// run (the runner's tests start it on Linux).
#include "tests/unit/support_install.h"

// The first five fields of a value, split in fields of size bytes, joined
// by "|"; a field that was cut is marked by a "~" behind it.
std::string split(const char* value, uint32_t size) {
  std::string out;
  const char* pos = value;
  for (int i = 0; i < 5; ++i) {
    char field[300];
    int whole = next_field(&pos, field, size);
    out += std::string(i ? "|" : "") + field + (whole ? "" : "~");
  }
  return out;
}

TEST(NextField, SplitsAtCommasOutsideQuotesRemovesTheQuotesAndCuts) {
  ASSERT_EQ(posix_set_code_page(932), 1);
  const std::tuple<const char*, uint32_t, const char*> cases[] = {
      // The value used up, every further field is empty.
      {".exd,\"Data, sorted\",bin\\app.exe,Key", 64, ".exd|Data, sorted|bin\\app.exe|Key|"},
      // Quotes anywhere are dropped; blanks stay at either end.
      {"a\"b,c\"d, two ,\"\"", 64, "ab,cd| two |||"},
      {"x,\"y,z,w", 64, "x|y,z,w|||"},          // an unbalanced quote makes the rest one field
      {"abcdefghij,next", 5, "abcd~|next|||"},  // the position goes past the whole field
      // Never half a double-byte character.
      {"ab\x83\x41\x83\x42,z", 5, "ab\x83\x41~|z|||"},
      {"a\x83\x41\x83\x42,z", 5, "a\x83\x41~|z|||"},
  };
  for (const auto& [value, size, fields] : cases) EXPECT_EQ(split(value, size), fields) << value;
  ASSERT_EQ(posix_set_code_page(1252), 1);
}

using ScriptActions = InstallTest;

TEST_F(ScriptActions, LinesThatWouldNameTheWrongKeyAreRefused) {
  std::string long_key(41, 'K');  // with "\shell\open\command" past 79
  std::string fits_key(60, 'K');
  const std::string lines[] = {
      ",Empty Extension,p.exe,Key",
      ".,Period Only,p.exe,Key",
      ".e1,No Class Key,p.exe",
      ".e2,Key Too Long,p.exe," + long_key + long_key,
      ".e3,Key Past The Room,p.exe," + fits_key + "K",
      ".abcdefghijklmnopqrstuvwxyz,Extension Too Long,p.exe,Key",
      ".e4,Program Too Long," + std::string(250, 'p') + ",Key",
      ".e5,A description longer than its room,p.exe," + fits_key + ",fifth",
  };
  std::string script;
  for (const std::string& line : lines) script += "$Class=" + line + "\r\n";
  run(script);
  // Only the last line acts: its description cut to 19 characters, its key
  // at the longest that fits, its fifth field ignored; the program, which
  // is missing, is named by its full path.
  EXPECT_EQ(
      calls("set_class_value"),
      (std::vector<std::string>{
          "set_class_value(.e5||" + fits_key + ")",
          "set_class_value(" + fits_key + "||A description longe)",
          "set_class_value(" + fits_key + "\\shell\\open\\command||\"C:\\Example\\p.exe\" \"%1\")",
          "set_class_value(" + fits_key + "\\DefaultIcon||C:\\Example\\p.exe,0)"}));
}

TEST_F(ScriptActions, ClassBecomesAMimeTypeAndAnEntryWithEscapedTexts) {
  // The backslash of the script is a separator: the program lies in a
  // folder "50% $off`" below C:\Example.
  make_file("Example/50% $off`\\x.exe");
  run("$Class=.EXD,Data & <b>,50% $off`\\x.exe,Example.Data 1\r\n");
  std::string mime = read_file(data_home + "/mime/packages/kobrix-example.data-1.xml");
  EXPECT_NE(mime.find("<comment>Data &amp; &lt;b&gt;</comment>\n    <glob pattern=\"*.exd\"/>"),
            std::string::npos)
      << mime;
  std::string entry = read_file(data_home + "/applications/kobrix-example.data-1.desktop");
  EXPECT_NE(entry.find("Exec=\"" + root + "/Example/50%% \\\\$off\\\\`/x.exe\" %f\n"),
            std::string::npos)
      << entry;
}

TEST(SplitCommandLine, ProgramAndParameters) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"README.TXT", "README.TXT", ""},
      // Trailing blanks of the parameters stay.
      {"  \"C:\\Program Files\\App\\app.exe\"   -a  \"b c\"  ", "C:\\Program Files\\App\\app.exe",
       "-a  \"b c\"  "},
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

TEST_F(ScriptActions, TheCommandRunsOnlyAfterACleanPassAndWhenThereIsOne) {
  auto command = [](const char* command) {
    text_copy(wa->settings.command, command, sizeof wa->settings.command);
    run_command(nullptr);
  };
  // An empty script still ends with the broadcast.
  run("");
  EXPECT_EQ(calls(), std::vector<std::string>{"broadcast_settings_change()"});
  recorded_calls().clear();
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

constexpr char two_lines[] =
    "$Group=Example App,With Icon,EXAMPLE.EXE,icons\\APP.ICO\r\n"
    "$Group=Second,Read Me,README.TXT\r\n";

TEST_F(ScriptActions, EachLineIsOneWholeConversationWhetherCommandsAreAnsweredOrNot) {
  // A command without an answer is terminated after ten seconds of the
  // test clock; the icon is the third argument, three fields mean none.
  set_clock_step(50);
  for (ProgramManager server : {progman_answers, progman_mute}) {
    set_program_manager(server);
    recorded_calls().clear();
    run(two_lines);
    EXPECT_EQ(calls(),
              (std::vector<std::string>{
                  "find_program_manager()", "dde_initiate(PROGMAN|PROGMAN)",
                  "dde_execute([CreateGroup(\"Example App\",0)]\n"
                  "[AddItem(C:\\Example\\EXAMPLE.EXE,With Icon,C:\\Example\\icons\\APP.ICO)])",
                  "dde_terminate()", "find_program_manager()", "dde_initiate(PROGMAN|PROGMAN)",
                  "dde_execute([CreateGroup(\"Second\",0)]\n"
                  "[AddItem(C:\\Example\\README.TXT,Read Me)])",
                  "dde_terminate()", "broadcast_settings_change()"}))
        << server;
    EXPECT_EQ(dde_state, -1);
  }
}

TEST_F(ScriptActions, MissingServerIsStartedAndEachLineWaitsTwoSecondsForIt) {
  set_program_manager(progman_absent);
  set_clock_step(10);
  run(two_lines);
  EXPECT_EQ(calls(),
            (std::vector<std::string>{"find_program_manager()", "start_program_manager()",
                                      "dde_initiate(PROGMAN|PROGMAN)", "find_program_manager()",
                                      "start_program_manager()", "dde_initiate(PROGMAN|PROGMAN)",
                                      "broadcast_settings_change()"}));
  EXPECT_EQ(dde_state, -1);
  uint32_t took = sys_tick_count();
  EXPECT_GE(took, 2 * 2000u);
  EXPECT_LT(took, 2 * 2000u + 100u);
  // Acknowledgements outside a conversation are ignored.
  recorded_calls().clear();
  static char server;
  for (int32_t state : {0, -1}) {
    dde_state = state;
    on_dde_ack(nullptr, &server);
    EXPECT_EQ(dde_state, state);
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(dde_server, nullptr);
}

TEST_F(ScriptActions, LinesWithPathsPastTheRoomHoldNoConversation) {
  text_copy(wa->dest_dir, ("C:\\" + std::string(200, 'd')).c_str(), sizeof wa->dest_dir);
  run("$Group=G,Title," + std::string(60, 'p') + "\r\n$Group=G,Title,P.EXE," +
      std::string(60, 'i') + "\r\n$Group=" + std::string(100, 'g') + ",Title,P.EXE\r\n");
  // Only the last line acts, its group name cut to 79 characters.
  std::vector<std::string> executes = calls("dde_execute");
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_NE(executes[0].find("[CreateGroup(\"" + std::string(79, 'g') + "\",0)]"),
            std::string::npos);
}

TEST_F(ScriptActions, ItemsBecomeDesktopEntriesInTheGroupFolder) {
  // Linux keeps long names, so the path in the command may hold commas.
  text_copy(wa->dest_dir, "C:\\a,b", sizeof wa->dest_dir);
  make_file("a,b/P,Q.EXE", "#!/bin/sh\n", 0755);
  make_file("a,b/I,J.ICO");
  run("$Group=G,\"T, U\",\"P,Q.EXE\",\"I,J.ICO\"\r\n");
  std::string dir = root + "/a,b";
  EXPECT_EQ(read_file(data_home + "/applications/G/kobrix-G-T,_U.desktop"),
            "[Desktop Entry]\nType=Application\nName=T, U\nExec=\"" + dir +
                "/P,Q.EXE\"\nPath=" + dir + "\nIcon=" + dir + "/I,J.ICO\n");
}
