#include "qx/core/asynch_status.h"

namespace qx::asynch {

StatusDecision DecideStatusChange(std::int32_t current, std::int32_t requested) noexcept {
  if (requested == current) return {StatusOutcome::kUnchanged, current};
  if (current & kComplete) return {StatusOutcome::kAlreadyComplete, current};
  // The error bit, once set, stays until Reset.
  if ((current & kHasErrors) && !(requested & kHasErrors)) return {StatusOutcome::kInvalid, current};
  // A running call leaves that state only towards complete or with errors.
  if ((current & kInProgress) && !(requested & (kInProgress | kComplete | kHasErrors))) {
    return {StatusOutcome::kInvalid, current};
  }
  if ((requested & kInProgress) && (requested & kComplete)) return {StatusOutcome::kInvalid, current};
  // A cancel request, once made, stays until Reset.
  return {StatusOutcome::kStore, requested | (current & kCancelRequested)};
}

}  // namespace qx::asynch
