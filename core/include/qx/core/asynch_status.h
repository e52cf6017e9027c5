// The rules of an asynchronous call's status word, progress and result: which changes are
// allowed and what is stored. The COM status object applies them; nothing here reports errors
// or fires events.
//
// The status is a signed 32-bit word of bit flags. Any combination may be stored, including
// bits outside the five below.
#pragma once

#include <cstdint>

namespace qx::asynch {

inline constexpr std::int32_t kInitial = 0;
inline constexpr std::int32_t kInProgress = 1;
inline constexpr std::int32_t kComplete = 2;
inline constexpr std::int32_t kHasErrors = 4;
inline constexpr std::int32_t kCancelRequested = 8;
inline constexpr std::int32_t kFailedToComplete = 16;

inline constexpr double kFullProgress = 100.0;

// What a requested status change comes to.
enum class StatusOutcome {
  kUnchanged,        // the request equals the current status: nothing happens
  kAlreadyComplete,  // the call is complete; only Reset leaves that state
  kInvalid,          // would clear the error bit, leave "in progress" for nothing, or be running and complete at once
  kStore,            // store `stored` and notify
};

struct StatusDecision {
  StatusOutcome outcome;
  std::int32_t stored;  // the word to store (the request plus a pending cancel bit); only for kStore
};

// The decision for a change from `current` to `requested`.
StatusDecision DecideStatusChange(std::int32_t current, std::int32_t requested) noexcept;

// The status each request asks for, given the current one.
constexpr std::int32_t CancelRequest(std::int32_t current) noexcept { return current | kCancelRequested; }
constexpr std::int32_t ErrorsRequest(std::int32_t current) noexcept { return current | kHasErrors; }
constexpr std::int32_t CompleteRequest(std::int32_t current) noexcept { return (current & ~kInProgress) | kComplete; }
// Completing sets progress to 100 unless a cancel was requested.
constexpr bool CompletionFillsProgress(std::int32_t current) noexcept { return (current & kCancelRequested) == 0; }

// Whether a stored status signals the completion event.
constexpr bool SignalsCompletion(std::int32_t stored) noexcept { return (stored & kComplete) != 0; }

// Progress never goes backwards and never exceeds 100. Plain IEEE comparisons: a NaN passes.
constexpr bool ProgressAccepted(double current, double requested) noexcept {
  return !(requested < current) && !(requested > kFullProgress);
}

// A result may be stored before the call starts and while it runs.
constexpr bool ResultAccepted(std::int32_t status) noexcept {
  return status == kInitial || (status & kInProgress) != 0;
}

// A running call cannot be reset.
constexpr bool ResetAccepted(std::int32_t status) noexcept { return (status & kInProgress) == 0; }

// The creator thread id as a signed 32-bit value: ids above 0x7FFFFFFF read as 0.
constexpr std::int32_t CreatorThreadIdValue(std::uint32_t threadId) noexcept {
  return threadId > 0x7FFFFFFFu ? 0 : static_cast<std::int32_t>(threadId);
}

}  // namespace qx::asynch
