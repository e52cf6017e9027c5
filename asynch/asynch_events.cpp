#include "asynch/asynch_events.h"

namespace qx {

namespace {
constexpr DISPID kOnStatusChange = 1;
constexpr DISPID kOnProgressChange = 2;
}  // namespace

LONG CProxy_QXAsynchStatusEvents::Fire_OnStatusChange(LONG newStatus) noexcept {
  VARIANT argument;
  V_VT(&argument) = VT_I4;
  V_I4(&argument) = newStatus;
  return Fire(kOnStatusChange, argument);
}

LONG CProxy_QXAsynchStatusEvents::Fire_OnProgressChange(double newProgress) noexcept {
  VARIANT argument;
  V_VT(&argument) = VT_R8;
  V_R8(&argument) = newProgress;
  return Fire(kOnProgressChange, argument);
}

LONG CProxy_QXAsynchStatusEvents::Fire(DISPID id, VARIANT& argument) noexcept {
  // Without a connection nothing more is prepared.
  if (ActiveConnections() < 1) return 0;
  VARIANT result;
  V_VT(&result) = VT_ERROR;
  V_ERROR(&result) = S_OK;
  FireEvent(id, &argument, 1, &result);
  // A sink's value counts when it is a 32-bit integer or an error code.
  const LONG value = (V_VT(&result) == VT_I4 || V_VT(&result) == VT_ERROR) ? V_I4(&result) : 0;
  VariantClear(&result);
  return value;
}

}  // namespace qx
