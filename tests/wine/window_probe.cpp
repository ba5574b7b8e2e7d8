// Looks at the windows of another program from the same Wine session and
// prints what a user would see, one line per window, in UTF-8:
//
//   window_probe CAPTION
//
//   window visible=1 rect=x,y,w,h class=#32770 text=CAPTION
//   control id=1002 class=Button visible=1 enabled=1 checked=0 rect=x,y,w,h text=...
//
// Exit 1 when no top-level window has that caption.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string WindowText(HWND window) {
  wchar_t text[1024] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  text[1023] = 0;
  return Utf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return Utf8(name);
}

std::string RectOf(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  char out[96];
  std::snprintf(out, sizeof out, "%ld,%ld,%ld,%ld", static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right - r.left),
                static_cast<long>(r.bottom - r.top));
  return out;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM parent) {
  // The edit inside a combo box is the combo box's business.
  if (GetParent(control) != reinterpret_cast<HWND>(parent)) return TRUE;
  DWORD_PTR checked = 0;
  SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
  std::printf("control id=%d class=%s visible=%d enabled=%d checked=%d rect=%s text=%s\n",
              static_cast<int>(GetDlgCtrlID(control)), ClassOf(control).c_str(),
              IsWindowVisible(control) ? 1 : 0, IsWindowEnabled(control) ? 1 : 0,
              ClassOf(control) == "Button" ? static_cast<int>(checked) : 0,
              RectOf(control).c_str(), WindowText(control).c_str());
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_probe CAPTION\n");
    return 2;
  }
  HWND window = FindWindowW(nullptr, argv[1]);
  if (!window) return 1;
  std::printf("window visible=%d rect=%s class=%s text=%s\n", IsWindowVisible(window) ? 1 : 0,
              RectOf(window).c_str(), ClassOf(window).c_str(), WindowText(window).c_str());
  EnumChildWindows(window, PrintControl, reinterpret_cast<LPARAM>(window));
  std::fflush(stdout);
  return 0;
}
