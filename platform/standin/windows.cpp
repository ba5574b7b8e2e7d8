// The dialog manager: one modal dialog with its control store, a message
// queue pumped by the UI thread, calls from other threads answered on the UI
// thread as Win32 does, message boxes and device notifications.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/standin/machine_internal.h"

struct HWND__ {
  int id;  // 0 for the dialog itself
};

namespace standin {
namespace detail {

namespace {

enum class Kind { Button, Edit, Static, ListBox, ComboBox };

struct Control {
  ControlSpec row;
  Kind kind;
  std::string text;
  bool enabled;
  bool visible;
  UINT check = BST_UNCHECKED;
  std::vector<std::string> items;
  int selection = -1;
  int limit = 30000;
  HWND__ self;
};

struct SentCall {
  std::function<void()> fn;
  bool done = false;
};

struct Item {
  bool sent;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool hasHeader;
  DEV_BROADCAST_HDR header;
  std::shared_ptr<SentCall> call;
};

struct Windows {
  std::map<int, DialogSpec> templates;
  bool open = false;
  bool destroyed = false;
  DLGPROC proc = nullptr;
  std::thread::id ui;
  std::string caption;
  std::vector<std::unique_ptr<Control>> controls;
  HWND__ self{0};
  std::deque<Item> queue;
  std::condition_variable wake;  // queue changed or dialog destroyed
  std::condition_variable answered;
  std::vector<TextChange> textChanges;
  std::function<void(const TextChange&)> observer;
  std::vector<MessageBoxCall> boxes;
  std::function<int(const MessageBoxCall&)> boxHandler;
  std::vector<DefWindowProcCall> defCalls;
  std::vector<Registration> registrations;
  std::map<HandleObject*, size_t> notifyIndex;
};

Windows& W() {
  static Windows w;
  return w;
}

Kind KindOf(const std::string& className) {
  std::string c = Lower(className);
  if (c == "edit") return Kind::Edit;
  if (c == "static") return Kind::Static;
  if (c == "listbox") return Kind::ListBox;
  if (c == "combobox") return Kind::ComboBox;
  return Kind::Button;
}

Control* ById(int id) {
  for (auto& c : W().controls)
    if (c->row.id == id) return c.get();
  return nullptr;
}

Control* ByWindow(HWND h) {
  for (auto& c : W().controls)
    if (&c->self == h) return c.get();
  return nullptr;
}

bool IsDialog(HWND h) { return h == &W().self && W().open && !W().destroyed; }

void FinishPending() {
  for (Item& item : W().queue)
    if (item.sent) item.call->done = true;
  W().queue.clear();
  W().answered.notify_all();
  W().wake.notify_all();
}

// Runs fn on the UI thread: at once when called there, else by handing it to
// the UI thread's queue and waiting until the UI thread has run it.
void OnUi(const std::function<void()>& fn) {
  std::unique_lock<std::mutex> g(Lock());
  if (!W().open || W().destroyed || std::this_thread::get_id() == W().ui) {
    g.unlock();
    fn();
    return;
  }
  auto call = std::make_shared<SentCall>();
  call->fn = fn;
  W().queue.push_back(Item{true, 0, 0, 0, false, {}, call});
  W().wake.notify_all();
  W().answered.wait(g, [&] { return call->done; });
}

void Notify(const TextChange& change) {
  std::function<void(const TextChange&)> observer;
  {
    std::lock_guard<std::mutex> g(Lock());
    W().textChanges.push_back(change);
    observer = W().observer;
  }
  if (observer) observer(change);
}

LRESULT CopyText(const std::string& s, WPARAM size, LPARAM out) {
  char* buffer = reinterpret_cast<char*>(out);
  if (!buffer || size == 0) return 0;
  size_t n = std::min<size_t>(s.size(), size - 1);
  memcpy(buffer, s.data(), n);
  buffer[n] = '\0';
  return static_cast<LRESULT>(n);
}

// A message to a control, handled as the control's window procedure would.
// Runs on the UI thread.
LRESULT ControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::unique_lock<std::mutex> g(Lock());
  Control* c = ByWindow(window);
  if (!c) return 0;
  const char* text = reinterpret_cast<const char*>(lParam);
  bool list = c->kind == Kind::ListBox, combo = c->kind == Kind::ComboBox;
  switch (message) {
    case WM_SETTEXT: {
      c->text = text ? text : "";
      TextChange change{c->row.id, c->text, true};
      g.unlock();
      Notify(change);
      return TRUE;
    }
    case WM_GETTEXT:
      return CopyText(combo && c->selection >= 0 ? c->items[c->selection] : c->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(c->text.size());
    case EM_LIMITTEXT:
      if (c->kind == Kind::Edit) c->limit = wParam ? static_cast<int>(wParam) : 0x7FFFFFFE;
      return 0;
    case BM_GETCHECK:
      return c->kind == Kind::Button ? c->check : 0;
    case BM_SETCHECK:
      if (c->kind == Kind::Button) c->check = static_cast<UINT>(wParam);
      return 0;
  }
  if (list || combo) {
    bool add = (list && message == LB_ADDSTRING) || (combo && message == CB_ADDSTRING);
    bool reset = (list && message == LB_RESETCONTENT) || (combo && message == CB_RESETCONTENT);
    bool getSel = (list && message == LB_GETCURSEL) || (combo && message == CB_GETCURSEL);
    bool setSel = (list && message == LB_SETCURSEL) || (combo && message == CB_SETCURSEL);
    bool count = (list && message == LB_GETCOUNT) || (combo && message == CB_GETCOUNT);
    bool getText = (list && message == LB_GETTEXT) || (combo && message == CB_GETLBTEXT);
    bool getLen = (list && message == LB_GETTEXTLEN) || (combo && message == CB_GETLBTEXTLEN);
    if (add) {
      std::string s = text ? text : "";
      size_t at = c->items.size();
      if (combo && (c->row.style & CBS_SORT)) {
        at = 0;
        while (at < c->items.size() && strcasecmp(c->items[at].c_str(), s.c_str()) <= 0) at++;
      }
      c->items.insert(c->items.begin() + static_cast<long>(at), s);
      return static_cast<LRESULT>(at);
    }
    if (reset) {
      c->items.clear();
      c->selection = -1;
      return 0;
    }
    if (getSel) return c->selection;
    if (count) return static_cast<LRESULT>(c->items.size());
    if (setSel) {
      int i = static_cast<int>(static_cast<intptr_t>(wParam));
      if (i < 0 || i >= static_cast<int>(c->items.size())) {
        c->selection = -1;
        return i == -1 && list ? 0 : -1;
      }
      c->selection = i;
      return i;
    }
    size_t i = wParam;
    if (getText) {
      if (i >= c->items.size()) return -1;
      const std::string& s = c->items[i];
      memcpy(reinterpret_cast<char*>(lParam), s.c_str(), s.size() + 1);
      return static_cast<LRESULT>(s.size());
    }
    if (getLen) return i < c->items.size() ? static_cast<LRESULT>(c->items[i].size()) : -1;
  }
  return 0;
}

LRESULT SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  OnUi([&] { result = ControlMessage(window, message, wParam, lParam); });
  return result;
}

HWND ControlWindow(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? &c->self : nullptr;
}

// Dispatches one queue item on the UI thread; the lock is held on entry and
// on return.
void Dispatch(std::unique_lock<std::mutex>& g) {
  Item item = W().queue.front();
  W().queue.pop_front();
  g.unlock();
  if (item.sent) {
    item.call->fn();
  } else if (W().proc) {
    LPARAM lp = item.hasHeader ? reinterpret_cast<LPARAM>(&item.header) : item.lParam;
    W().proc(&W().self, item.message, item.wParam, lp);
  }
  g.lock();
  if (item.sent) {
    item.call->done = true;
    W().answered.notify_all();
  }
}

}  // namespace

bool OnUiThread() {
  std::lock_guard<std::mutex> g(Lock());
  return std::this_thread::get_id() == W().ui;
}

void ResetWindows() {
  Windows& w = W();
  FinishPending();
  w.open = false;
  w.destroyed = false;
  w.proc = nullptr;
  w.ui = std::thread::id();
  w.caption.clear();
  w.controls.clear();
  w.textChanges.clear();
  w.observer = nullptr;
  w.boxes.clear();
  w.boxHandler = nullptr;
  w.defCalls.clear();
  w.registrations.clear();
  w.notifyIndex.clear();
}

}  // namespace detail

