// The walk over the script after extraction and the file-type registration:
// the field splitter, the registry values and their order, WIN.INI under
// Win32s, the question, the lines refused, and the files the Linux side
// makes of them.
#include "tests/unit/support_install.h"

namespace {

struct Fields {
  std::string f[5];
  int whole[5];
};

Fields split(const char* value, uint32_t size = 64) {
  Fields out;
  const char* pos = value;
  for (int i = 0; i < 5; ++i) {
    char field[300];
    out.whole[i] = next_field(&pos, field, size);
    out.f[i] = field;
  }
  return out;
}

TEST(NextField, SplitsAtCommasOutsideQuotesAndRemovesTheQuotes) {
  Fields a = split(".exd,\"Data, sorted\",bin\\app.exe,Key");
  EXPECT_EQ(a.f[0], ".exd");
  EXPECT_EQ(a.f[1], "Data, sorted");
  EXPECT_EQ(a.f[2], "bin\\app.exe");
  EXPECT_EQ(a.f[3], "Key");
  EXPECT_EQ(a.f[4], "");  // the value is used up: every further field is empty

  // Quotes anywhere are dropped; blanks stay at either end.
  Fields b = split("a\"b,c\"d, two ,\"\"");
  EXPECT_EQ(b.f[0], "ab,cd");
  EXPECT_EQ(b.f[1], " two ");
  EXPECT_EQ(b.f[2], "");

  // An unbalanced quote makes the rest one field.
  Fields c = split("x,\"y,z,w");
  EXPECT_EQ(c.f[1], "y,z,w");
  EXPECT_EQ(c.f[2], "");
}

TEST(NextField, StopsOnAControlByteAndLeavesThePositionOnIt) {
  const char* value = "one,two\tthree";
  const char* pos = value;
  char field[16];
  next_field(&pos, field, sizeof field);
  next_field(&pos, field, sizeof field);
  EXPECT_STREQ(field, "two");
  EXPECT_EQ(*pos, '\t');
  next_field(&pos, field, sizeof field);
  EXPECT_STREQ(field, "");
  EXPECT_EQ(*pos, '\t');
}

TEST(NextField, CutsAFieldLongerThanItsRoomAndSaysSo) {
  Fields a = split("abcdefghij,next", 5);
  EXPECT_EQ(a.f[0], "abcd");
  EXPECT_EQ(a.whole[0], 0);
  EXPECT_EQ(a.f[1], "next");  // the position went past the whole field
  EXPECT_EQ(a.whole[1], 1);
  Fields exact = split("abcd,e", 5);
  EXPECT_EQ(exact.f[0], "abcd");
  EXPECT_EQ(exact.whole[0], 1);
}

TEST(NextField, NeverKeepsHalfADoubleByteCharacter) {
  ASSERT_EQ(posix_set_code_page(932), 1);
  // "ab" and two double-byte characters; room for 4 bytes cuts the second.
  Fields a = split("ab\x83\x41\x83\x42,z", 5);
  EXPECT_EQ(a.f[0], "ab\x83\x41");
  a = split("a\x83\x41\x83\x42,z", 5);
  EXPECT_EQ(a.f[0], "a\x83\x41");
  ASSERT_EQ(posix_set_code_page(1252), 1);
}

class ScriptActions : public InstallTest {};

TEST_F(ScriptActions, ClassLineWritesTheFourValuesInOrder) {
  make_file("Example/bin/example.exe");
  set_script(
      "$ClassTitle=Register\r\n"
      "$Class=.EXD,Example Data,bin/example.exe,ExampleData\r\n");
  wa->class_checked = 1;
  run_script_actions(nullptr);
  std::vector<std::string> expected = {
      "set_class_value(.exd||ExampleData)",
      "set_class_value(ExampleData||Example Data)",
      "set_class_value(ExampleData\\shell\\open\\command||"
      "\"C:\\Example\\bin\\example.exe\" \"%1\")",
      "set_class_value(ExampleData\\DefaultIcon||C:\\Example\\bin\\example.exe,0)",
      "broadcast_settings_change()",
  };
  EXPECT_EQ(calls(), expected);
  // The fields keep what the line left in them.
  EXPECT_STREQ(wa->extension, ".exd");
  EXPECT_STREQ(wa->class_key, "ExampleData\\DefaultIcon");
}

TEST_F(ScriptActions, Win32sWritesOnlyTheExtensionsEntry) {
  make_file("Example/bin/example.exe");
  set_script("$Class=.EXD,Example Data,bin\\example.exe,ExampleData\r\n");
  wa->class_checked = 1;
  is_win32s = 1;
  run_script_actions(nullptr);
  std::vector<std::string> expected = {
      "write_profile_string(Extensions|exd|C:\\Example\\bin\\example.exe ^.exd)",
      "broadcast_settings_change()",
  };
  EXPECT_EQ(calls(), expected);
}

TEST_F(ScriptActions, ClearedCheckBoxLeavesOnlyTheBroadcast) {
  set_script(
      "$Class=.exd,Example Data,example.exe,ExampleData\r\n"
      "$Group=Example App,Example App,EXAMPLE.EXE\r\n");
  run_script_actions(nullptr);
  EXPECT_EQ(calls(), std::vector<std::string>{"broadcast_settings_change()"});
  EXPECT_TRUE(data_files().empty());

  // An empty script still ends with the broadcast.
  posix_install_clear_calls();
  set_script("");
  wa->class_checked = wa->group_checked = 1;
  run_script_actions(nullptr);
  EXPECT_EQ(calls(), std::vector<std::string>{"broadcast_settings_change()"});
}

TEST_F(ScriptActions, NoToTheQuestionSkipsThatLineOnly) {
  make_file("Example/a.exe");
  make_file("Example/b.exe");
  set_script(
      "$Class=.aaa,First Type,a.exe,FirstType\r\n"
      "$Class=.bbb,Second Type,b.exe,SecondType\r\n");
  wa->class_checked = 1;
  ask_register = 1;
  answer_with("n\ny\n");
  testing::internal::CaptureStderr();
  run_script_actions(nullptr);
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Example App Setup: \"First Type\" Set Class?"), std::string::npos);
  EXPECT_NE(shown.find("\"Second Type\" Set Class?"), std::string::npos);
  std::vector<std::string> values = calls_named("set_class_value");
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], "set_class_value(.bbb||SecondType)");
}

