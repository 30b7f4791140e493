#include "pack/pack_options.h"

#include <cctype>
#include <cstdlib>
#include <exception>

#include "pack/pack_error.h"

namespace pack {

const char usage_text[] =
    "usage: kobrix-pack -o OUT [options] [-C DIR] PATH...\n"
    "Writes a self-extracting file: the stub, its settings record and an LZH archive of\n"
    "the PATHs (files, and folders with everything in them, stored under the names\n"
    "given).\n"
    "\n"
    "  -o, --output OUT       the file to write\n"
    "  -C, --directory DIR    read the PATHs that follow from DIR\n"
    "  --stub FILE            the stub (default: kobrix-stub.exe beside kobrix-pack)\n"
    "  --title TEXT           caption of the dialog and messages (at most 40 bytes)\n"
    "  --install-title TEXT   label above the directory field (at most 40 bytes)\n"
    "  --dir DIR              default extraction directory; may start with a macro such\n"
    "                         as %ProgramFiles% (at most 255 bytes)\n"
    "  --command CMD          command run after a clean extraction (at most 255 bytes)\n"
    "  --auto-start           start extracting without waiting for OK\n"
    "  --overwrite            overwrite existing files without asking\n"
    "  --integrity            store a check value over every member's CRC\n"
    "  --no-date-check        do not skip existing files newer than the members\n"
    "  --restore-attributes   give extracted files their stored attributes\n"
    "  --message FILE         text shown as a Yes/No question before anything else\n"
    "  --script FILE          installation script\n"
    "  --method M             lh0, lh5, lh6 or lh7 (default lh7)\n"
    "  --level N              1 (fastest) to 9 (smallest archive); default 6\n"
    "  --threads N            threads that compress, at most one per core (default);\n"
    "                         the archive is the same whatever their number\n"
    "  --archive FILE.lzh     put this archive behind the stub as it stands (no PATHs)\n"
    "  --codepage N           Windows code page of names and texts (default 932); the\n"
    "                         runner's --codepage must match\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "\n"
    "FILE arguments of options are read from the current folder; -C applies to PATHs.\n"
    "Exit code: 0 when the file was written, 1 on an error, 2 on a usage error.\n";

std::string path_in_folder(const std::string& folder, const std::string& path) {
  if (folder.empty() || (!path.empty() && path[0] == '/')) return path;
  return folder + "/" + path;
}

void check_width(const std::string& option, const std::string& value, size_t width) {
  if (value.size() > width) {
    throw UsageError(option + ": " + std::to_string(value.size()) +
                     " bytes given, the field holds " + std::to_string(width));
  }
}

namespace {

// The settings flag an option sets; 0 for other options.
uint8_t flag_of(const std::string& option) {
  static const struct {
    const char* option;
    uint8_t flag;
  } flags[] = {
      {"--auto-start", settings_auto_start},
      {"--overwrite", settings_no_overwrite_prompt},
      {"--integrity", settings_integrity_value},
      {"--no-date-check", settings_no_date_check},
  };
  for (const auto& f : flags) {
    if (option == f.option) return f.flag;
  }
  return 0;
}

}  // namespace

PackOptions parse_options(const std::vector<std::string>& args) {
  PackOptions options;
  std::string folder;
  bool only_paths = false;
  bool have_output = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (only_paths || arg.empty() || arg[0] != '-' || arg == "-") {
      options.inputs.push_back({folder, arg});
      continue;
    }
    if (arg == "--") {
      only_paths = true;
      continue;
    }
    std::string value;
    bool inline_value = false;
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      inline_value = true;
    }
    auto take_value = [&]() -> std::string {
      if (inline_value) return value;
      if (i + 1 >= args.size()) throw UsageError(arg + ": a value is missing");
      return args[++i];
    };
    auto no_value = [&]() {
      if (inline_value) throw UsageError(arg + ": takes no value");
    };
    if (arg == "-o" || arg == "--output") {
      options.output = take_value();
      if (options.output.empty()) throw UsageError(arg + ": the name is empty");
      have_output = true;
    } else if (arg == "-C" || arg == "--directory") {
      const std::string dir = take_value();
      if (dir.empty()) throw UsageError(arg + ": the folder name is empty");
      folder = path_in_folder(folder, dir);
    } else if (arg == "--stub") {
      options.stub = take_value();
    } else if (arg == "--title") {
      options.title = take_value();
    } else if (arg == "--install-title") {
      options.install_title = take_value();
    } else if (arg == "--dir") {
      options.install_dir = take_value();
    } else if (arg == "--command") {
      options.command = take_value();
    } else if (const uint8_t flag = flag_of(arg)) {
      no_value();
      options.flags |= flag;
    } else if (arg == "--restore-attributes") {
      no_value();
      options.restore_attributes = true;
    } else if (arg == "--message") {
      options.message = take_value();
    } else if (arg == "--script") {
      options.script = take_value();
    } else if (arg == "--method") {
      const std::string method = take_value();
      if (method != "lh0" && method != "lh5" && method != "lh6" && method != "lh7") {
        throw UsageError(arg + ": \"" + method + "\" is not one of lh0, lh5, lh6, lh7");
      }
      options.method = method[2];
    } else if (arg == "--codepage") {
      const std::string number = take_value();
      char* end = nullptr;
      const unsigned long value = std::strtoul(number.c_str(), &end, 10);
      if (number.empty() || number[0] < '0' || number[0] > '9' || *end != 0 || value == 0 ||
          value > 65535) {
        throw UsageError(arg + ": \"" + number + "\" is not a code page number");
      }
      options.code_page = static_cast<unsigned>(value);
    } else if (arg == "--level" || arg == "--threads") {
      const std::string text = take_value();
      const int low = 1, high = arg == "--level" ? 9 : 256;
      size_t used = 0;
      int n = 0;
      try {
        n = std::stoi(text, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != text.size() || !std::isdigit(static_cast<unsigned char>(text[0])) ||
          n < low || n > high) {
        throw UsageError(arg + ": \"" + text + "\" is not a number from " + std::to_string(low) +
                         " to " + std::to_string(high));
      }
      (arg == "--level" ? options.level : options.threads) = n;
    } else if (arg == "--archive") {
      options.archive = take_value();
    } else if (arg == "-h" || arg == "--help") {
      no_value();
      options.help = true;
    } else if (arg == "-V" || arg == "--version") {
      no_value();
      options.version = true;
    } else {
      throw UsageError(arg + ": unknown option");
    }
  }
  if (options.help || options.version) return options;
  if (!have_output) throw UsageError("-o OUT: the output file is missing");
  if (!options.archive.empty()) {
    if (!options.inputs.empty() || !options.message.empty() || !options.script.empty()) {
      throw UsageError(
          "--archive: the archive goes in as it stands; PATHs, --message and "
          "--script cannot be added to it");
    }
  } else if (options.inputs.empty() && options.message.empty() && options.script.empty()) {
    throw UsageError("nothing to pack: give PATHs, --message, --script or --archive");
  }
  return options;
}

}  // namespace pack
