// The case-fold table behind FoldCase: 65,536 entries, built at compile time
// from the ranges of code units whose fold differs from themselves.
#include "qx/core/name.h"

#include <cstddef>

namespace qx {
namespace {

// A run of code units first, first + step, ... up to last, each folding to
// itself plus delta. step 2 covers the alternating upper/lower pairs of the
// Latin, Cyrillic and Greek extended blocks.
struct FoldRun {
  char16_t first;
  char16_t last;
  std::uint8_t step;
  std::int16_t delta;
};

// Composite fold lower(upper(c)), as differences to the code unit. Notable
// entries: U+0130 and U+0131 both fold to 'i'; U+017F (long s) to 's';
// U+0178 to U+00FF while U+00FF itself is unchanged; U+00B5 (micro) is
// unchanged; U+03C2 (final sigma) to U+03C3; U+1E9B to U+1E61.
constexpr FoldRun kFoldRuns[] = {
    {0x0041, 0x005A, 1, 32},   {0x00C0, 0x00D6, 1, 32},   {0x00D8, 0x00DE, 1, 32},   {0x0100, 0x012E, 2, 1},
    {0x0130, 0x0130, 1, -199}, {0x0131, 0x0131, 1, -200}, {0x0132, 0x0136, 2, 1},    {0x0139, 0x0147, 2, 1},
    {0x014A, 0x0176, 2, 1},    {0x0178, 0x0178, 1, -121}, {0x0179, 0x017D, 2, 1},    {0x017F, 0x017F, 1, -268},
    {0x0181, 0x0181, 1, 210},  {0x0182, 0x0184, 2, 1},    {0x0186, 0x0186, 1, 206},  {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 1, 205},  {0x018B, 0x018B, 1, 1},    {0x018E, 0x018E, 1, 79},   {0x018F, 0x018F, 1, 202},
    {0x0190, 0x0190, 1, 203},  {0x0191, 0x0191, 1, 1},    {0x0193, 0x0193, 1, 205},  {0x0194, 0x0194, 1, 207},
    {0x0196, 0x0196, 1, 211},  {0x0197, 0x0197, 1, 209},  {0x0198, 0x0198, 1, 1},    {0x019C, 0x019C, 1, 211},
    {0x019D, 0x019D, 1, 213},  {0x019F, 0x019F, 1, 214},  {0x01A0, 0x01A4, 2, 1},    {0x01A7, 0x01A7, 1, 1},
    {0x01A9, 0x01A9, 1, 218},  {0x01AC, 0x01AC, 1, 1},    {0x01AE, 0x01AE, 1, 218},  {0x01AF, 0x01AF, 1, 1},
    {0x01B1, 0x01B2, 1, 217},  {0x01B3, 0x01B5, 2, 1},    {0x01B7, 0x01B7, 1, 219},  {0x01B8, 0x01B8, 1, 1},
    {0x01BC, 0x01BC, 1, 1},    {0x01C4, 0x01C4, 1, 2},    {0x01C5, 0x01C5, 1, 1},    {0x01C7, 0x01C7, 1, 2},
    {0x01C8, 0x01C8, 1, 1},    {0x01CA, 0x01CA, 1, 2},    {0x01CB, 0x01DB, 2, 1},    {0x01DE, 0x01EE, 2, 1},
    {0x01F1, 0x01F1, 1, 2},    {0x01F2, 0x01F4, 2, 1},    {0x01FA, 0x0216, 2, 1},    {0x0386, 0x0386, 1, 38},
    {0x0388, 0x038A, 1, 37},   {0x038C, 0x038C, 1, 64},   {0x038E, 0x038F, 1, 63},   {0x0391, 0x03A1, 1, 32},
    {0x03A3, 0x03AB, 1, 32},   {0x03C2, 0x03C2, 1, 1},    {0x03D0, 0x03D0, 1, -30},  {0x03D1, 0x03D1, 1, -25},
    {0x03D5, 0x03D5, 1, -15},  {0x03D6, 0x03D6, 1, -22},  {0x03E2, 0x03EE, 2, 1},    {0x03F0, 0x03F0, 1, -54},
    {0x03F1, 0x03F1, 1, -48},  {0x03F2, 0x03F2, 1, -47},  {0x0401, 0x040C, 1, 80},   {0x040E, 0x040F, 1, 80},
    {0x0410, 0x042F, 1, 32},   {0x0460, 0x0480, 2, 1},    {0x0490, 0x04BE, 2, 1},    {0x04C1, 0x04C3, 2, 1},
    {0x04C7, 0x04C7, 1, 1},    {0x04CB, 0x04CB, 1, 1},    {0x04D0, 0x04EA, 2, 1},    {0x04EE, 0x04F4, 2, 1},
    {0x04F8, 0x04F8, 1, 1},    {0x0531, 0x0556, 1, 48},   {0x10A0, 0x10C5, 1, 48},   {0x1E00, 0x1E94, 2, 1},
    {0x1E9B, 0x1E9B, 1, -58},  {0x1EA0, 0x1EF8, 2, 1},    {0x1F08, 0x1F0F, 1, -8},   {0x1F18, 0x1F1D, 1, -8},
    {0x1F28, 0x1F2F, 1, -8},   {0x1F38, 0x1F3F, 1, -8},   {0x1F48, 0x1F4D, 1, -8},   {0x1F59, 0x1F5F, 2, -8},
    {0x1F68, 0x1F6F, 1, -8},   {0x1F88, 0x1F8F, 1, -8},   {0x1F98, 0x1F9F, 1, -8},   {0x1FA8, 0x1FAF, 1, -8},
    {0x1FB8, 0x1FB9, 1, -8},   {0x1FBA, 0x1FBB, 1, -74},  {0x1FBC, 0x1FBC, 1, -9},   {0x1FC8, 0x1FCB, 1, -86},
    {0x1FCC, 0x1FCC, 1, -9},   {0x1FD8, 0x1FD9, 1, -8},   {0x1FDA, 0x1FDB, 1, -100}, {0x1FE8, 0x1FE9, 1, -8},
    {0x1FEA, 0x1FEB, 1, -112}, {0x1FEC, 0x1FEC, 1, -7},   {0x1FF8, 0x1FF9, 1, -128}, {0x1FFA, 0x1FFB, 1, -126},
    {0x1FFC, 0x1FFC, 1, -9},   {0x2160, 0x216F, 1, 16},   {0x24B6, 0x24CF, 1, 26},   {0xFF21, 0xFF3A, 1, 32},
};

constexpr std::array<char16_t, 65536> BuildFoldTable() {
  std::array<char16_t, 65536> table{};
  for (std::size_t c = 0; c < table.size(); ++c) table[c] = static_cast<char16_t>(c);
  for (const FoldRun& run : kFoldRuns) {
    for (std::uint32_t c = run.first; c <= run.last; c += run.step) {
      table[c] = static_cast<char16_t>(static_cast<std::int32_t>(c) + run.delta);
    }
  }
  return table;
}

}  // namespace

namespace detail {
constinit const std::array<char16_t, 65536> kFoldTable = BuildFoldTable();
}  // namespace detail

}  // namespace qx
