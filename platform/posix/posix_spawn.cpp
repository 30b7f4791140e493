// Starting programs for the installation actions: the command, detached in
// a session of its own, and the desktop database tools, waited for.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/posix_internal.h"

namespace {

// In a child: standard input and output go to /dev/null, away from the
// runner's terminal and pipes.
void silence_standard_streams() {
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
  }
}

void wait_for_child(pid_t child) {
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool posix_is_file(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool posix_is_program(const std::string& path) {
  return posix_is_file(path) && access(path.c_str(), X_OK) == 0;
}

std::string posix_find_on_path(const char* name) {
  const char* path = getenv("PATH");
  if (path == nullptr) return std::string();
  std::string dirs = path;
  size_t i = 0;
  while (i <= dirs.size()) {
    size_t colon = dirs.find(':', i);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(i, colon - i);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      if (posix_is_program(candidate)) return candidate;
    }
    i = colon + 1;
  }
  return std::string();
}

// An intermediate child that ends at once is reaped; the grandchild runs on.
void posix_spawn_detached(const std::vector<std::string>& argv, const std::string& directory) {
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(127);
    silence_standard_streams();
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  wait_for_child(child);
}

void posix_run_tool_if_present(const char* tool, const std::string& folder) {
  std::string program = posix_find_on_path(tool);
  if (program.empty()) return;
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    silence_standard_streams();
    execl(program.c_str(), tool, folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  wait_for_child(child);
}
