#include "text_encoding.h"

#include <utility>

namespace langmon::host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf16(std::u16string& out, char32_t codePoint) {
  if (codePoint < 0x10000) {
    out += static_cast<char16_t>(codePoint);
    return;
  }
  codePoint -= 0x10000;
  out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
  out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t DecodeUtf8At(std::string_view s, std::size_t pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
  return len;
}

std::size_t DecodeUtf16At(std::u16string_view text, std::size_t pos, char32_t& cp) {
  cp = text[pos];
  if (IsHighSurrogate(cp) && pos + 1 < text.size() && IsLowSurrogate(text[pos + 1])) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (text[pos + 1] - 0xDC00);
    return 2;
  }
  return IsSurrogate(cp) ? 0 : 1;
}

std::size_t FirstInvalidUtf8(std::string_view s) {
  for (std::size_t pos = 0; pos < s.size();) {
    char32_t cp;
    const std::size_t n = DecodeUtf8At(s, pos, cp);
    if (n == 0) return pos;
    pos += n;
  }
  return std::string_view::npos;
}

namespace {

// Re-encodes `text` code point by code point; a unit that does not decode
// becomes U+FFFD.
template <typename Out, typename In>
Out Transcode(In text, std::size_t (*decode)(In, std::size_t, char32_t&),
              void (*append)(Out&, char32_t)) {
  Out out;
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp;
    std::size_t n = decode(text, pos, cp);
    if (n == 0) {
      cp = kReplacement;
      n = 1;
    }
    pos += n;
    append(out, cp);
  }
  return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  return Transcode<std::u16string, std::string_view>(text, &DecodeUtf8At, &AppendUtf16);
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return Transcode<std::string, std::u16string_view>(text, &DecodeUtf16At, &AppendUtf8);
}

bool Utf16LeToUtf8(std::string_view bytes, std::string& out, std::string& error) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  out.clear();
  for (std::size_t i = 0; i < units.size();) {
    char32_t cp;
    const std::size_t n = DecodeUtf16At(units, i, cp);
    if (n == 0) {
      error = "unpaired UTF-16 surrogate";
      return false;
    }
    AppendUtf8(out, cp);
    i += n;
  }
  if (bytes.size() % 2 == 0) return true;
  error = "UTF-16 text ends in the middle of a character";
  return false;
}

std::string Utf8ToUtf16Le(std::string_view text) {
  std::string bytes;
  for (char16_t unit : Utf8ToUtf16(text)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string text;
  for (char c : bytes) AppendUtf8(text, static_cast<unsigned char>(c));
  return text;
}

namespace {

// How many characters `text` has, and where the one after the first `most`
// starts (its size when it has no more).
std::pair<std::size_t, std::size_t> CountCharacters(std::string_view text, std::size_t most) {
  std::size_t characters = 0, cut = text.size();
  for (std::size_t pos = 0; pos < text.size(); ++characters) {
    if (characters == most) cut = pos;
    char32_t cp;
    const std::size_t n = DecodeUtf8At(text, pos, cp);
    pos += n == 0 ? 1 : n;
  }
  return {characters, cut};
}

}  // namespace

// Built piece by piece: GCC 12 at -O3 takes a literal + std::string for an
// overlapping copy.
std::string Shortened(std::string_view text, std::size_t most) {
  const auto [characters, cut] = CountCharacters(text, most);
  std::string out(text.substr(0, cut));
  if (characters > most)
    out.append("... (").append(std::to_string(characters)).append(" characters)");
  return out;
}

std::string QuoteShortened(std::string_view text, std::size_t most) {
  const auto [characters, cut] = CountCharacters(text, most);
  std::string out = "\"";
  out.append(text.substr(0, cut)).append(characters > most ? "...\"" : "\"");
  if (characters > most) out.append(" (").append(std::to_string(characters)).append(" characters)");
  return out;
}

}  // namespace langmon::host
