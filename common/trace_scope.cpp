#include "common/trace_scope.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace qx {
namespace trace {
namespace {

// The functions in use. Written once under the lock before `g_ready` is set; read without a lock
// afterwards, so tracing itself never takes a lock.
TracingFunctions g_functions;
std::atomic<bool> g_ready{false};
SRWLOCK g_lookupLock = SRWLOCK_INIT;
std::wstring g_moduleName = kTracingModule;  // changed by tests only

bool IsComplete(const TracingFunctions& f) {
  return f.isTracing && f.getTraceDepth && f.getTraceLevel && f.logEntryMsg && f.logExitMsg;
}

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The tracing module, from the folder of this module first (the SDK installs its DLLs side by
// side), then by the system's usual search. Null when neither finds it.
HMODULE LoadTracingModule(const std::wstring& name) {
  if (name.empty()) return nullptr;
  HMODULE self = nullptr;
  if (name.find_first_of(L"\\/:") == std::wstring::npos &&
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&g_functions), &self)) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, ARRAYSIZE(path));
    if (length > 0 && length < ARRAYSIZE(path)) {
      std::wstring besideSelf(path, length);
      const size_t slash = besideSelf.find_last_of(L"\\/");
      if (slash != std::wstring::npos) {
        besideSelf.replace(slash + 1, std::wstring::npos, name);
        if (HMODULE module = LoadLibraryW(besideSelf.c_str())) return module;
      }
    }
  }
  return LoadLibraryW(name.c_str());
}

// The table in use; the first caller loads the tracing module and takes the functions from it.
// The module stays loaded for the life of the process.
const TracingFunctions& Functions() {
  if (!g_ready.load(std::memory_order_acquire)) {
    AcquireSRWLockExclusive(&g_lookupLock);
    if (!g_ready.load(std::memory_order_relaxed)) {
      g_functions = ResolveTracingFunctions(LoadTracingModule(g_moduleName));
      g_ready.store(true, std::memory_order_release);
    }
    ReleaseSRWLockExclusive(&g_lookupLock);
  }
  return g_functions;
}

}  // namespace

TracingFunctions ResolveTracingFunctions(HMODULE module) noexcept {
  if (!module) return {};
  TracingFunctions f;
  f.isTracing = Lookup<ZelogIsTracingFn>(module, "ZELOGIsTracing");
  f.getTraceDepth = Lookup<ZelogGetLimitFn>(module, "ZELOGGetTraceDepth");
  f.getTraceLevel = Lookup<ZelogGetLimitFn>(module, "ZELOGGetTraceLevel");
  f.logEntryMsg = Lookup<ZelogEntryMsgFn>(module, "ZELOGLogEntryMsg");
  f.logExitMsg = Lookup<ZelogExitMsgFn>(module, "ZELOGLogExitMsg");
  return IsComplete(f) ? f : TracingFunctions{};
}

void ResetTracingForTests(const wchar_t* moduleName) noexcept {
  AcquireSRWLockExclusive(&g_lookupLock);
  try {
    g_moduleName = moduleName ? moduleName : L"";
  } catch (...) {
    g_moduleName.clear();
  }
  g_functions = {};
  g_ready.store(false, std::memory_order_release);
  ReleaseSRWLockExclusive(&g_lookupLock);
}

void UseTracingFunctionsForTests(const TracingFunctions& functions) noexcept {
  AcquireSRWLockExclusive(&g_lookupLock);
  g_functions = IsComplete(functions) ? functions : TracingFunctions{};
  g_ready.store(true, std::memory_order_release);
  ReleaseSRWLockExclusive(&g_lookupLock);
}

}  // namespace trace

TraceScope::TraceScope(const char* name, int level, int depth) noexcept {
  const trace::TracingFunctions& f = trace::Functions();
  if (!f.isTracing || !f.isTracing()) return;
  depth_ = depth;
  level_ = level;
  if (depth_ > f.getTraceDepth()) return;
  if (level_ > f.getTraceLevel()) return;
  startTicks_ = GetTickCount();
  // Without memory for the copy the scope stays closed: tracing never fails the traced operation.
  const size_t length = name ? std::strlen(name) : 0;
  name_ = new (std::nothrow) char[length + 1];
  if (!name_) return;
  if (length) std::memcpy(name_, name, length);
  name_[length] = '\0';
  threadId_ = GetCurrentThreadId();
  f.logEntryMsg(depth_, level_, threadId_, name_);
  entered_ = true;
}

TraceScope::~TraceScope() {
  if (entered_) {
    const trace::TracingFunctions& f = trace::Functions();
    if (f.isTracing && f.isTracing() && depth_ <= f.getTraceDepth() && level_ <= f.getTraceLevel()) {
      const DWORD elapsed = GetTickCount() - startTicks_;  // unsigned: right across the wrap
      f.logExitMsg(depth_, level_, threadId_, name_, elapsed);
    }
  }
  delete[] name_;
}

}  // namespace qx
