// The structured-string form of a named-value collection: "name=value;name=value".
//
// The format is flat and unquoted: entries are separated by ';', the first '=' of an entry ends
// its name and everything after it (further '=' included) is the value; an entry without '=' is
// all name. Reading trims white space round names and values; an empty name or value reads as
// null. Writing joins "name=value" entries with ';' and adds nothing else, so names containing
// '=' or ';', values containing ';', and surrounding white space do not survive a round trip.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qx/core/name.h"

namespace qx {

// Tells white space for the reader; the Windows build passes the C runtime's iswspace.
using SpacePredicate = bool (*)(char16_t);

// The portable default: the ASCII white space characters (space, tab, LF, VT, FF, CR).
bool IsAsciiSpace(char16_t c);

// Reads `text` up to its first NUL and calls onEntry(NameRef name, NameRef value) for every
// entry in order. Both refer into `text`; a null NameRef stands for an empty (absent) part.
// Trailing white space of the whole text is dropped first, so a single trailing ';' adds no
// entry, while ";;" or a leading ';' gives an entry whose name and value are null.
template <class OnEntry>
void ReadStructuredString(std::u16string_view text, SpacePredicate isSpace, OnEntry&& onEntry) {
  const size_t nul = text.find(u'\0');
  if (nul != std::u16string_view::npos) text = text.substr(0, nul);
  size_t length = text.size();
  while (length > 0 && isSpace(text[length - 1])) --length;
  text = text.substr(0, length);

  const auto trimmed = [&](size_t begin, size_t end) {
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    return begin == end ? NameRef{} : NameRef{text.data() + begin, static_cast<std::uint32_t>(end - begin)};
  };

  size_t position = 0;
  while (position < text.size()) {
    const size_t semicolon = text.find(u';', position);
    const size_t entryEnd = semicolon == std::u16string_view::npos ? text.size() : semicolon;
    // The '=' is looked for within the entry only: the result is the same as searching the
    // rest of the text, without scanning it again for every entry.
    const size_t equals = text.substr(0, entryEnd).find(u'=', position);
    if (equals != std::u16string_view::npos) {
      onEntry(trimmed(position, equals), trimmed(equals + 1, entryEnd));
    } else {
      onEntry(trimmed(position, entryEnd), NameRef{});
    }
    if (semicolon == std::u16string_view::npos) break;
    position = semicolon + 1;
  }
}

// Accumulates the structured string of a collection, one member at a time.
class StructuredStringWriter {
 public:
  // Appends "name=value" (a null name or value appends nothing of itself), after a ';' unless
  // it is the first entry.
  void Add(NameRef name, NameRef value);
  bool Empty() const { return entries_ == 0; }
  const std::u16string& Text() const { return text_; }

 private:
  std::u16string text_;
  size_t entries_ = 0;
};

}  // namespace qx
