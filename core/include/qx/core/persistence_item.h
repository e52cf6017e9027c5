// The header of one item of a persistence string:
//
//   <length N> " " <class id, 38 code units: "{...}"> " " <payload up to offset N>
//
// N counts every code unit of the item, its own digits included (leading zeros count too), and
// the next item starts at offset N. Only the header is checked here; whether the class id is a
// well-formed GUID is decided by whoever converts it.
#pragma once

#include <cstddef>
#include <string_view>

namespace qx {

inline constexpr std::size_t kMaxPersistenceItemLength = 10'000'000;
inline constexpr std::size_t kClassIdLength = 38;  // "{" + 36 + "}"

struct PersistenceItemHeader {
  bool parsed = false;
  // N. After a parse error: the value of the digits as far as they were read (0 without digits).
  std::size_t length = 0;
  std::size_t classIdOffset = 0;  // the "{"; the class id is kClassIdLength code units from there
  std::size_t payloadOffset = 0;  // after the blank that follows the "}"
};

// Parses the header of the item at the start of `text` (the rest of the whole string: an item
// may state a length beyond it). Never reads outside `text`. The checks, in order: the digits
// (an overflow while reading them is an error); N from 1 to kMaxPersistenceItemLength and a
// blank after the digits; a "{" right after that blank; N at least the offset of the "{" plus
// kClassIdLength; the first "}" after the "{" exactly kClassIdLength - 1 code units after it,
// followed by a blank.
PersistenceItemHeader ParsePersistenceItem(std::u16string_view text) noexcept;

}  // namespace qx
