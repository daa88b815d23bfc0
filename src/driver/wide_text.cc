#include "driver/wide_text.h"

namespace ruxa {

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf8(std::string& to, char32_t c) {
  if (c < 0x80) {
    to += static_cast<char>(c);
  } else if (c < 0x800) {
    to += static_cast<char>(0xC0 | c >> 6);
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    to += static_cast<char>(0xE0 | c >> 12);
    to += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    to += static_cast<char>(0xF0 | c >> 18);
    to += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    to += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    AppendUtf8(utf8, c);
  }
  return utf8;
}

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string utf16;
  utf16.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = (lead < 0x80 || lead >= 0xC2) && lead < 0xF5 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = c << 6 | (next & 0x3F);
    }
    // Overlong forms and values past Unicode are not characters.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && c >= kLeast[length] && c <= 0x10FFFF;
    if (!valid) {
      utf16 += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      utf16 += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      utf16 += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      utf16 += static_cast<char16_t>(c);
    }
    i += length;
  }
  return utf16;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    const std::size_t close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  }
  while (i < line.size() && !IsBlank(line[i])) ++i;

  std::vector<std::string> args;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return args;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t slashes = 0;
        while (i < line.size() && line[i] == '\\') ++slashes, ++i;
        const bool before_quote = i < line.size() && line[i] == '"';
        arg.append(before_quote ? slashes / 2 : slashes, '\\');
        if (before_quote && slashes % 2 == 1) arg += line[i++];
      } else if (line[i] == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(arg);
  }
}

}  // namespace ruxa
