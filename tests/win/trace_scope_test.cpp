// TraceScope driven against a recording stand-in for the tracing library, and end to end against
// the real zelog.dll beside the test program.
#include <atomic>
#include <climits>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/trace_scope.h"
#include "test_support.h"

namespace qx::test {
namespace {

using trace::TracingFunctions;

// ---- A recording tracing library -------------------------------------------------------------

struct Message {
  bool exit = false;
  int depth = 0;
  int level = 0;
  unsigned long threadId = 0;
  const char* namePointer = nullptr;
  std::string name;  // read during the call, as the real library may
  unsigned long elapsed = 0;
};

struct Recorder {
  std::mutex lock;
  std::atomic<bool> tracing{true};
  std::atomic<int> depth{10};
  std::atomic<int> level{100};
  std::atomic<int> switchQueries{0};
  std::vector<Message> messages;
};
Recorder* g_recorder = nullptr;

BOOL WINAPI RecIsTracing() {
  ++g_recorder->switchQueries;
  return g_recorder->tracing ? TRUE : FALSE;
}
int WINAPI RecDepth() { return g_recorder->depth; }
int WINAPI RecLevel() { return g_recorder->level; }
void Record(Message m, const char* name) {
  m.namePointer = name;
  m.name = name;
  std::lock_guard<std::mutex> hold(g_recorder->lock);
  g_recorder->messages.push_back(std::move(m));
}
void WINAPI RecEntry(int depth, int level, unsigned long threadId, const char* name) {
  Record(Message{false, depth, level, threadId, nullptr, {}, 0}, name);
}
void WINAPI RecExit(int depth, int level, unsigned long threadId, const char* name, unsigned long elapsed) {
  Record(Message{true, depth, level, threadId, nullptr, {}, elapsed}, name);
}

class TraceScopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder_;
    trace::UseTracingFunctionsForTests(TracingFunctions{RecIsTracing, RecDepth, RecLevel, RecEntry, RecExit});
  }
  void TearDown() override {
    trace::ResetTracingForTests();
    g_recorder = nullptr;
  }
  std::vector<Message>& Messages() { return recorder_.messages; }
  Recorder recorder_;
};

TEST_F(TraceScopeTest, EntryAndExitCarryTheSameScopeData) {
  const char* const name = "QXGlobalRestorer.RestoreObject";
  {
    TraceScope scope(name, 35, 1);
    Sleep(120);
  }
  ASSERT_EQ(Messages().size(), 2u);
  const Message& entry = Messages()[0];
  const Message& exit = Messages()[1];
  EXPECT_TRUE(!entry.exit && exit.exit);
  // Constructor order is name, level, depth; the messages take depth first.
  EXPECT_EQ(entry.depth, 1);
  EXPECT_EQ(entry.level, 35);
  EXPECT_EQ(entry.threadId, GetCurrentThreadId());
  EXPECT_EQ(entry.name, name);
  EXPECT_NE(entry.namePointer, name) << "the scope passes its own copy";
  EXPECT_EQ(exit.depth, entry.depth);
  EXPECT_EQ(exit.level, entry.level);
  EXPECT_EQ(exit.threadId, entry.threadId);
  EXPECT_EQ(exit.namePointer, entry.namePointer) << "one copy for both messages";
  EXPECT_GE(exit.elapsed, 90u);
  EXPECT_LT(exit.elapsed, 10000u);
  EXPECT_EQ(recorder_.switchQueries.load(), 2) << "the switch is asked at entry and again at exit";
}

