// The status rules of an asynchronous call, over every pair of status words from 0 to 31, and
// the requests of the methods and the progress, result and reset rules at their edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

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

// A pending cancel survives a request without it; completing keeps the error and cancel bits and
// fills the progress only when no cancel was asked for.
TEST(AsynchStatusRules, RequestsOfTheMethods) {
  EXPECT_EQ(13, DecideStatusChange(9, 5).stored);
  EXPECT_EQ(9, DecideStatusChange(9, 1).stored);
  EXPECT_EQ(9, CancelRequest(1));
  EXPECT_EQ(13, ErrorsRequest(9));
  const std::int32_t completed[][2] = {{1, 2}, {5, 6}, {9, 10}, {13, 14}, {2, 2}};
  for (const auto& c : completed) EXPECT_EQ(c[1], CompleteRequest(c[0])) << c[0];
  EXPECT_TRUE(CompletionFillsProgress(1));
  EXPECT_FALSE(CompletionFillsProgress(9));
}

// Progress only forward and never past 100 (a NaN passes the comparisons); a result only before
// the start or while running; no reset while running; thread ids above 0x7FFFFFFF read as 0.
TEST(AsynchStatusRules, ProgressResultResetAndThreadId) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  const struct {
    double current, requested;
    bool accepted;
  } progress[] = {{50, 50, true},  {50, 40, false}, {50, 100, true}, {0, 100.5, false},
                  {50, nan, true}, {nan, 10, true}, {0, inf, false}};
  for (const auto& p : progress) EXPECT_EQ(p.accepted, ProgressAccepted(p.current, p.requested)) << p.requested;
  for (std::int32_t s : {0, 1, 5, 9, 13}) EXPECT_TRUE(ResultAccepted(s)) << s;
  for (std::int32_t s : {2, 4, 6, 8, 16}) EXPECT_FALSE(ResultAccepted(s)) << s;
  for (std::int32_t s : {0, 2, 4, 6, 8, 10, 16}) EXPECT_TRUE(ResetAccepted(s)) << s;
  for (std::int32_t s : {1, 5, 9, 17}) EXPECT_FALSE(ResetAccepted(s)) << s;
  EXPECT_EQ(0x7FFFFFFF, CreatorThreadIdValue(0x7FFFFFFFu));
  EXPECT_EQ(0, CreatorThreadIdValue(0x80000000u));
}

}  // namespace
