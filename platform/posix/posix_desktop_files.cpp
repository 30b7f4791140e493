// The files a Linux desktop reads, under the user's data folder: a
// shared-mime-info package and a hidden desktop entry for a file type, a
// menu entry in a folder named after its group for a program item. Each is
// written whole or not at all.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/posix_install.h"
#include "platform/posix/posix_internal.h"

namespace {

std::string xml_escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A desktop-entry string value.
std::string entry_value(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c == ' ' && i == 0)
      out += "\\s";
    else
      out += c;
  }
  return out;
}

// One argument of an Exec key, quoted, before the value escaping.
std::string exec_argument(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return out + "\"";
}

bool make_directories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = slash == std::string::npos ? path : path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the file whole or not at all: a temporary file renamed over it.
bool write_file(const std::string& path, const std::string& contents) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || !make_directories(path.substr(0, slash))) return false;
  std::string temporary = path + ".kobrix-new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  bool ok = done == contents.size();
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The home folder /etc/passwd gives the user, or "/". Read directly: the runner is
// linked statically, where getpwuid would need the shared libraries of the glibc it
// was built with at run time.
std::string home_of_user(uid_t uid) {
  FILE* file = fopen("/etc/passwd", "r");
  if (file == nullptr) return "/";
  std::string home = "/";
  char line[1024];
  while (fgets(line, sizeof line, file) != nullptr) {
    // name:password:uid:gid:comment:home:shell
    std::vector<std::string> fields(1);
    for (const char* c = line; *c != 0 && *c != '\n'; ++c) {
      if (*c == ':')
        fields.emplace_back();
      else
        fields.back() += *c;
    }
    if (fields.size() >= 6 && fields[2] == std::to_string(uid) && fields[5][0] == '/') {
      home = fields[5];
      break;
    }
  }
  fclose(file);
  return home;
}

}  // namespace

std::string posix_lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// A name usable in a MIME type and a desktop file ID: ASCII letters and
// digits, ".", "_", "+" and "-"; anything else becomes "-".
std::string posix_mime_token(const std::string& name) {
  std::string out;
  for (char c : posix_lower_ascii(name)) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                c == '+' || c == '-';
    out += keep ? c : '-';
  }
  return out.empty() ? std::string("-") : out;
}

// A name usable as one file-name component (UTF-8 kept): separators,
// blanks, control and shell characters become "_"; never hidden or empty.
std::string posix_file_component(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    bool replace = u < 0x20 || u == 0x7F || std::strchr("/\\ :*?\"<>|'`$&;", c) != nullptr;
    out += replace ? '_' : c;
  }
  if (out.empty()) return "_";
  if (out[0] == '.') out[0] = '_';
  return out;
}

std::string posix_data_home() {
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return posix_normalise(data);
  const char* home = getenv("HOME");
  std::string base;
  if (home != nullptr && home[0] == '/') {
    base = home;
  } else {
    base = home_of_user(getuid());
  }
  return posix_normalise(base + "/.local/share");
}

bool posix_write_file_type(const std::string& extension, const std::string& class_key,
                           const std::string& description, const std::string& program) {
  std::string token = posix_mime_token(class_key);
  std::string mime_type = "application/x-kobrix-" + token;
  std::string home = posix_data_home();
  std::string comment =
      posix_to_utf8(description.empty() ? class_key.c_str() : description.c_str());
  std::string glob = "*" + posix_to_utf8(extension.c_str());

  std::string package =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" +
      mime_type +
      "\">\n"
      "    <comment>" +
      xml_escaped(comment) +
      "</comment>\n"
      "    <glob pattern=\"" +
      xml_escaped(glob) +
      "\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  bool written = write_file(home + "/mime/packages/kobrix-" + token + ".xml", package);
  if (program.empty()) return written;

  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      entry_value(comment) +
      "\n"
      "Exec=" +
      entry_value(exec_argument(posix_map_path(program.c_str()))) +
      " %f\n"
      "MimeType=" +
      mime_type +
      ";\n"
      "NoDisplay=true\n";
  return write_file(home + "/applications/kobrix-" + token + ".desktop", entry) || written;
}

void posix_write_menu_entry(const std::string& group, const std::string& name,
                            const std::string& program, const std::string& icon) {
  std::string exec =
      posix_is_program(program) ? exec_argument(program) : "xdg-open " + exec_argument(program);
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      entry_value(name) +
      "\n"
      "Exec=" +
      entry_value(exec) +
      "\n"
      "Path=" +
      entry_value(directory_of(program)) + "\n";
  if (!icon.empty()) entry += "Icon=" + entry_value(icon) + "\n";
  std::string folder = posix_file_component(group);
  write_file(posix_data_home() + "/applications/" + folder + "/kobrix-" + folder + "-" +
                 posix_file_component(name) + ".desktop",
             entry);
}
