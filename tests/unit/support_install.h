// A work area and a scratch system for the installation actions: a root
// folder for C:, a data folder for desktop entries, the seam's calls recorded
// (install_recorder.cpp), the terminal's window procedure for the answers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/install.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_window.h"
#include "startup/startup.h"
#include "ui/terminal/terminal_dialog.h"

// The installation-action calls of the seam since the test began, each as
// "name(arg|arg|...)" with its arguments as passed, null as "(null)".
std::vector<std::string>& recorded_calls();
// Program Manager's stand-in answers all, nothing (no window) or the initiate only.
enum ProgramManager { progman_answers, progman_absent, progman_mute };
void set_program_manager(ProgramManager behaviour);
// With a step, sys_tick_count reads a clock that moves step ms a reading.
void set_clock_step(uint32_t step);
// The test's main dialog: the terminal front end's window procedure.
void test_dialog_message(Window dialog, PosixWindowMessage message, Window from);

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kobrix-install-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch = pattern;
    root = scratch + "/root";
    data_home = scratch + "/data";
    std::filesystem::create_directories(root);
    setenv("XDG_DATA_HOME", data_home.c_str(), 1);
    posix_set_root(root.c_str());
    ASSERT_EQ(posix_set_code_page(1252), 1);
    wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
    ASSERT_NE(wa, nullptr);
    text_copy(wa->settings.window_title, "Example App Setup", sizeof wa->settings.window_title);
    text_copy(wa->dest_dir, "C:\\Example", sizeof wa->dest_dir);
    wa->group_checked = wa->class_checked = 1;
    is_win32s = ask_register = dde_state = 0;
    dde_server = nullptr;
    set_program_manager(progman_answers);
    set_clock_step(0);
    recorded_calls().clear();
    posix_set_window_proc(test_dialog_message);
  }
  void TearDown() override {
    posix_set_window_proc(nullptr);
    sys_free(wa);
    wa = nullptr;
    std::filesystem::remove_all(scratch);
  }

  // The walk over a script after a clean extraction.
  void run(const std::string& script) {
    text_copy(wa->script, script.c_str(), script_size);
    run_script_actions(nullptr);
  }
  // A file below the root, made with its folders; path uses "/".
  void make_file(const std::string& path, const std::string& contents = "x", int mode = 0644) {
    std::string full = root + "/" + path;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream(full) << contents;
    ASSERT_EQ(chmod(full.c_str(), mode), 0);
  }
  // The recorded calls, or those of one name.
  static std::vector<std::string> calls(const std::string& named = "") {
    std::vector<std::string> out;
    for (const std::string& call : recorded_calls())
      if (named.empty() || call.compare(0, named.size() + 1, named + "(") == 0) out.push_back(call);
    return out;
  }
  static std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(missing)";
  }

  std::string scratch, root, data_home;
};
