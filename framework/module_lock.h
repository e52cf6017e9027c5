// The module's lock count: every live object and every class object a client holds keeps the
// DLL loaded. DllCanUnloadNow answers from it.
#pragma once

#include <windows.h>

namespace qx::com {

class ModuleLock {
 public:
  static LONG Lock() noexcept { return InterlockedIncrement(&count_); }
  static LONG Unlock() noexcept { return InterlockedDecrement(&count_); }
  static LONG Count() noexcept { return InterlockedCompareExchange(&count_, 0, 0); }

 private:
  static inline volatile LONG count_ = 0;
};

}  // namespace qx::com
