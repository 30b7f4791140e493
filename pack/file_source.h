// Reads a member's file for the encoder and the stored copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/segment_matcher.h"

namespace pack {

// Opens a regular file for reading; throws PackError naming it, also when it is a
// folder, a FIFO or a device.
int open_regular_file(const std::string& path);

class FileSource : public ByteSource {
 public:
  // Opens the file; throws PackError naming it.
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  size_t read(uint8_t* buffer, size_t size) override;
  // Reads size bytes at offset, fewer only where the file ends; throws PackError.
  size_t read_at(uint64_t offset, uint8_t* buffer, size_t size);

 private:
  std::string path_;
  int fd_;
};

// The whole file; throws PackError naming it, also when it holds more than most bytes (a
// device such as /dev/zero would otherwise be read until memory runs out).
std::vector<uint8_t> read_whole_file(const std::string& path, size_t most);

}  // namespace pack
