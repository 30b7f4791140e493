// kobrix-pack: turns files and folders into a self-extracting file for the stub.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pack/archive_check.h"
#include "pack/code_page.h"
#include "pack/input_list.h"
#include "pack/message_and_script.h"
#include "pack/output_file.h"
#include "pack/pack_error.h"
#include "pack/pack_options.h"
#include "pack/progress_display.h"
#include "pack/settings_record.h"
#include "pack/sfx_writer.h"
#include "pack/stub_file.h"

namespace {

constexpr int exit_error = 1;
constexpr int exit_usage = 2;

int run(const std::vector<std::string>& args) {
  using namespace pack;
  PackOptions options = parse_options(args);
  if (options.help) {
    std::fputs(usage_text, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("kobrix-pack %s\n", KOBRIX_VERSION);
    return 0;
  }

  const CodePage code_page(options.code_page);
  std::string stub_path = options.stub;
  if (stub_path.empty()) {
    stub_path = default_stub_path();
    struct stat st;
    if (stat(stub_path.c_str(), &st) != 0) {
      throw PackError("no stub given, and " + stub_path +
                      " is not there; name one with --stub FILE");
    }
  }
  // Nothing is written over an input: the output is none of them.
  check_not_output(options.output, stub_path, "the stub");
  check_not_output(options.output, options.message, "--message");
  check_not_output(options.output, options.script, "--script");
  check_not_output(options.output, options.archive, "--archive");
  const std::vector<PlannedMember> members =
      list_members(options.inputs, code_page, options.output);

  encode_settings_texts(code_page, &options);
  const std::vector<uint8_t> stub = load_stub(stub_path);
  const SpecialText message =
      options.message.empty() ? SpecialText() : load_message(options.message, code_page);
  const SpecialText script =
      options.script.empty() ? SpecialText() : load_script(options.script, code_page);
  if (!options.script.empty()) {
    for (const std::string& remark : script_remarks(script.text, options)) {
      std::fprintf(stderr, "kobrix-pack: --script %s: %s%s\n", options.script.c_str(),
                   remark.compare(0, 5, "note:") == 0 ? "" : "warning: ", remark.c_str());
    }
  }
  if (!options.archive.empty()) {
    for (const std::string& warning : check_archive(options.archive, code_page).warnings) {
      std::fprintf(stderr, "kobrix-pack: warning: %s: %s\n", options.archive.c_str(),
                   warning.c_str());
    }
  }

  // What the progress display counts: the members' bytes, or the archive's.
  uint64_t total = 0;
  for (const PlannedMember& member : members) total += member.size;
  struct stat archive;
  if (!options.archive.empty() && stat(options.archive.c_str(), &archive) == 0)
    total = static_cast<uint64_t>(archive.st_size);
  OutputFile out(options.output);
  ProgressDisplay progress(total, stderr_is_terminal());
  write_sfx(options, stub, message, script, members, out, progress);
  progress.finish();
  out.commit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return run(args);
  } catch (const pack::UsageError& e) {
    std::fprintf(stderr, "kobrix-pack: %s\n(kobrix-pack --help shows the usage)\n", e.what());
    return exit_usage;
  } catch (const pack::PackError& e) {
    std::fprintf(stderr, "kobrix-pack: %s\n", e.what());
    return exit_error;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kobrix-pack: %s\n", e.what());
    return exit_error;
  }
}