using namespace detail;

void RegisterDialog(int templateId, const DialogSpec& layout) {
  std::lock_guard<std::mutex> g(Lock());
  W().templates[templateId] = layout;
}

HWND OpenDialog(DLGPROC proc, const DialogSpec& layout, LPARAM param) {
  {
    std::lock_guard<std::mutex> g(Lock());
    Windows& w = W();
    FinishPending();
    w.open = true;
    w.destroyed = false;
    w.proc = proc;
    w.ui = std::this_thread::get_id();
    w.caption = layout.caption;
    w.controls.clear();
    for (const ControlSpec& s : layout.controls) {
      auto c = std::make_unique<Control>();
      c->row = s;
      c->kind = KindOf(s.className);
      c->text = s.text;
      c->enabled = !(s.style & WS_DISABLED);
      c->visible = (s.style & WS_VISIBLE) != 0;
      c->self.id = s.id;
      w.controls.push_back(std::move(c));
    }
  }
  Deliver(WM_INITDIALOG, 0, param);
  return &W().self;
}

HWND Dialog() { return &W().self; }

bool DialogDestroyed() {
  std::lock_guard<std::mutex> g(Lock());
  return W().destroyed;
}

INT_PTR Deliver(UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC proc;
  {
    std::lock_guard<std::mutex> g(Lock());
    if (!W().open || W().destroyed) return 0;
    proc = W().proc;
  }
  return proc ? proc(&W().self, message, wParam, lParam) : 0;
}

