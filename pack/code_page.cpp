#include "pack/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <cstdio>

#include "pack/pack_error.h"

namespace pack {
namespace {

const iconv_t no_converter = reinterpret_cast<iconv_t>(-1);

// Converts all of in, the converter's held state written out at the end (1255 and 1258
// hold a letter back for the marks that may follow); false when a byte or character
// does not convert.
bool convert(iconv_t cd, const std::string& in, std::string* out) {
  out->clear();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in_p = const_cast<char*>(in.data());
  size_t in_left = in.size();
  char buffer[1024];
  bool flushed = false;
  while (!flushed) {
    char* out_p = buffer;
    size_t out_left = sizeof buffer;
    flushed = in_left == 0;
    const size_t rc = flushed ? iconv(cd, nullptr, nullptr, &out_p, &out_left)
                              : iconv(cd, &in_p, &in_left, &out_p, &out_left);
    out->append(buffer, static_cast<size_t>(out_p - buffer));
    if (rc == static_cast<size_t>(-1)) {
      if (errno != E2BIG) return false;
      flushed = false;
    }
  }
  return out->find('\0') == std::string::npos;
}

void set_lead_range(bool* lead, int first, int last) {
  for (int b = first; b <= last; ++b) lead[b] = true;
}

// Lead bytes of the double-byte code pages, as the runner and Windows take them; for
// others, the bytes that iconv reads as an incomplete character on their own.
void find_lead_bytes(unsigned number, iconv_t to_utf8, bool* lead) {
  switch (number) {
    case 932:
      set_lead_range(lead, 0x81, 0x9F);
      set_lead_range(lead, 0xE0, 0xFC);
      return;
    case 936:
    case 949:
    case 950:
      set_lead_range(lead, 0x81, 0xFE);
      return;
    default:
      break;
  }
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in = static_cast<char>(b);
    char out[16];
    char* in_p = &in;
    size_t in_left = 1;
    char* out_p = out;
    size_t out_left = sizeof out;
    iconv(to_utf8, nullptr, nullptr, nullptr, nullptr);
    if (iconv(to_utf8, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) &&
        errno == EINVAL)
      lead[b] = true;
  }
}

// Code pages offered for a character the chosen one lacks, the likeliest first.
const unsigned suggested_code_pages[] = {1252, 1250, 1251, 1253, 1254, 1255, 1256,
                                         1257, 1258, 932,  949,  936,  950};

}  // namespace

size_t utf8_sequence(const std::string& text, size_t at, uint32_t* code_point) {
  const unsigned char c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) {
    *code_point = c;
    return 1;
  }
  size_t n;
  uint32_t v, least;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, v = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, v = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, v = c & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    const unsigned char t = static_cast<unsigned char>(text[at + i]);
    if ((t & 0xC0) != 0x80) return 0;
    v = (v << 6) | (t & 0x3F);
  }
  if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *code_point = v;
  return n;
}

std::string character_named(uint32_t code_point) {
  char number[16];
  std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code_point));
  if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) return number;
  std::string utf8;
  if (code_point < 0x80) {
    utf8 += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    utf8 += static_cast<char>(0xC0 | (code_point >> 6));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    utf8 += static_cast<char>(0xE0 | (code_point >> 12));
    utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    utf8 += static_cast<char>(0xF0 | (code_point >> 18));
    utf8 += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return std::string(number) + " (" + utf8 + ")";
}

std::string shown(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    uint32_t c = 0;
    const size_t n = utf8_sequence(text, at, &c);
    if (n == 0 || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      for (size_t i = 0; i < (n == 0 ? 1 : n); ++i) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at + i]));
        out += escaped;
      }
      at += n == 0 ? 1 : n;
    } else {
      out += text.substr(at, n);
      at += n;
    }
  }
  return out;
}

