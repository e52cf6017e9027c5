// The interface of zelog.dll, the SDK's tracing library: five functions exported undecorated,
// with the Windows calling convention (WINAPI), so that callers may take them by name with
// GetProcAddress on 32-bit and 64-bit builds alike. The pointer types below are what such a
// caller stores.
#pragma once

#include <windows.h>

extern "C" {

// Non-zero while tracing is switched on.
BOOL WINAPI ZELOGIsTracing();
// The greatest depth class and the greatest level currently traced.
int WINAPI ZELOGGetTraceDepth();
int WINAPI ZELOGGetTraceLevel();
// One line for the start and one for the end of a traced operation. `name` is read during the
// call only and never kept.
void WINAPI ZELOGLogEntryMsg(int depth, int level, unsigned long threadId, const char* name);
void WINAPI ZELOGLogExitMsg(int depth, int level, unsigned long threadId, const char* name,
                            unsigned long elapsedMs);

}  // extern "C"

using ZelogIsTracingFn = BOOL(WINAPI*)();
using ZelogGetLimitFn = int(WINAPI*)();
using ZelogEntryMsgFn = void(WINAPI*)(int depth, int level, unsigned long threadId, const char* name);
using ZelogExitMsgFn = void(WINAPI*)(int depth, int level, unsigned long threadId, const char* name,
                                     unsigned long elapsedMs);
