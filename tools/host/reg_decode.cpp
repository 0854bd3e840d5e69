#include <algorithm>

#include "reg_parts.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

int LineAt(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// UTF-16LE bytes (without the byte-order mark) to UTF-8; a fault is on the
// line the text before it ends on.
bool DecodeUtf16Le(std::string_view bytes, std::string& text, RegFileError& error) {
  std::string reason;
  if (Utf16LeToUtf8(bytes, text, reason)) return true;
  error = {LineAt(text, text.size()), reason};
  return false;
}

// UTF-8, with a byte-order mark or without one; 8-bit text without a mark
// as REGEDIT4 writes it, read as Latin-1.
bool DecodeEightBit(std::string_view bytes, std::string& text, RegFileError& error) {
  const bool bom = bytes.starts_with("\xEF\xBB\xBF");
  if (bom) bytes.remove_prefix(3);
  const std::size_t bad = FirstInvalidUtf8(bytes);
  if (bad == std::string_view::npos) {
    text.assign(bytes);
    return true;
  }
  if (bom) {
    error = {LineAt(bytes, bad), "invalid UTF-8"};
    return false;
  }
  text = Latin1ToUtf8(bytes);
  return true;
}

}  // namespace

bool DecodeRegText(std::string_view bytes, std::string& text, RegFileError& error) {
  if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16Le(bytes.substr(2), text, error);
  // UTF-16 without a byte-order mark: the header's first letter is ASCII, so
  // one of its two bytes is zero; big-endian, with a mark or without one, is
  // refused as such.
  const bool twoBytes = bytes.size() >= 2;
  if (bytes.starts_with("\xFE\xFF") || (twoBytes && bytes[0] == '\0' && bytes[1] != '\0')) {
    error = {1, "UTF-16 big-endian text is not supported (save the file as UTF-16LE or UTF-8)"};
    return false;
  }
  if (twoBytes && bytes[0] != '\0' && bytes[1] == '\0') return DecodeUtf16Le(bytes, text, error);
  return DecodeEightBit(bytes, text, error);
}

}  // namespace langmon::host
