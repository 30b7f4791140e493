#include "pack/settings_record.h"

#include <cstddef>
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
  for (int i = 0; i < 4; ++i) {
    record[offsetof(SettingsBlock, archive_offset) + i] =
        static_cast<uint8_t>(archive_offset >> (8 * i));
  }
  put_text(record, offsetof(SettingsBlock, window_title), sizeof(SettingsBlock::window_title),
           options.title, "--title");
  put_text(record, offsetof(SettingsBlock, install_title), sizeof(SettingsBlock::install_title),
           options.install_title, "--install-title");
  put_text(record, offsetof(SettingsBlock, install_dir), sizeof(SettingsBlock::install_dir),
           options.install_dir, "--dir");
  put_text(record, offsetof(SettingsBlock, command), sizeof(SettingsBlock::command),
           options.command, "--command");
  // the reserved bytes stay zero
  record[offsetof(SettingsBlock, flags)] = options.flags;
  // The script writes the same value for the same switch.
  record[offsetof(SettingsBlock, restore_attributes)] =
      options.restore_attributes ? restore_attributes_on : 0;
  return record;
}

}  // namespace pack
