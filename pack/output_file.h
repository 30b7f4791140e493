// The file being written: a temporary file beside the output, renamed into place only
// when everything has been written. Until then an error, or a signal that ends the
// program, removes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

class OutputFile {
 public:
  // Creates the temporary file beside path. Throws PackError.
  explicit OutputFile(const std::string& path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const uint8_t* data, size_t size);
  void write(const std::vector<uint8_t>& data) { write(data.data(), data.size()); }
  // Overwrites bytes already written; those still buffered are changed in the buffer.
  void write_at(uint64_t offset, const uint8_t* data, size_t size);
  // Cuts the file back to size bytes.
  void truncate(uint64_t size);
  uint64_t size() const { return size_; }

  // Stops writing once the file would reach this size.
  void set_limit(uint64_t limit, const std::string& why) { limit_ = limit, limit_reason_ = why; }

  // Writes out, makes the file executable and renames it to the output path.
  void commit();

 private:
  void flush();

  std::string path_, temp_path_;
  int fd_ = -1;
  bool committed_ = false;
  std::vector<uint8_t> buffer_;
  uint64_t size_ = 0;     // bytes written, buffered ones included
  uint64_t flushed_ = 0;  // bytes in the file
  uint64_t limit_ = UINT64_MAX;
  std::string limit_reason_;
};

}  // namespace pack
