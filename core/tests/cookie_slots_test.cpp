// The connection slot table: cookies are slot numbers, the lowest free slot is reused, freed slots stay.
#include <gtest/gtest.h>

#include "qx/core/cookie_slots.h"

namespace {

TEST(CookieSlots, ReusesTheLowestFreeSlot) {
  qx::CookieSlots slots;
  EXPECT_EQ(0u, slots.Add(11));
  EXPECT_EQ(1u, slots.Add(12));
  EXPECT_EQ(2u, slots.Add(13));
  EXPECT_TRUE(slots.Remove(1));
  EXPECT_TRUE(slots.Remove(0));
  EXPECT_FALSE(slots.Remove(0)) << "already free";
  EXPECT_FALSE(slots.Remove(3)) << "no such slot";
  EXPECT_EQ(1, slots.Active());
  EXPECT_EQ(3u, slots.Size()) << "freed slots stay";
  EXPECT_EQ(0u, slots.At(0));
  EXPECT_EQ(0u, slots.Add(21));
  EXPECT_EQ(1u, slots.Add(22));
  EXPECT_EQ(3u, slots.Add(23));
  EXPECT_EQ(4, slots.Active());
  EXPECT_EQ(22u, slots.At(1));
}

}  // namespace