// One scope per row, with the library's limits and switch set before it and changed inside it:
// which messages it writes.
TEST_F(TraceScopeTest, LimitsAndSwitch) {
  const struct {
    const char* label;
    int depthLimit, levelLimit;
    int level, depth;
    bool tracingAtEntry;
    int depthLimitInside, levelLimitInside;  // set inside the scope
    bool tracingInside;
    const char* written;  // "", "enter" or "enter exit"
  } rows[] = {
      {"at both limits", 4, 200, 200, 4, true, 4, 200, true, "enter exit"},
      {"one deeper", 4, 200, 200, 5, true, 4, 200, true, ""},
      {"one higher", 4, 200, 201, 4, true, 4, 200, true, ""},
      {"below both", 4, 200, 199, 3, true, 4, 200, true, "enter exit"},
      {"signed: -1 at -1", -1, -1, -1, -1, true, -1, -1, true, "enter exit"},
      {"signed: 0 above -1", -1, -1, 0, -1, true, -1, -1, true, ""},
      {"signed: INT_MIN", -1, -1, INT_MIN, INT_MIN, true, -1, -1, true, "enter exit"},
      {"off at entry, on at exit", 10, 100, 1, 1, false, 10, 100, true, ""},
      {"on at entry, off at exit", 10, 100, 1, 1, true, 10, 100, false, "enter"},
      {"depth lowered inside", 10, 100, 5, 5, true, 4, 100, true, "enter"},
      {"level lowered inside", 10, 100, 5, 5, true, 10, 4, true, "enter"},
      {"limits raised inside", 10, 100, 5, 5, true, 50, 500, true, "enter exit"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    Messages().clear();
    recorder_.depth = row.depthLimit;
    recorder_.level = row.levelLimit;
    recorder_.tracing = row.tracingAtEntry;
    {
      TraceScope scope("Op", row.level, row.depth);
      recorder_.depth = row.depthLimitInside;
      recorder_.level = row.levelLimitInside;
      recorder_.tracing = row.tracingInside;
    }
    std::string written;
    for (const Message& m : Messages()) written += std::string(written.empty() ? "" : " ") + (m.exit ? "exit" : "enter");
    EXPECT_EQ(row.written, written);
  }
}

TEST_F(TraceScopeTest, ExitIsWrittenWhenTheOperationThrowsAndNestedScopesCloseInnermostFirst) {
  EXPECT_THROW(
      {
        TraceScope outer("Outer", 1, 1);
        TraceScope inner("Inner", 1, 1);
        throw std::runtime_error("failure inside the traced operation");
      },
      std::runtime_error);
  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_EQ(Messages()[2].name, "Inner");
  EXPECT_TRUE(Messages()[2].exit);
  EXPECT_EQ(Messages()[3].name, "Outer");
  EXPECT_TRUE(Messages()[3].exit);
}

TEST_F(TraceScopeTest, ScopesOnManyThreadsPairUpByThread) {
  constexpr int kThreads = 8, kScopes = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kScopes; ++i) TraceScope scope("Concurrent", 1, 1);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(Messages().size(), static_cast<size_t>(2 * kThreads * kScopes));
  // On each thread, entries and exits alternate and each exit repeats its entry's name pointer.
  std::map<unsigned long, const Message*> open;
  for (const Message& m : Messages()) {
    if (!m.exit) {
      EXPECT_EQ(open.count(m.threadId), 0u);
      open[m.threadId] = &m;
    } else {
      ASSERT_EQ(open.count(m.threadId), 1u);
      EXPECT_EQ(open[m.threadId]->namePointer, m.namePointer);
      open.erase(m.threadId);
    }
  }
  EXPECT_TRUE(open.empty());
}

// ---- Without a tracing library ---------------------------------------------------------------

TEST(TraceScopeWithoutLibrary, UnloadableModuleLeavesTracingOff) {
  trace::ResetTracingForTests(L"qx_no_such_tracing_library.dll");
  {
    TraceScope scope("Nothing", 1, 1);
    TraceScope nested("StillNothing", INT_MIN, INT_MIN);
  }
  EXPECT_EQ(GetModuleHandleW(L"qx_no_such_tracing_library.dll"), nullptr);
  trace::ResetTracingForTests();
}

TEST(TraceScopeWithoutLibrary, ModuleLackingTheFunctionsIsNoLibrary) {
  const TracingFunctions none = trace::ResolveTracingFunctions(GetModuleHandleW(L"kernel32.dll"));
  EXPECT_EQ(none.isTracing, nullptr);
  EXPECT_EQ(none.logExitMsg, nullptr);
  const TracingFunctions null = trace::ResolveTracingFunctions(nullptr);
  EXPECT_EQ(null.logEntryMsg, nullptr);
  // An incomplete table counts as no library: scopes stay silent instead of calling through null.
  trace::UseTracingFunctionsForTests(TracingFunctions{RecIsTracing, nullptr, nullptr, nullptr, nullptr});
  { TraceScope scope("Incomplete", 1, 1); }
  trace::ResetTracingForTests();
}

