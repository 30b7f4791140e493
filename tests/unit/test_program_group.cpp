// Program items through the DDE conversation: the execute texts, one whole
// conversation per line whether Program Manager answers, stays mute or is
// missing, and the menu entries the Linux stand-in makes of them.
#include "tests/unit/support_install.h"

using ProgramGroup = InstallTest;

constexpr char two_lines[] =
    "$Group=Example App,With Icon,EXAMPLE.EXE,icons\\APP.ICO\r\n"
    "$Group=Second,Read Me,README.TXT\r\n";

TEST_F(ProgramGroup, EachLineIsOneWholeConversationWhetherCommandsAreAnsweredOrNot) {
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

TEST_F(ProgramGroup, MissingServerIsStartedAndEachLineWaitsTwoSecondsForIt) {
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
}

TEST_F(ProgramGroup, AcknowledgementsOutsideAConversationAreIgnored) {
  static char server;
  for (int32_t state : {0, -1}) {
    dde_state = state;
    on_dde_ack(nullptr, &server);
    EXPECT_EQ(dde_state, state);
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(dde_server, nullptr);
}

TEST_F(ProgramGroup, LinesWithPathsPastTheRoomHoldNoConversation) {
  text_copy(wa->dest_dir, ("C:\\" + std::string(200, 'd')).c_str(), sizeof wa->dest_dir);
  run("$Group=G,Title," + std::string(60, 'p') + "\r\n$Group=G,Title,P.EXE," +
      std::string(60, 'i') + "\r\n$Group=" + std::string(100, 'g') + ",Title,P.EXE\r\n");
  // Only the last line acts, its group name cut to 79 characters.
  std::vector<std::string> executes = calls("dde_execute");
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_NE(executes[0].find("[CreateGroup(\"" + std::string(79, 'g') + "\",0)]"),
            std::string::npos);
}

TEST_F(ProgramGroup, ItemsBecomeDesktopEntriesInTheGroupFolder) {
  // A document opens with its associated program.
  make_file("Example/README.TXT");
  run("$Group=G,Read Me,README.TXT\r\n");
  std::string dir = root + "/Example";
  EXPECT_EQ(read_file(data_home + "/applications/G/kobrix-G-Read_Me.desktop"),
            "[Desktop Entry]\nType=Application\nName=Read Me\nExec=xdg-open \"" + dir +
                "/README.TXT\"\nPath=" + dir + "\n");
  // Linux keeps long names, so the path in the command may hold commas.
  text_copy(wa->dest_dir, "C:\\a,b", sizeof wa->dest_dir);
  make_file("a,b/P,Q.EXE", "#!/bin/sh\n", 0755);
  make_file("a,b/I,J.ICO");
  run("$Group=G,\"T, U\",\"P,Q.EXE\",\"I,J.ICO\"\r\n");
  dir = root + "/a,b";
  EXPECT_EQ(read_file(data_home + "/applications/G/kobrix-G-T,_U.desktop"),
            "[Desktop Entry]\nType=Application\nName=T, U\nExec=\"" + dir + "/P,Q.EXE\"\nPath=" +
                dir + "\nIcon=" + dir + "/I,J.ICO\n");
  size_t entries = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(data_home))
    entries += e.is_regular_file();
  EXPECT_EQ(entries, 2u);
}
