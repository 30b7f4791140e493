// The Windows code page of the archive's names and texts. Linux gives them as UTF-8;
// the stub reads them in the system's ANSI code page and the runner in its --codepage.
#pragma once

#include <cstdint>
#include <string>

namespace pack {

// The runner's default, so that both sides agree without options.
constexpr unsigned default_code_page = 932;

class CodePage {
 public:
  // Throws UsageError naming --codepage when the code page is not a Windows ANSI or
  // OEM code page this system converts.
  explicit CodePage(unsigned number);
  ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  unsigned number() const { return number_; }
  bool is_lead_byte(uint8_t byte) const { return lead_[byte]; }

  // The UTF-8 of text that is UTF-8 already, or else text of this code page; false when
  // it is neither. *kept tells the second case (the bytes are then used as they stand).
  bool to_unicode(const std::string& text, std::string* utf8, bool* kept) const;

  // text (UTF-8, or text of this code page, which is kept) in this code page. Throws
  // PackError starting with `what` for a character the code page cannot hold, naming
  // it and a code page that holds it.
  std::string encode(const std::string& text, const std::string& what) const;

  // The UTF-8 of bytes of this code page; false when they are not its text.
  bool decode(const std::string& bytes, std::string* utf8) const;

 private:
  // Bytes of one character (UTF-8) that read back as the same character; "" when the
  // code page has no such bytes.
  std::string encode_character(const std::string& character) const;
  void close();

  unsigned number_;
  void* to_code_page_;  // iconv_t
  void* to_utf8_;
  bool lead_[256] = {};
};

// The UTF-8 sequence at text[at] and its code point; 0 when it is not valid UTF-8.
size_t utf8_sequence(const std::string& text, size_t at, uint32_t* code_point);

// "U+00E9 (é)": a character named for a message; control characters by number only.
std::string character_named(uint32_t code_point);

// text for a message on a terminal: control bytes written as \xNN.
std::string shown(const std::string& text);

}  // namespace pack