INT_PTR Command(int id, int code) {
  return Deliver(WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(ControlWindow(id)));
}

void PostDeviceChange(WPARAM event, DWORD deviceType) {
  std::lock_guard<std::mutex> g(Lock());
  if (!W().open || W().destroyed) return;
  Item item{false, WM_DEVICECHANGE, event, 0, true, {sizeof(DEV_BROADCAST_HDR), deviceType, 0}, nullptr};
  W().queue.push_back(item);
  W().wake.notify_all();
}

int PumpPending() {
  std::unique_lock<std::mutex> g(Lock());
  int n = 0;
  while (!W().queue.empty() && !W().destroyed) {
    Dispatch(g);
    n++;
  }
  return n;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> g(Lock());
  for (;;) {
    g.unlock();
    bool finished = done();
    g.lock();
    if (finished) return true;
    if (W().queue.empty()) {
      if (timeoutMs < 0)
        W().wake.wait_for(g, std::chrono::milliseconds(20));
      else if (W().wake.wait_until(g, std::min(deadline, std::chrono::steady_clock::now() +
                                                             std::chrono::milliseconds(20))) ==
                   std::cv_status::timeout &&
               std::chrono::steady_clock::now() >= deadline) {
        g.unlock();
        bool last = done();
        g.lock();
        return last;
      }
      continue;
    }
    Dispatch(g);
  }
}

std::string Text(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->text : std::string();
}

std::string Caption() {
  std::lock_guard<std::mutex> g(Lock());
  return W().caption;
}

bool Exists(int id) {
  std::lock_guard<std::mutex> g(Lock());
  return ById(id) != nullptr;
}

bool Enabled(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c && c->enabled;
}

bool Visible(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c && c->visible;
}

UINT CheckState(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->check : 0;
}

std::vector<std::string> Items(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->items : std::vector<std::string>();
}

int Selection(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->selection : -1;
}

int TextLimit(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->limit : 0;
}

ControlSpec Row(int id) {
  std::lock_guard<std::mutex> g(Lock());
  Control* c = ById(id);
  return c ? c->row : ControlSpec{};
}

