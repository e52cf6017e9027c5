// The status rules of an asynchronous call, over every pair of status words from 0 to 31. The
// requests of the methods and the progress, result and reset rules are checked through COM.
#include <gtest/gtest.h>

#include <cstdint>

#include "qx/core/asynch_status.h"

namespace {

using namespace qx::asynch;

bool Has(std::int32_t word, std::int32_t bit) { return (word & bit) != 0; }

// Every pair: the outcome is one of the four, and a stored word keeps the error and cancel bits,
// is never running and complete at once, and leaves a run only towards complete or errors.
TEST(AsynchStatusRules, EveryPairOfWordsFollowsTheInvariants) {
  int stored = 0;
  for (std::int32_t current = 0; current < 32; ++current) {
    for (std::int32_t requested = 0; requested < 32; ++requested) {
      SCOPED_TRACE(testing::Message() << current << " -> " << requested);
      const StatusDecision d = DecideStatusChange(current, requested);
      if (requested == current) {
        EXPECT_EQ(StatusOutcome::kUnchanged, d.outcome);
        continue;
      }
      if (Has(current, kComplete)) {
        EXPECT_EQ(StatusOutcome::kAlreadyComplete, d.outcome);
        continue;
      }
      const bool refused = (Has(current, kHasErrors) && !Has(requested, kHasErrors)) ||
                           (Has(current, kInProgress) && (requested & 7) == 0) ||
                           (Has(requested, kInProgress) && Has(requested, kComplete));
      if (refused) {
        EXPECT_EQ(StatusOutcome::kInvalid, d.outcome);
        continue;
      }
      ASSERT_EQ(StatusOutcome::kStore, d.outcome);
      ++stored;
      EXPECT_EQ(requested & ~kCancelRequested, d.stored & ~kCancelRequested) << "only the cancel bit is added";
      EXPECT_EQ(Has(current, kCancelRequested) || Has(requested, kCancelRequested), Has(d.stored, kCancelRequested));
      EXPECT_TRUE(!Has(current, kHasErrors) || Has(d.stored, kHasErrors));
      EXPECT_FALSE(Has(d.stored, kInProgress) && Has(d.stored, kComplete));
    }
  }
  // 16 complete words refuse every change; the rest accept a fixed share. The count pins the
  // whole table: a rule that drifts changes it.
  EXPECT_EQ(256, stored);
  EXPECT_EQ(64, DecideStatusChange(0, 64).stored) << "bits beyond the five are stored too";
}

}  // namespace
