// The Linux side of the installation actions, as tests and the runner see it.
// File types become shared-mime-info packages and desktop entries, program
// items desktop entries in a folder named after their group, all under the
// user's data folder; the command starts detached or opens with xdg-open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One installation-action call of the seam, with its arguments as passed;
// a null argument is recorded as "(null)".
struct PosixInstallCall {
  std::string name;
  std::vector<std::string> args;
};

// Starts or stops recording the calls (off at start).
void posix_install_record(bool on);
// The calls recorded since the last clear, in order.
const std::vector<PosixInstallCall>& posix_install_calls();
void posix_install_clear_calls();

// How the stand-in for Program Manager answers.
enum PosixDdeServer {
  dde_server_answers,        // acknowledges the initiate and every command
  dde_server_absent,         // no window, no answer to the initiate
  dde_server_mute_commands,  // acknowledges the initiate, never a command
};
void posix_install_set_server(PosixDdeServer mode);

// A test clock: every reading of sys_tick_count moves it step milliseconds
// further on than the system's clock (0, the default, for none).
void posix_install_set_clock_step(uint32_t step);

// The folder the entries go to: $XDG_DATA_HOME when it is an absolute path,
// else ~/.local/share.
std::string posix_data_home();

// The names the actions give their files: a class key or name as a MIME
// type token ("kobrix-<token>"), a group or title as one file-name component.
std::string posix_mime_token(const std::string& name);
std::string posix_file_component(const std::string& utf8);