void ShowControl(int id, bool visible) {
  std::lock_guard<std::mutex> g(Lock());
  if (Control* c = ById(id)) c->visible = visible;
}

bool UserSelect(int id, int index) {
  int code;
  {
    std::lock_guard<std::mutex> g(Lock());
    Control* c = ById(id);
    if (!c || !c->enabled || !c->visible) return false;
    if (c->kind != Kind::ListBox && c->kind != Kind::ComboBox) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    c->selection = index;
    code = c->kind == Kind::ListBox ? LBN_SELCHANGE : CBN_SELCHANGE;
  }
  Command(id, code);
  return true;
}

bool UserClick(int id) {
  {
    std::lock_guard<std::mutex> g(Lock());
    Control* c = ById(id);
    if (!c || !c->enabled || !c->visible || c->kind != Kind::Button) return false;
    DWORD type = c->row.style & 0xF;
    if (type == BS_AUTOCHECKBOX) {
      c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    } else if (type == BS_AUTORADIOBUTTON) {
      // The group runs from the control with WS_GROUP before it to the next one.
      auto& all = W().controls;
      size_t at = 0;
      while (all[at].get() != c) at++;
      size_t first = at;
      while (first > 0 && !(all[first]->row.style & WS_GROUP)) first--;
      for (size_t i = first; i < all.size(); i++) {
        if (i > first && (all[i]->row.style & WS_GROUP)) break;
        if ((all[i]->row.style & 0xF) == BS_AUTORADIOBUTTON) all[i]->check = BST_UNCHECKED;
      }
      c->check = BST_CHECKED;
    }
  }
  Command(id, BN_CLICKED);
  return true;
}

bool UserType(int id, const std::string& text) {
  {
    std::lock_guard<std::mutex> g(Lock());
    Control* c = ById(id);
    if (!c || !c->enabled || !c->visible || c->kind != Kind::Edit) return false;
  }
  Command(id, EN_SETFOCUS);
  std::string typed;
  {
    std::lock_guard<std::mutex> g(Lock());
    Control* c = ById(id);
    typed = text.substr(0, static_cast<size_t>(std::max(0, c->limit)));
    if (c->row.style & ES_UPPERCASE)
      for (char& ch : typed)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    c->text = typed;
  }
  Notify(TextChange{id, typed, OnUiThread()});
  Command(id, EN_CHANGE);
  return true;
}

std::vector<TextChange> TextChanges() {
  std::lock_guard<std::mutex> g(Lock());
  return W().textChanges;
}

void SetTextObserver(std::function<void(const TextChange&)> observer) {
  std::lock_guard<std::mutex> g(Lock());
  W().observer = std::move(observer);
}

std::vector<MessageBoxCall> MessageBoxes() {
  std::lock_guard<std::mutex> g(Lock());
  return W().boxes;
}

void SetMessageBoxHandler(std::function<int(const MessageBoxCall&)> handler) {
  std::lock_guard<std::mutex> g(Lock());
  W().boxHandler = std::move(handler);
}

std::vector<DefWindowProcCall> DefWindowProcCalls() {
  std::lock_guard<std::mutex> g(Lock());
  return W().defCalls;
}

std::vector<Registration> Registrations() {
  std::lock_guard<std::mutex> g(Lock());
  return W().registrations;
}

}  // namespace standin

using namespace standin;
using namespace standin::detail;

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND, DLGPROC proc, LPARAM param) {
  DialogSpec layout;
  {
    std::lock_guard<std::mutex> g(Lock());
    auto it = W().templates.find(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)));
    if (it == W().templates.end()) {
      SetError(1813);  // ERROR_RESOURCE_TYPE_NOT_FOUND
      return -1;
    }
    layout = it->second;
  }
  OpenDialog(proc, layout, param);
  PumpUntil([] { return DialogDestroyed(); }, -1);
  return 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool dialog;
  {
    std::lock_guard<std::mutex> g(Lock());
    dialog = IsDialog(window);
  }
  if (!dialog) return SendTo(window, message, wParam, lParam);
  INT_PTR result = 0;
  OnUi([&] { result = Deliver(message, wParam, lParam); });
  return result;
}

