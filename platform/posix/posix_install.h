// The Linux side of the installation actions, as tests and the runner see it.
// File types become shared-mime-info packages and desktop entries, program
// items desktop entries in a folder named after their group, all under the
// user's data folder; the command starts detached or opens with xdg-open.
#pragma once

#include <cstdint>
#include <string>

// The fields of the "$Group=" line a conversation with Program Manager's
// stand-in carries out, as the line gave them (before the paths are joined
// to the directory), handed down by the front end when the initiate is
// answered: the commands of a line whose fields would change their
// structure are not carried out, and a note says so.
void posix_progman_line(const char* group, const char* title, const char* program,
                        const char* icon);

// The folder the entries go to: $XDG_DATA_HOME when it is an absolute path,
// else ~/.local/share.
std::string posix_data_home();

// The names the actions give their files: a class key or name as a MIME
// type token ("kobrix-<token>"), a group or title as one file-name component.
std::string posix_mime_token(const std::string& name);
std::string posix_file_component(const std::string& utf8);
