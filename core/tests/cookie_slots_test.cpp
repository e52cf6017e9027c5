// The connection slot table: lowest free slot reused, slots never removed, growth by half.
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

TEST(CookieSlots, GrowsByHalf) {
  qx::CookieSlots slots;
  EXPECT_EQ(10u, slots.Capacity());
  for (std::uint32_t i = 1; i <= 10; ++i) slots.Add(i);
  EXPECT_EQ(10u, slots.Capacity());
  slots.Add(11);
  EXPECT_EQ(15u, slots.Capacity());
  for (std::uint32_t i = 12; i <= 16; ++i) slots.Add(i);
  EXPECT_EQ(22u, slots.Capacity());
  for (std::uint32_t i = 0; i < 16; ++i) EXPECT_EQ(i + 1, slots.At(i));
}

}  // namespace
