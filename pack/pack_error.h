// The error every step of kobrix-pack reports with: a message for the user.
#pragma once

#include <stdexcept>
#include <string>

namespace pack {

class PackError : public std::runtime_error {
 public:
  explicit PackError(const std::string& message) : std::runtime_error(message) {}
};

// A command line that does not fit: reported with a hint to --help.
class UsageError : public PackError {
 public:
  explicit UsageError(const std::string& message) : PackError(message) {}
};

// "NAME: what" for errors that concern a file.
std::string about_file(const std::string& name, const std::string& what);

// The system's text for the last error (errno).
std::string system_error_text();

}  // namespace pack