CodePage::CodePage(unsigned number)
    : number_(number), to_code_page_(no_converter), to_utf8_(no_converter) {
  const std::string refused = "--codepage: " + std::to_string(number);
  if (number == 65001 || number == 1200 || number == 1201) {
    throw UsageError(refused +
                     " is not a code page the stub can read names in; Windows reads them in "
                     "its ANSI code page, such as 932 or 1252");
  }
  const std::string name = "CP" + std::to_string(number);
  to_code_page_ = iconv_open(name.c_str(), "UTF-8");
  to_utf8_ = iconv_open("UTF-8", name.c_str());
  std::string ascii, back;
  for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
  if (to_code_page_ == no_converter || to_utf8_ == no_converter ||
      !convert(static_cast<iconv_t>(to_code_page_), ascii, &back) || back != ascii) {
    close();
    throw UsageError(refused +
                     " is not a Windows code page this system converts (932, 936, "
                     "949, 950, 437, 850, 1250 to 1258, ...)");
  }
  find_lead_bytes(number, static_cast<iconv_t>(to_utf8_), lead_);
}

CodePage::~CodePage() {
  close();
}

void CodePage::close() {
  if (to_code_page_ != no_converter) iconv_close(static_cast<iconv_t>(to_code_page_));
  if (to_utf8_ != no_converter) iconv_close(static_cast<iconv_t>(to_utf8_));
  to_code_page_ = to_utf8_ = no_converter;
}

bool CodePage::decode(const std::string& bytes, std::string* utf8) const {
  return convert(static_cast<iconv_t>(to_utf8_), bytes, utf8);
}

bool CodePage::to_unicode(const std::string& text, std::string* utf8, bool* kept) const {
  uint32_t code_point;
  size_t at = 0;
  while (at < text.size()) {
    const size_t n = utf8_sequence(text, at, &code_point);
    if (n == 0) break;
    at += n;
  }
  *kept = at < text.size();
  if (!*kept) {
    *utf8 = text;
    return true;
  }
  return decode(text, utf8);
}

std::string CodePage::encode_character(const std::string& character) const {
  std::string bytes, back;
  if (!convert(static_cast<iconv_t>(to_code_page_), character, &bytes) || !decode(bytes, &back) ||
      back != character) {
    return "";
  }
  return bytes;
}

std::string CodePage::encode(const std::string& text, const std::string& what) const {
  std::string utf8;
  bool kept = false;
  if (!to_unicode(text, &utf8, &kept)) {
    throw PackError(what + ": neither UTF-8 nor text of code page " + std::to_string(number_));
  }
  if (kept) return text;
  std::string out;
  uint32_t code_point = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t n = utf8_sequence(text, at, &code_point);
    const std::string character = text.substr(at, n);
    at += n;
    if (code_point < 0x80) {
      out += character;
      continue;
    }
    const std::string bytes = encode_character(character);
    if (!bytes.empty()) {
      out += bytes;
      continue;
    }
    std::string why = what + ": " + character_named(code_point) + " is not in code page " +
                      std::to_string(number_);
    std::string bytes_of_other, back;
    if (convert(static_cast<iconv_t>(to_code_page_), character, &bytes_of_other) &&
        decode(bytes_of_other, &back) && !back.empty()) {
      why += " (it would read back as";
      for (size_t i = 0; i < back.size();) {
        uint32_t point = 0;
        const size_t n = utf8_sequence(back, i, &point);
        if (n == 0) break;
        why += " " + character_named(point);
        i += n;
      }
      why += ")";
    }
    std::string holder;
    for (unsigned other : suggested_code_pages) {
      if (other == number_) continue;
      try {
        const CodePage candidate(other);
        if (!candidate.encode_character(character).empty()) {
          holder = std::to_string(other);
          break;
        }
      } catch (const PackError&) {
        continue;
      }
    }
    why += holder.empty() ? "; no Windows code page kobrix-pack writes holds it"
                          : "; code page " + holder + " holds it (--codepage " + holder + ")";
    throw PackError(why);
  }
  return out;
}

}  // namespace pack
