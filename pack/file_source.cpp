#include "pack/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "pack/pack_error.h"

namespace pack {

int open_regular_file(const std::string& path) {
  // Opened without waiting, so that a FIFO given by mistake is refused instead of
  // waiting for a writer; a device such as /dev/zero is refused as well.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw PackError(about_file(path, system_error_text()));
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    const std::string why = known ? "not a regular file" : system_error_text();
    close(fd);
    throw PackError(about_file(path, why));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

FileSource::FileSource(const std::string& path) : path_(path), fd_(open_regular_file(path)) {}

FileSource::~FileSource() {
  close(fd_);
}

size_t FileSource::read(uint8_t* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR)
      throw PackError(about_file(path_, "cannot be read: " + system_error_text()));
  }
}

size_t FileSource::read_at(uint64_t offset, uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (n == 0) break;
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (errno != EINTR) {
      throw PackError(about_file(path_, "cannot be read: " + system_error_text()));
    }
  }
  return done;
}

std::vector<uint8_t> read_whole_file(const std::string& path, size_t most) {
  FileSource source(path);
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  while (size_t n = source.read(buffer, sizeof buffer)) {
    data.insert(data.end(), buffer, buffer + n);
    if (data.size() > most) {
      throw PackError(about_file(
          path, "holds more than " + std::to_string(most) + " bytes, more than it may hold here"));
    }
  }
  return data;
}

}  // namespace pack
