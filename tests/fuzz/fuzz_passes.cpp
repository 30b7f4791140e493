// Both passes over the archive under libFuzzer: the scan, and when it
// succeeds the extraction with the script's actions. Any outcome but a
// crash, a sanitizer report, a hang or a read outside a buffer is allowed.
// Byte 0: the settings record's flags; byte 1: its restore_attributes; the
// rest: the archive behind the record.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "fuzz_platform.h"
#include "startup/startup.h"

namespace {

void run_both_passes() {
  read_settings();
  skip_if_not_newer = 1;
  no_overwrite_prompt = 0;
  auto_start = 0;
  ask_register = 0;
  if (!run_pass(nullptr, pass_scan)) return;
  text_copy(wa->dest_dir, "C:\\OUT", sizeof(wa->dest_dir));
  char dialog = 0;
  wa->extracting = 1;
  run_pass(&dialog, pass_extract);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  constexpr size_t stub = 1120;
  std::vector<uint8_t> file(stub + size - 2);
  file[0] = 'M';
  file[1] = 'Z';
  file[8] = 32;
  uint32_t offset = stub;
  std::memcpy(&file[settings_offset], &offset, 4);
  file[settings_offset + 601] = data[0];
  file[settings_offset + 602] = data[1];
  std::memcpy(file.data() + stub, data + 2, size - 2);
  fuzz_set_own_file(file.data(), file.size());

  wa = static_cast<WorkArea*>(std::calloc(1, sizeof(WorkArea)));
  sys_module_path(wa->module_path, path_size);
  fuzz_run(run_both_passes);
  if (wa->header != nullptr) std::free(wa->header);
  std::free(wa);
  wa = nullptr;
  return 0;
}
