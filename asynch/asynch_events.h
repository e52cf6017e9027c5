// CProxy_QXAsynchStatusEvents: the event source of the asynch status object, with the two
// firing operations of _QXAsynchStatusEvents.
#pragma once

#include "common/connection_point.h"
#include "module/qxsdk_idl.h"

namespace qx {

class CProxy_QXAsynchStatusEvents final : public QXSDKIConnectionPointImpl {
 public:
  explicit CProxy_QXAsynchStatusEvents(IUnknown* owner) noexcept
      : QXSDKIConnectionPointImpl(owner, DIID__QXAsynchStatusEvents) {}

  // Each tells every sink and returns the 32-bit value the last sink returned (0 from sinks
  // that return nothing, and when no sink is connected).
  LONG Fire_OnStatusChange(LONG newStatus) noexcept;
  LONG Fire_OnProgressChange(double newProgress) noexcept;

 private:
  LONG Fire(DISPID id, VARIANT& argument) noexcept;
};

}  // namespace qx
