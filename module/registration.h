// Registration of the classes, the AppID and the type library (see registration.cpp).
#pragma once

#include <windows.h>

namespace qx {

HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace qx
