#include "platform/ini/IniDocument.h"

#include "platform/ini/IniText.h"

namespace calvora::platform::ini {

namespace {

// Where a key lives in the file: the first matching key line in the section's first block,
// which is also where a new key goes. A repeated block of the section is never looked at.
struct KeyPosition {
  std::optional<size_t> keyLine;
  std::optional<size_t> sectionLine;
  size_t insertAt = 0;  // after the last key line of the first block
};

template <typename Lines>
KeyPosition Locate(const Lines& lines, std::string_view section, std::string_view key) {
  KeyPosition pos;
  bool inFirstBlock = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineInfo info = ClassifyLine(lines[i].text);
    if (info.kind == LineKind::Section) {
      if (inFirstBlock)
        break;
      inFirstBlock = SameName(info.name, section);
      if (inFirstBlock) {
        pos.sectionLine = i;
        pos.insertAt = i + 1;
      }
    } else if (info.kind == LineKind::Key && inFirstBlock) {
      pos.insertAt = i + 1;
      if (!pos.keyLine && SameName(info.name, key))
        pos.keyLine = i;
    }
  }
  return pos;
}

bool IsLineBreak(char16_t unit) {
  return unit == u'\r' || unit == u'\n';
}

}  // namespace

IniDocument::IniDocument(ProfileEncoding encoding, const AnsiCodePage* ansi, std::string newLineEnd)
    : encoding_(encoding), ansi_(ansi), newLineEnd_(std::move(newLineEnd)) {}

IniDocument IniDocument::New(std::string_view newLineEnd) {
  return IniDocument(ProfileEncoding::Utf8, nullptr, std::string(newLineEnd));
}

// Splits into lines in code units of the file's encoding. LF, CR, and any CRs before an LF
// (CR CR LF is what "\r\n" through a text-mode stream leaves) each end one line.
IniDocument IniDocument::Read(std::string_view bytes, const AnsiCodePage* ansi,
                              std::string_view newLineEnd) {
  IniDocument document(DetectEncoding(bytes, ansi), ansi, std::string(newLineEnd));
  const ProfileEncoding encoding = document.encoding_;
  bytes.remove_prefix(ByteOrderMark(encoding).size());
  const size_t unitSize = CodeUnitSize(encoding);
  const size_t units = bytes.size() / unitSize;
  document.tail_ = std::string(bytes.substr(units * unitSize));
  const auto unitAt = [&](size_t i) { return CodeUnitAt(bytes, i, encoding); };
  size_t start = 0;
  while (start < units) {
    size_t end = start;
    while (end < units && !IsLineBreak(unitAt(end)))
      ++end;
    size_t next = end;
    while (next < units && unitAt(next) == u'\r')
      ++next;
    if (next < units && unitAt(next) == u'\n')
      ++next;
    Line line;
    line.raw = std::string(bytes.substr(start * unitSize, (end - start) * unitSize));
    line.text = DecodeText(line.raw, encoding, ansi);
    for (size_t i = end; i < next; ++i)
      line.end += static_cast<char>(unitAt(i));
    document.lines_.push_back(std::move(line));
    start = next;
  }
  if (!document.lines_.empty() && !document.lines_.front().end.empty())
    document.newLineEnd_ = document.lines_.front().end;
  return document;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  const KeyPosition pos = Locate(lines_, section, key);
  if (!pos.keyLine)
    return std::nullopt;
  const std::string_view value = Unquoted(ClassifyLine(lines_[*pos.keyLine].text).value);
  return std::string(value.substr(0, kMaxValueLength));
}

void IniDocument::Set(const std::vector<ProfileValue>& values) {
  for (const ProfileValue& v : values) {
    const KeyPosition pos = Locate(lines_, v.Section, v.Key);
    if (pos.keyLine) {
      Line& line = lines_[*pos.keyLine];
      const LineInfo info = ClassifyLine(line.text);
      if (Unquoted(info.value) == v.Value)
        continue;
      // Keep the key as it is spelled in the file, and its indent; only the value changes.
      const size_t keyStart = static_cast<size_t>(info.name.data() - line.text.data());
      line.text = KeyLine(std::string_view(line.text).substr(0, keyStart), info.name, v.Value);
      line.rewritten = true;
    } else if (pos.sectionLine) {
      Insert(pos.insertAt, KeyLine({}, v.Key, v.Value));
    } else {
      if (!lines_.empty() && !IsBlankLine(lines_.back().text))
        Insert(lines_.size(), {});
      Insert(lines_.size(), "[" + v.Section + "]");
      Insert(lines_.size(), KeyLine({}, v.Key, v.Value));
    }
  }
}

void IniDocument::Insert(size_t at, std::string text) {
  // Only the last line can lack a line end; one is needed before anything goes after it.
  if (at > 0 && lines_[at - 1].end.empty())
    lines_[at - 1].end = newLineEnd_;
  Line line;
  line.text = std::move(text);
  line.end = newLineEnd_;
  line.rewritten = true;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

std::string IniDocument::Bytes() const {
  if (std::optional<std::string> bytes = BytesIn(encoding_))
    return std::move(*bytes);
  return *BytesIn(ProfileEncoding::Utf16Le);
}

std::optional<std::string> IniDocument::BytesIn(ProfileEncoding encoding) const {
  const bool asRead = encoding == encoding_;
  std::string bytes(ByteOrderMark(encoding));
  for (const Line& line : lines_) {
    std::optional<std::string> text =
        asRead && !line.rewritten ? line.raw : EncodeText(line.text, encoding, ansi_);
    std::optional<std::string> end = EncodeText(line.end, encoding, ansi_);
    if (!text || !end)
      return std::nullopt;
    bytes += *text + *end;
  }
  return bytes + tail_;
}

}  // namespace calvora::platform::ini
