// zelog.dll: writes one line per traced entry and exit to a log file.
//
// The settings come from the environment when the DLL is loaded:
//   ZELOG_ENABLED  "1", "true", "yes" or "on" switches tracing on; anything else leaves it off.
//   ZELOG_DEPTH    the greatest depth class traced (signed decimal; default: all).
//   ZELOG_LEVEL    the greatest level traced (signed decimal; default: all).
//   ZELOG_FILE     the file the lines are appended to (default: zelog.log in the temp folder).
//
// Line format (one write per line, under one lock, so lines of concurrent threads never mix):
//   2026-12-06 10:47:11.123 tid=1234 depth=4 level=200 enter QXGlobalRestorer.RestoreObject
//   2026-12-06 10:47:11.140 tid=1234 depth=4 level=200 exit  QXGlobalRestorer.RestoreObject elapsed=17ms
#include "zelog/zelog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

struct Settings {
  bool enabled = false;
  int depth = INT_MAX;
  int level = INT_MAX;
  std::wstring file;
};

Settings g_settings;
CRITICAL_SECTION g_writeLock;
HANDLE g_file = INVALID_HANDLE_VALUE;
bool g_fileOpenFailed = false;

std::wstring ReadVariable(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (length == 0 || length >= ARRAYSIZE(buffer)) return {};
  return std::wstring(buffer, length);
}

bool IsSwitchOn(const std::wstring& value) {
  for (const wchar_t* on : {L"1", L"true", L"yes", L"on"}) {
    if (_wcsicmp(value.c_str(), on) == 0) return true;
  }
  return false;
}

// A signed decimal, or `fallback` when the text is empty, malformed or out of range.
int ParseLimit(const std::wstring& text, int fallback) {
  if (text.empty()) return fallback;
  wchar_t* end = nullptr;
  errno = 0;
  const long value = std::wcstol(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || value < INT_MIN || value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

void LoadSettings() {
  g_settings.enabled = IsSwitchOn(ReadVariable(L"ZELOG_ENABLED"));
  g_settings.depth = ParseLimit(ReadVariable(L"ZELOG_DEPTH"), INT_MAX);
  g_settings.level = ParseLimit(ReadVariable(L"ZELOG_LEVEL"), INT_MAX);
  g_settings.file = ReadVariable(L"ZELOG_FILE");
  if (g_settings.file.empty()) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    g_settings.file = (length > 0 && length < ARRAYSIZE(temp)) ? std::wstring(temp, length) : std::wstring();
    g_settings.file += L"zelog.log";
  }
}

// Called with the lock held. The file is opened on the first line, for appending, and shared
// so that other processes and readers may use it meanwhile.
bool EnsureFile() {
  if (g_file != INVALID_HANDLE_VALUE) return true;
  if (g_fileOpenFailed) return false;
  g_file = CreateFileW(g_settings.file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  g_fileOpenFailed = g_file == INVALID_HANDLE_VALUE;
  return !g_fileOpenFailed;
}

void WriteLine(const char* event, int depth, int level, unsigned long threadId, const char* name,
               const unsigned long* elapsedMs) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char head[128];
  std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u tid=%lu depth=%d level=%d %s ",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, threadId,
                depth, level, event);
  std::string line;
  try {
    line = head;
    line += name ? name : "(null)";
    if (elapsedMs) {
      char tail[32];
      std::snprintf(tail, sizeof tail, " elapsed=%lums", *elapsedMs);
      line += tail;
    }
    line += "\r\n";
  } catch (...) {
    return;  // no memory for the line: the trace loses it, the caller never notices
  }
  EnterCriticalSection(&g_writeLock);
  if (EnsureFile()) {
    DWORD written = 0;
    WriteFile(g_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  LeaveCriticalSection(&g_writeLock);
}

}  // namespace

extern "C" {

BOOL WINAPI ZELOGIsTracing() { return g_settings.enabled ? TRUE : FALSE; }

int WINAPI ZELOGGetTraceDepth() { return g_settings.depth; }

int WINAPI ZELOGGetTraceLevel() { return g_settings.level; }

void WINAPI ZELOGLogEntryMsg(int depth, int level, unsigned long threadId, const char* name) {
  WriteLine("enter", depth, level, threadId, name, nullptr);
}

void WINAPI ZELOGLogExitMsg(int depth, int level, unsigned long threadId, const char* name, unsigned long elapsedMs) {
  WriteLine("exit ", depth, level, threadId, name, &elapsedMs);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      InitializeCriticalSection(&g_writeLock);
      LoadSettings();
      break;
    case DLL_PROCESS_DETACH:
      if (reserved == nullptr) {  // FreeLibrary: close the file; at process exit the system does
        if (g_file != INVALID_HANDLE_VALUE) CloseHandle(g_file);
        g_file = INVALID_HANDLE_VALUE;
        DeleteCriticalSection(&g_writeLock);
      }
      break;
    default:
      break;
  }
  return TRUE;
}

}  // extern "C"
