// UTF-8 and UTF-16 text on the host side: names from the command line and
// from .reg files meet the monitor's UTF-16 strings here, and a .reg file's
// bytes (UTF-16LE, UTF-8 or Latin-1) become text. The host's one place for
// UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace langmon::host {

// Whole strings. Invalid UTF-8 sequences and unpaired surrogates become
// U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// One code point at a time, for readers that refuse malformed text instead
// of repairing it.
void AppendUtf8(std::string& out, char32_t codePoint);
// Decodes the UTF-8 sequence at `pos`; returns its length in bytes, or 0
// when the bytes there are not well-formed UTF-8 (overlong forms and
// surrogates included).
std::size_t DecodeUtf8At(std::string_view text, std::size_t pos, char32_t& codePoint);
// Decodes the code point at `pos` (a surrogate pair or a single unit);
// returns the units it takes, or 0 for an unpaired surrogate.
std::size_t DecodeUtf16At(std::u16string_view text, std::size_t pos, char32_t& codePoint);
// Offset of the first byte that is not well-formed UTF-8, or npos.
std::size_t FirstInvalidUtf8(std::string_view text);

// Bytes of a file. UTF-16LE (without its byte-order mark) to UTF-8: false
// when they are not well-formed, with `out` holding the text before the
// fault and `error` naming it. UTF-8 to UTF-16LE bytes, without a mark.
// Latin-1 (each byte its own code point) to UTF-8.
bool Utf16LeToUtf8(std::string_view bytes, std::string& out, std::string& error);
std::string Utf8ToUtf16Le(std::string_view text);
std::string Latin1ToUtf8(std::string_view bytes);

// Text from the input as a message shows it: as it is, or when it is longer
// than `most` characters, its start, "..." and its length ("[HKEY_LOCAL_
// MACHINE\\... (1048576 characters)"), so that a huge input line does not
// make a huge message. QuoteShortened puts the text in double quotes.
std::string Shortened(std::string_view text, std::size_t most = 60);
std::string QuoteShortened(std::string_view text, std::size_t most = 60);

}  // namespace langmon::host
