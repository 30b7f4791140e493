#include "pack/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "pack/pack_error.h"

namespace pack {
namespace {

constexpr size_t buffer_size = 1 << 20;

// The temporary file a signal handler removes; one output at a time.
char pending_path[4096];

extern "C" void remove_pending_and_die(int signal_number) {
  if (pending_path[0] != 0) unlink(pending_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void watch_signals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_pending_and_die;
    sigaction(s, &action, nullptr);
  }
}

// Writes all of data at the file's position, or at `at` when it is given.
void write_all(int fd, const uint8_t* data, size_t size, const std::string& name, off_t at = -1) {
  while (size > 0) {
    const ssize_t n = at < 0 ? ::write(fd, data, size) : pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw PackError(about_file(name, "cannot be written: " + system_error_text()));
    data += n;
    size -= static_cast<size_t>(n);
    if (at >= 0) at += n;
  }
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  temp_path_ = folder + "." + base + ".XXXXXX";
  if (temp_path_.size() >= sizeof pending_path) throw PackError(about_file(path, "name too long"));
  std::vector<char> name(temp_path_.begin(), temp_path_.end());
  name.push_back(0);
  fd_ = mkstemp(name.data());
  if (fd_ < 0) throw PackError(about_file(path, "cannot be created: " + system_error_text()));
  temp_path_ = name.data();
  std::memcpy(pending_path, name.data(), name.size());
  watch_signals();
  buffer_.reserve(buffer_size);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) unlink(temp_path_.c_str());
  pending_path[0] = 0;
}

void OutputFile::flush() {
  write_all(fd_, buffer_.data(), buffer_.size(), path_);
  flushed_ += buffer_.size();
  buffer_.clear();
}

void OutputFile::write(const uint8_t* data, size_t size) {
  if (size_ + size >= limit_) throw PackError(about_file(path_, limit_reason_));
  size_ += size;
  if (buffer_.size() + size > buffer_size) flush();
  if (size >= buffer_size) {
    write_all(fd_, data, size, path_);
    flushed_ += size;
  } else {
    buffer_.insert(buffer_.end(), data, data + size);
  }
}

void OutputFile::write_at(uint64_t offset, const uint8_t* data, size_t size) {
  if (offset + size > size_) throw PackError(about_file(path_, "internal: write beyond the end"));
  if (offset >= flushed_) {  // still in the buffer
    std::memcpy(buffer_.data() + (offset - flushed_), data, size);
    return;
  }
  flush();
  write_all(fd_, data, size, path_, static_cast<off_t>(offset));
}

void OutputFile::truncate(uint64_t size) {
  flush();
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
      lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
    throw PackError(about_file(path_, "cannot be written: " + system_error_text()));
  }
  size_ = flushed_ = size;
}

void OutputFile::commit() {
  flush();
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, 0777 & ~mask) != 0 || close(fd_) != 0) {
    fd_ = -1;
    throw PackError(about_file(path_, "cannot be written: " + system_error_text()));
  }
  fd_ = -1;
  if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
    throw PackError(about_file(path_, "cannot be written: " + system_error_text()));
  }
  committed_ = true;
  pending_path[0] = 0;
}

}  // namespace pack