TEST_F(ScriptActions, LinesThatWouldNameTheWrongKeyAreRefused) {
  make_file("Example/p.exe");
  std::string long_key(41, 'K');  // with "\shell\open\command" past 79
  std::string fits_key(60, 'K');
  std::string script =
      "$Class=,Empty Extension,p.exe,Key\r\n"
      "$Class=.,Period Only,p.exe,Key\r\n"
      "$Class=.e1,No Class Key,p.exe\r\n"
      "$Class=.e2,Key Too Long,p.exe," +
      long_key + long_key +
      "\r\n"
      "$Class=.e3,Key Past The Room,p.exe," +
      fits_key +
      "K\r\n"
      "$Class=.abcdefghijklmnopqrstuvwxyz,Extension Too Long,p.exe,Key\r\n"
      "$Class=.e4,Program Too Long," +
      std::string(250, 'p') +
      ",Key\r\n"
      "$Class=.e5,A description longer than its room,p.exe," +
      fits_key + ",fifth\r\n";
  set_script(script.c_str());
  wa->class_checked = 1;
  run_script_actions(nullptr);
  std::vector<std::string> values = calls_named("set_class_value");
  // Only the last line acts: its description cut to 19 characters, its key
  // at the longest that fits, its fifth field ignored.
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], "set_class_value(.e5||" + fits_key + ")");
  EXPECT_EQ(values[1], "set_class_value(" + fits_key + "||A description longe)");
  EXPECT_EQ(values[2], "set_class_value(" + fits_key +
                           "\\shell\\open\\command||\"C:\\Example\\p.exe\" \"%1\")");
}

TEST_F(ScriptActions, MissingProgramIsNamedByItsFullPath) {
  set_script("$Class=.exd,Example Data,bin/gone.exe,ExampleData\r\n");
  wa->class_checked = 1;
  run_script_actions(nullptr);
  std::vector<std::string> values = calls_named("set_class_value");
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[3], "set_class_value(ExampleData\\DefaultIcon||C:\\Example\\bin\\gone.exe,0)");
}

TEST_F(ScriptActions, ClassBecomesAMimeTypeAndADesktopEntry) {
  make_file("Example/bin/example app.exe", "#!/bin/sh\n", 0755);
  set_script("$Class=.EXD,Data & \"More\"\"\",bin/example app.exe,Example.Data 1\r\n");
  wa->class_checked = 1;
  run_script_actions(nullptr);

  std::string package = read_file(data_home + "/mime/packages/kobrix-example.data-1.xml");
  EXPECT_EQ(package,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
            "  <mime-type type=\"application/x-kobrix-example.data-1\">\n"
            "    <comment>Data &amp; More</comment>\n"
            "    <glob pattern=\"*.exd\"/>\n"
            "  </mime-type>\n"
            "</mime-info>\n");
  std::string entry = read_file(data_home + "/applications/kobrix-example.data-1.desktop");
  EXPECT_EQ(entry,
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Data & More\n"
            "Exec=\"" +
                root +
                "/Example/bin/example app.exe\" %f\n"
                "MimeType=application/x-kobrix-example.data-1;\n"
                "NoDisplay=true\n");
}

TEST_F(ScriptActions, ExecEscapesWhatTheShellAndTheEntryWouldRead) {
  make_file("Example/50% $off`\\x.exe");
  set_script("$Class=.x,X,50% $off`\\x.exe,X\r\n");
  wa->class_checked = 1;
  run_script_actions(nullptr);
  std::string entry = read_file(data_home + "/applications/kobrix-x.desktop");
  // The backslash of the script is a separator: the program lies in a
  // folder "50% $off`" below C:\Example.
  EXPECT_NE(entry.find("Exec=\"" + root + "/Example/50%% \\\\$off\\\\`/x.exe\" %f\n"),
            std::string::npos)
      << entry;
}

}  // namespace
