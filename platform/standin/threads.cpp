// Threads, the last-error code, sleeping, the clock and CloseHandle.
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/standin/machine_internal.h"

namespace standin {
namespace detail {

std::mutex& Lock() {
  static std::mutex m;
  return m;
}

namespace {

thread_local DWORD t_lastError = 0;

struct Threads {
  std::map<HandleObject*, std::thread> threads;
  int running = 0;
  std::condition_variable ended;
  bool failNextCreate = false;
  bool realSleep = true;
  std::vector<DWORD> sleeps;
  bool fixedClock = false;
  SYSTEMTIME clock{};
};

Threads& T() {
  static Threads t;
  return t;
}

}  // namespace

void SetError(DWORD error) { t_lastError = error; }

bool CloseThreadHandle(HandleObject* h) {
  auto it = T().threads.find(h);
  if (it == T().threads.end()) return false;
  it->second.detach();
  T().threads.erase(it);
  return true;
}

void ResetThreads() {
  Threads& t = T();
  t.failNextCreate = false;
  t.realSleep = true;
  t.sleeps.clear();
  t.fixedClock = false;
}

}  // namespace detail

using namespace detail;

void FailNextCreateThread() {
  std::lock_guard<std::mutex> g(Lock());
  T().failNextCreate = true;
}

int RunningThreads() {
  std::lock_guard<std::mutex> g(Lock());
  return T().running;
}

bool WaitForThreads(int timeoutMs) {
  std::unique_lock<std::mutex> g(Lock());
  return T().ended.wait_for(g, std::chrono::milliseconds(timeoutMs), [] { return T().running == 0; });
}

void SetClock(const SYSTEMTIME& time) {
  std::lock_guard<std::mutex> g(Lock());
  T().fixedClock = true;
  T().clock = time;
}

void UseRealClock() {
  std::lock_guard<std::mutex> g(Lock());
  T().fixedClock = false;
}

void SetRealSleep(bool real) {
  std::lock_guard<std::mutex> g(Lock());
  T().realSleep = real;
}

std::vector<DWORD> Sleeps() {
  std::lock_guard<std::mutex> g(Lock());
  return T().sleeps;
}

void Reset() {
  WaitForThreads(20000);
  std::lock_guard<std::mutex> g(Lock());
  for (auto& [h, th] : T().threads) th.detach();
  T().threads.clear();
  ResetDevices();
  ResetThreads();
  ResetWindows();
}

}  // namespace standin

using namespace standin;
using namespace standin::detail;

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  std::lock_guard<std::mutex> g(Lock());
  if (T().failNextCreate || !start) {
    T().failNextCreate = false;
    SetError(8);  // ERROR_NOT_ENOUGH_MEMORY
    return nullptr;
  }
  HandleObject* h = NewHandle(HandleObject::Thread);
  T().running++;
  T().threads[h] = std::thread([start, parameter] {
    start(parameter);
    std::lock_guard<std::mutex> g2(Lock());
    T().running--;
    T().ended.notify_all();
  });
  if (threadId) *threadId = 0;
  return h;
}

void Sleep(DWORD milliseconds) {
  bool real;
  {
    std::lock_guard<std::mutex> g(Lock());
    T().sleeps.push_back(milliseconds);
    real = T().realSleep;
  }
  if (real) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void GetLocalTime(SYSTEMTIME* out) {
  std::lock_guard<std::mutex> g(Lock());
  if (T().fixedClock) {
    *out = T().clock;
    return;
  }
  auto now = std::chrono::system_clock::now();
  time_t secs = std::chrono::system_clock::to_time_t(now);
  struct tm tm {};
  localtime_r(&secs, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = static_cast<WORD>(ms);
}

BOOL CloseHandle(HANDLE handle) {
  std::lock_guard<std::mutex> g(Lock());
  HandleObject* o = FindHandle(handle);
  if (!o || o->kind == HandleObject::Notify) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->kind == HandleObject::Thread) CloseThreadHandle(o);
  FreeHandle(o);
  return TRUE;
}
