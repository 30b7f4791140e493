#include "pack/settings_record.h"

#include <cstring>
#include <string>

namespace pack {
namespace {

// Copies a text into its field; the field keeps room for the terminator.
void put_text(std::vector<uint8_t>& record, size_t offset, size_t width, const std::string& text,
              const char* option) {
  check_width(option, text, width - 1);
  std::memcpy(record.data() + offset, text.data(), text.size());
}

}  // namespace

void encode_settings_texts(const CodePage& code_page, PackOptions* options) {
  const struct {
    std::string* text;
    const char* option;
    size_t width;
  } texts[] = {
      {&options->title, "--title", max_title},
      {&options->install_title, "--install-title", max_title},
      {&options->install_dir, "--dir", max_install_dir},
      {&options->command, "--command", max_command},
  };
  for (const auto& t : texts) {
    *t.text = code_page.encode(*t.text, t.option);
    check_width(t.option, *t.text, t.width);
  }
}

std::vector<uint8_t> settings_record(const PackOptions& options, uint32_t archive_offset) {
  std::vector<uint8_t> record(settings_size, 0);
  for (int i = 0; i < 4; ++i) record[i] = static_cast<uint8_t>(archive_offset >> (8 * i));
  put_text(record, 4, max_title + 1, options.title, "--title");
  put_text(record, 45, max_title + 1, options.install_title, "--install-title");
  put_text(record, 86, max_install_dir + 1, options.install_dir, "--dir");
  put_text(record, 342, max_command + 1, options.command, "--command");
  // bytes 598 to 600 are reserved
  record[601] = options.flags;
  // The script writes "/" for the same switch.
  record[602] = options.restore_attributes ? '/' : 0;
  return record;
}

}  // namespace pack
