// State shared by the stand-in's translation units.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/standin/machine.h"

namespace standin {
namespace detail {

// One lock for the whole machine; never held while system code runs.
std::mutex& Lock();

struct HandleObject {
  enum Kind { Device, Thread, Notify } kind;
  std::string device;  // lower-case device name for devices
  int64_t position = 0;
};

// Handles of every kind live in one table so that CloseHandle can tell them.
bool IsLiveHandle(HANDLE h);
HandleObject* NewHandle(HandleObject::Kind kind);
void FreeHandle(HANDLE h);  // caller holds Lock()
HandleObject* FindHandle(HANDLE h);

void ResetDevices();  // caller holds Lock()
void ResetWindows();
void ResetThreads();

bool OnUiThread();
bool CloseThreadHandle(HandleObject* h);  // caller holds Lock()
void SetError(DWORD error);

std::string Lower(std::string s);

}  // namespace detail
}  // namespace standin
