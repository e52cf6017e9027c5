// TraceScope: announces the start and the end of a traced operation to the SDK's tracing
// library, zelog.dll. A traced operation declares one as its first statement:
//
//   qx::TraceScope trace("QXGlobalRestorer.RestoreObject", 35, 1);
//
// The tracing library's switch, depth and level are asked afresh when the scope opens and again
// when it closes; nothing of them is cached. The five functions of zelog.dll are taken by name the
// first time any scope opens (zelog.dll is loaded from this module's folder, else by the system's
// usual search, and stays loaded); without zelog.dll tracing is simply off. No lock is held while
// tracing, and a scope never throws or fails the operation it traces.
#pragma once

#include <windows.h>

#include "zelog/zelog.h"

namespace qx {

class TraceScope {
 public:
  // Opens the scope: writes the entry message if tracing is on and the operation's depth and
  // level are within the current limits (signed comparisons; equal values are traced).
  TraceScope(const char* name, int level, int depth) noexcept;
  // Writes the exit message if the scope was entered and tracing still lets it through, then
  // frees the scope's copy of the name in every case.
  ~TraceScope();

  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  DWORD startTicks_ = 0;
  char* name_ = nullptr;  // owned copy, passed to both messages
  int depth_ = 0;
  int level_ = 0;
  DWORD threadId_ = 0;
  bool entered_ = false;
};

namespace trace {

// The five functions of a tracing library. A table with any null member counts as no library.
struct TracingFunctions {
  ZelogIsTracingFn isTracing = nullptr;
  ZelogGetLimitFn getTraceDepth = nullptr;
  ZelogGetLimitFn getTraceLevel = nullptr;
  ZelogEntryMsgFn logEntryMsg = nullptr;
  ZelogExitMsgFn logExitMsg = nullptr;
};

// The module the library takes the functions from when the first scope opens.
inline constexpr const wchar_t* kTracingModule = L"zelog.dll";

// The five functions taken by name from `module`; an all-null table when the module is null or
// lacks any of them.
TracingFunctions ResolveTracingFunctions(HMODULE module) noexcept;

// For tests only, and only while no scope is open on any thread:
// Forgets the looked-up functions; the next scope that opens looks them up again by loading
// `moduleName` (a name that cannot be loaded leaves tracing off).
void ResetTracingForTests(const wchar_t* moduleName = kTracingModule) noexcept;
// Makes scopes use `functions` from now on instead of looking anything up.
void UseTracingFunctionsForTests(const TracingFunctions& functions) noexcept;

}  // namespace trace
}  // namespace qx