LRESULT SendDlgItemMessageA(HWND, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendTo(ControlWindow(id), message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> g(Lock());
  if (!IsDialog(window)) {
    SetError(1400);  // ERROR_INVALID_WINDOW_HANDLE
    return FALSE;
  }
  W().queue.push_back(Item{false, message, wParam, lParam, false, {}, nullptr});
  W().wake.notify_all();
  return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> g(Lock());
  W().defCalls.push_back({window, message, wParam, lParam});
  return 0;
}

BOOL DestroyWindow(HWND window) {
  std::lock_guard<std::mutex> g(Lock());
  if (!IsDialog(window)) return FALSE;
  W().destroyed = true;
  FinishPending();
  return TRUE;
}

HWND GetDlgItem(HWND, int id) { return ControlWindow(id); }

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  bool dialog;
  {
    std::lock_guard<std::mutex> g(Lock());
    dialog = window == &W().self;
    if (dialog) W().caption = text ? text : "";
  }
  if (dialog) {
    Notify(TextChange{0, text ? text : "", OnUiThread()});
    return TRUE;
  }
  return SendTo(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
  if (size <= 0) return 0;
  return static_cast<int>(SendTo(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
  (void)dialog;
  if (size <= 0) return 0;
  HWND w = ControlWindow(id);
  if (!w) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(w, buffer, size));
}

BOOL SetDlgItemTextA(HWND, int id, LPCSTR text) {
  HWND w = ControlWindow(id);
  return w ? SetWindowTextA(w, text) : FALSE;
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  char text[64] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  if (translated) *translated = FALSE;
  const char* p = text;
  while (*p == ' ') p++;
  bool negative = false;
  if (isSigned && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > (isSigned ? 0x80000000ull : 0xFFFFFFFFull)) return 0;
  }
  while (*p == ' ') p++;
  if (*p) return 0;
  if (isSigned && !negative && value > 0x7FFFFFFF) return 0;
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(-static_cast<int64_t>(value)) : static_cast<UINT>(value);
}

BOOL CheckDlgButton(HWND, int id, UINT check) {
  SendTo(ControlWindow(id), BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND, int id) {
  return static_cast<UINT>(SendTo(ControlWindow(id), BM_GETCHECK, 0, 0));
}

BOOL EnableWindow(HWND window, BOOL enable) {
  BOOL wasDisabled = FALSE;
  OnUi([&] {
    std::lock_guard<std::mutex> g(Lock());
    if (Control* c = ByWindow(window)) {
      wasDisabled = !c->enabled;
      c->enabled = enable != FALSE;
    }
  });
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
  BOOL enabled = FALSE;
  OnUi([&] {
    std::lock_guard<std::mutex> g(Lock());
    if (Control* c = ByWindow(window)) enabled = c->enabled;
  });
  return enabled;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  MessageBoxCall call{owner, text ? text : "", caption ? caption : "", type, OnUiThread()};
  std::function<int(const MessageBoxCall&)> handler;
  {
    std::lock_guard<std::mutex> g(Lock());
    W().boxes.push_back(call);
    handler = W().boxHandler;
  }
  return handler ? handler(call) : IDOK;
}

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
  std::lock_guard<std::mutex> g(Lock());
  Registration r{recipient, {}, flags, true};
  if (filter) {
    DWORD size;
    memcpy(&size, filter, sizeof size);
    auto* p = static_cast<const uint8_t*>(filter);
    r.filter.assign(p, p + std::min<DWORD>(size, 256));
  }
  HandleObject* h = NewHandle(HandleObject::Notify);
  W().notifyIndex[h] = W().registrations.size();
  W().registrations.push_back(r);
  return h;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) {
  std::lock_guard<std::mutex> g(Lock());
  HandleObject* h = FindHandle(notification);
  if (!h || h->kind != HandleObject::Notify) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  W().registrations[W().notifyIndex[h]].active = false;
  W().notifyIndex.erase(h);
  FreeHandle(h);
  return TRUE;
}
