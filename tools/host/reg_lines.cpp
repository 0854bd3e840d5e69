#include "ascii.h"
#include "reg_parts.h"

namespace langmon::host {

void RegData::Append(std::string_view part, int line) {
  parts.emplace_back(text.size(), line);
  text += part;
}

RegFileError RegData::FaultAt(std::size_t offset, std::string reason) const {
  int line = parts.front().second;
  if (offset != std::string::npos)
    for (const auto& [start, number] : parts)
      if (start <= offset) line = number;
  return {line, std::move(reason)};
}

RegLines::RegLines(std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? lf : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(line);
    if (lf == std::string_view::npos) return;
    start = lf + 1;
  }
}

bool RegLines::Next() {
  if (started_) ++index_;
  started_ = true;
  return index_ < lines_.size();
}

bool RegLines::OnlyBlankLinesFollow() const {
  for (std::size_t i = index_ + 1; i < lines_.size(); ++i)
    if (!TrimBlanks(lines_[i]).empty()) return false;
  return true;
}

bool RegLines::ValueData(std::string_view first, RegData& data, RegFileError& error) {
  data.Append(TrimBlanks(first), Number());
  while (!data.text.empty() && data.text.back() == '\\' &&
         sim::StartsWithNoCase(data.text, "hex")) {
    data.text.pop_back();
    if (OnlyBlankLinesFollow()) {
      error = {Number(), "hex data continues past the end of the file"};
      return false;
    }
    ++index_;
    const std::string_view next = Line();
    if (next.empty()) {
      error = {Number(), "empty line where the hex data of the line before continues"};
      return false;
    }
    if (next.find('\0') != std::string_view::npos) {
      error = {Number(), "NUL character in the text"};
      return false;
    }
    data.Append(next, Number());
  }
  return true;
}

}  // namespace langmon::host
