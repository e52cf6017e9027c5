#include "qx/core/persistence_item.h"

#include <cstdint>

namespace qx {

PersistenceItemHeader ParsePersistenceItem(std::u16string_view text) noexcept {
  PersistenceItemHeader header;
  // The digits are read into a signed 32-bit value, as the SDK's writers produce them; a value
  // that would pass its maximum is an error (and stays at what was read before).
  constexpr std::size_t kMaxValue = INT32_MAX;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    const std::size_t digit = static_cast<std::size_t>(text[at] - u'0');
    if (header.length > (kMaxValue - digit) / 10) return header;
    header.length = header.length * 10 + digit;
  }
  const std::size_t n = header.length;
  if (n < 1 || n > kMaxPersistenceItemLength || at >= text.size() || text[at] != u' ') return header;
  const std::size_t brace = at + 1;
  if (brace >= text.size() || text[brace] != u'{') return header;
  if (n < brace + kClassIdLength) return header;
  // Only the class id's own span is searched: a "}" beyond it fails the check all the same.
  const std::size_t closing = text.substr(0, brace + kClassIdLength).find(u'}', brace + 1);
  if (closing != brace + kClassIdLength - 1 || closing + 1 >= text.size() || text[closing + 1] != u' ') return header;
  header.parsed = true;
  header.classIdOffset = brace;
  header.payloadOffset = closing + 2;
  return header;
}

}  // namespace qx
