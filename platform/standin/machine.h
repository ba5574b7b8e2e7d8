// The simulated machine behind the Win32 stand-in: what a test or a host tool
// scripts (disks, drives, faults, clock, dialog) and what it reads back (call
// logs, control states, message boxes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/standin/win32_api.h"

namespace standin {

// Back to a fresh machine: no disks, drives, faults, logs, dialog or queued
// messages; the real clock; real sleeps. Waits for worker threads to end.
void Reset();

// ---- disks and volumes ------------------------------------------------------
// A disk named like "physicaldrive1" backed by an image file of fixed size.
void AddDisk(const std::string& name, const std::string& imagePath);
// A volume "E:" as a window of its disk from startLba to the end of the disk.
void AddVolume(const std::string& name, const std::string& disk, uint64_t startLba = 0);
// The DeviceNumber a volume reports; by default the digits of its disk's name.
void SetDeviceNumber(const std::string& volume, uint32_t number);
void FailDeviceNumber(const std::string& volume, bool fail = true);

enum class CapacityAnswer { FromSize, Fail, NoData, Bytes };
void SetCapacityAnswer(const std::string& disk, CapacityAnswer answer,
                       const uint8_t bytes[8] = nullptr);
void SetEjectResult(const std::string& disk, bool ok);
int EjectCount(const std::string& disk);

// ---- drive letters ----------------------------------------------------------
void SetDrive(char letter, UINT type);
void FailLogicalDriveStrings(bool fail = true);

// ---- faults -----------------------------------------------------------------
// Opening \\.\name fails with this last-error code until cleared (error 0).
void FailOpen(const std::string& name, DWORD error);
enum class Fault { Fail, Short };
// The nth transfer (1 = the next one) on the named device fails or is short.
void FailTransfer(const std::string& device, int nth, Fault fault);
// The nth position move (1 = the next one) on the named device is refused.
void FailSeek(const std::string& device, int nth);
void FailNextCreateThread();

// ---- logs -------------------------------------------------------------------
struct OpenCall {
  std::string path;
  DWORD access, share, disposition, flags;
  bool ok;
};
struct Transfer {
  std::string device;
  bool write;
  int64_t offset;
  uint32_t size;
};
struct IoctlCall {
  std::string device;
  DWORD code;
  DWORD inSize, outSize;
  std::vector<uint8_t> input;
};
std::vector<OpenCall> Opens();
std::vector<Transfer> Transfers();
std::vector<IoctlCall> Ioctls();
void ClearLogs();
// Whether opens, transfers and device requests are recorded (on after Reset).
void KeepCallLogs(bool keep);
int OpenDeviceHandles();

// ---- clock and sleep --------------------------------------------------------
void SetClock(const SYSTEMTIME& time);
void UseRealClock();
// Sleep really waits unless turned off; every call is logged either way.
void SetRealSleep(bool real);
std::vector<DWORD> Sleeps();

// ---- threads ----------------------------------------------------------------
int RunningThreads();
bool WaitForThreads(int timeoutMs);

// ---- the dialog ---------------------------------------------------------------
struct ControlSpec {
  int id;
  std::string className;  // "BUTTON", "EDIT", "STATIC", "LISTBOX", "COMBOBOX"
  std::string text;       // code page 936
  int x, y, w, h;
  DWORD style, exStyle;
};
struct DialogSpec {
  std::string caption;
  int w, h;
  DWORD style;
  std::vector<ControlSpec> controls;
};
// What DialogBoxParamA builds for a template id.
void RegisterDialog(int templateId, const DialogSpec& layout);

// Creates the dialog on the calling thread, which becomes the UI thread, and
// sends WM_INITDIALOG. The dialog lives until DestroyWindow or Reset.
HWND OpenDialog(DLGPROC proc, const DialogSpec& layout, LPARAM param = 0);
HWND Dialog();
bool DialogDestroyed();

// Calls the dialog procedure now, on the UI thread, as the system would.
INT_PTR Deliver(UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR Command(int id, int code);
// Queues a device-change notification, from any thread.
void PostDeviceChange(WPARAM event, DWORD deviceType);

// UI thread: handles what is queued now (posted messages, calls sent from
// other threads); returns how many.
int PumpPending();
// UI thread: handles messages as they come until done() holds or the time
// runs out; false on time-out.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// Control state, read directly.
std::string Text(int id);
std::string Caption();
bool Exists(int id);
bool Enabled(int id);
bool Visible(int id);
UINT CheckState(int id);
std::vector<std::string> Items(int id);
int Selection(int id);
int TextLimit(int id);
ControlSpec Row(int id);

// What a user can do; each refuses (false) on a disabled or hidden control.
// Shows or hides a control, as a build of the full dialog would.
void ShowControl(int id, bool visible);
bool UserSelect(int id, int index);
bool UserClick(int id);
bool UserType(int id, const std::string& text);

// Recorded window events.
struct TextChange {
  int id;  // 0 for the dialog's caption
  std::string text;
  bool onUiThread;
};
std::vector<TextChange> TextChanges();
void SetTextObserver(std::function<void(const TextChange&)> observer);

struct MessageBoxCall {
  HWND owner;
  std::string text, caption;
  UINT type;
  bool onUiThread;
};
std::vector<MessageBoxCall> MessageBoxes();
// Answers every message box; by default IDOK. Runs on the thread that shows it.
void SetMessageBoxHandler(std::function<int(const MessageBoxCall&)> handler);

struct DefWindowProcCall {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<DefWindowProcCall> DefWindowProcCalls();

struct Registration {
  HANDLE recipient;
  std::vector<uint8_t> filter;
  DWORD flags;
  bool active;
};
std::vector<Registration> Registrations();

}  // namespace standin