// ---- The real zelog.dll ----------------------------------------------------------------------

// Sets the ZELOG_* variables and lets the lookup load a private copy of zelog.dll (so the
// settings are read afresh, whatever copy the DLL under test may have loaded already); on the way
// out unloads the copy and removes it and the log.
class ZelogEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t self[MAX_PATH];
    std::wstring original(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    original = original.substr(0, original.find_last_of(L'\\') + 1) + L"zelog.dll";
    library_ = TempPath(L"qx_zelog_copy_", L".dll");
    ASSERT_TRUE(CopyFileW(original.c_str(), library_.c_str(), FALSE)) << "zelog.dll beside the test program";
    log_ = TempPath(L"qx_zelog_test_", L".log");
    DeleteFileW(log_.c_str());
    SetEnvironmentVariableW(L"ZELOG_ENABLED", L"1");
    SetEnvironmentVariableW(L"ZELOG_DEPTH", L"4");
    SetEnvironmentVariableW(L"ZELOG_LEVEL", L"200");
    SetEnvironmentVariableW(L"ZELOG_FILE", log_.c_str());
    trace::ResetTracingForTests(library_.c_str());
  }
  void TearDown() override {
    trace::ResetTracingForTests(L"qx_no_such_tracing_library.dll");
    // The lookup keeps the library loaded for the life of the process; the test gives that
    // reference back so that the log is closed and the copy can go.
    if (HMODULE zelog = GetModuleHandleW(library_.c_str())) FreeLibrary(zelog);
    EXPECT_EQ(GetModuleHandleW(library_.c_str()), nullptr);
    for (const wchar_t* name : {L"ZELOG_ENABLED", L"ZELOG_DEPTH", L"ZELOG_LEVEL", L"ZELOG_FILE"})
      SetEnvironmentVariableW(name, nullptr);
    if (!log_.empty()) DeleteFileW(log_.c_str());
    if (!library_.empty()) DeleteFileW(library_.c_str());
    trace::ResetTracingForTests();
  }
  std::wstring library_;
  std::wstring log_;
};

TEST_F(ZelogEndToEndTest, LinesOfConcurrentThreadsStayWhole) {
  constexpr int kThreads = 8, kScopes = 50;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go] {
      while (!go) Sleep(0);  // the first scopes of all threads race for the one-time lookup
      for (int i = 0; i < kScopes; ++i) TraceScope scope("Concurrent.Operation", 1, 1);
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  { TraceScope filtered("TooDeep", 200, 5); }  // beyond ZELOG_DEPTH
  { TraceScope filtered("TooHigh", 201, 4); }  // beyond ZELOG_LEVEL

  const std::vector<std::string> lines = ReadLines(log_);
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kThreads * kScopes));
  int entries = 0, exits = 0;
  for (const std::string& line : lines) {
    const bool isEntry = line.find(" enter Concurrent.Operation") != std::string::npos &&
                         line.size() == line.find(" enter Concurrent.Operation") + 27;
    const bool isExit = line.find(" exit  Concurrent.Operation elapsed=") != std::string::npos;
    EXPECT_TRUE(isEntry || isExit) << line;
    // "YYYY-MM-DD hh:mm:ss.mmm tid=N depth=1 level=1 ", the exit ending in "elapsed=Nms".
    EXPECT_TRUE(line.size() > 24 && line[4] == '-' && line[10] == ' ' && line[13] == ':' && line[19] == '.') << line;
    EXPECT_NE(line.find(" depth=1 level=1 "), std::string::npos) << line;
    if (isExit) {
      EXPECT_EQ(line.substr(line.size() - 2), "ms") << line;
    }
    entries += isEntry;
    exits += isExit;
  }
  EXPECT_EQ(entries, kThreads * kScopes);
  EXPECT_EQ(exits, kThreads * kScopes);
}

}  // namespace
}  // namespace qx::test
