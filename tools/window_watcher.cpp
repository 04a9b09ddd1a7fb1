// Watches for Quorvel's windows on the desktop, the way a user sees them: the progress dialog
// and the error message box, both top-level windows captioned "Quorvel" (or --caption's text).
//
// Usage: window_watcher <record file> --stop <event> [--seen <event>] [--retry <event>]
//                       [--screenshots <folder>] [--caption <text>]
//
// Each window it finds is appended to the record file as one UTF-8 line: "progress: <text>"
// with the text of the dialog's control 1001 (again whenever that text changes), "status:
// [<position>/<range>] <text>" with the progress bar's position and the status line whenever
// they change (once the status line has text), "box: <text>" with the message of a box, and
// "gone: progress" / "gone: box" once the window has closed.
// Backslash, carriage return and line feed in a text are written as \\, \r and \n, so one window
// is one line. Every box is answered after it has been recorded: its OK button, or for a box
// that asks Retry or Cancel, Cancel ("answer: Cancel" is recorded) unless --retry is given.
//
//   --stop <event>         ends once this event is set, after a last look at the desktop
//   --seen <event>         sets this event once the first window has been recorded
//   --retry <event>        a box that asks Retry or Cancel is answered Retry ("answer: Retry"),
//                          and only once this event is set
//   --screenshots <folder> saves each window as it comes up (a box before it is dismissed) as
//                          <n>-progress.bmp or <n>-box.bmp, n counting the windows from 1
//   --caption <text>       watches the windows of this caption instead
// The system headers below need windows.h first.
#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "foundation/code_page.h"
#include "foundation/scoped_handle.h"

namespace {

constexpr int kProgressTextControl = 1001;
constexpr int kProgressBarControl = 1002;
constexpr int kProgressStatusControl = 1003;
// The message of a standard message box is a static control with this id.
constexpr int kMessageBoxTextControl = 0xFFFF;
constexpr DWORD kPollMilliseconds = 10;
// Reads of a progress status in a row, while the run keeps changing it.
constexpr int kStatusReadAttempts = 20;
// Screenshots only: the time a window's first paint needs to reach the screen.
constexpr DWORD kPaintMilliseconds = 300;

// Runs a clean-up when the scope ends (the device contexts and bitmap of a screenshot).
template <typename Action>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(Action action) : action_(action) {}
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;
  ~AtScopeEnd() { action_(); }

 private:
  Action action_;
};

struct Options {
  std::wstring record;
  std::wstring stopEvent;
  std::wstring seenEvent;
  std::wstring retryEvent;
  std::wstring screenshots;
  std::wstring caption = L"Quorvel";
};

struct Found {
  const std::wstring& caption;
  std::vector<HWND> windows;
};

struct Watched {
  HWND window;
  bool box;
  std::wstring text;
  DWORD dismissedAt;    // tick of the last OK sent to a box, 0 before the first
  std::wstring status;  // a progress window's bar and status line, as recorded
  bool recorded;        // a box's text has been recorded
};

std::string Utf8(const std::wstring& text) {
  quorvel::SharedString bytes;
  quorvel::ConvertToCodePage(text.c_str(), bytes, CP_UTF8);
  return std::string(bytes.Chars(), bytes.Length());
}

std::wstring Escaped(const std::wstring& text) {
  std::wstring result;
  for (wchar_t c : text) {
    if (c == L'\\') {
      result += L"\\\\";
    } else if (c == L'\r') {
      result += L"\\r";
    } else if (c == L'\n') {
      result += L"\\n";
    } else {
      result += c;
    }
  }
  return result;
}

void AppendLine(const std::wstring& path, const std::wstring& line) {
  quorvel::ScopedFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return;
  }
  const std::string bytes = Utf8(line) + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Reads the text of a control of another process; false when it could not be read (a window
// that is closing) or changed while it was read. WM_GETTEXT is carried across processes, and a
// time-out keeps a hung window from hanging the watcher.
bool ReadControlText(HWND control, std::wstring& text) {
  DWORD_PTR length = 0;
  if (control == nullptr ||
      !SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length)) {
    return false;
  }
  std::wstring read(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  DWORD_PTR lengthAfter = 0;
  // A text set between the two messages arrives cut to the old length.
  if (!SendMessageTimeoutW(control, WM_GETTEXT, read.size(), reinterpret_cast<LPARAM>(&read[0]),
                           SMTO_ABORTIFHUNG, 1000, &copied) ||
      !SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &lengthAfter) ||
      lengthAfter != length) {
    return false;
  }
  read.resize(static_cast<size_t>(copied));
  text = read;
  return true;
}

// A progress window's bar and status line as "[<position>/<range>] <text>", empty while the line
// is; false when the window did not answer. A bar that moved, or a line that changed, while the two
// were read would not match: they are read again at once, since a restore moves the bar faster
// than the polls come round, and a read that waited for the next poll would miss every place the
// bar stood.
bool ReadStatus(HWND dialog, std::wstring& status) {
  const HWND bar = GetDlgItem(dialog, kProgressBarControl);
  if (bar == nullptr) {
    return false;
  }
  for (int attempt = 0; attempt < kStatusReadAttempts; ++attempt) {
    DWORD_PTR before = 0;
    DWORD_PTR range = 0;
    DWORD_PTR after = 0;
    std::wstring text;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &before) ||
        !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &range)) {
      return false;
    }
    const bool read = ReadControlText(GetDlgItem(dialog, kProgressStatusControl), text);
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &after)) {
      return false;
    }
    if (read && before == after) {
      // An empty line has nothing to tell yet: the bar is still at its defaults.
      status = text.empty()
                   ? std::wstring()
                   : L"[" + std::to_wstring(before) + L"/" + std::to_wstring(range) + L"] " + text;
      return true;
    }
  }
  return false;
}

bool IsStatic(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return _wcsicmp(name, L"Static") == 0;
}

BOOL CALLBACK FirstStaticWithText(HWND child, LPARAM found) {
  std::wstring text;
  if (IsStatic(child) && ReadControlText(child, text) && !text.empty()) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// The message of a box: the standard text control, or else the first static control with text
// (message box implementations differ in the id they give it).
bool ReadBoxText(HWND box, std::wstring& text) {
  HWND control = GetDlgItem(box, kMessageBoxTextControl);
  if (control == nullptr || !IsStatic(control)) {
    control = nullptr;
    EnumChildWindows(box, &FirstStaticWithText, reinterpret_cast<LPARAM>(&control));
  }
  return ReadControlText(control, text);
}

BOOL CALLBACK CollectQuorvelWindow(HWND window, LPARAM found) {
  auto* wanted = reinterpret_cast<Found*>(found);
  wchar_t caption[256] = {};
  if (IsWindowVisible(window) && GetWindowTextW(window, caption, 256) > 0 &&
      wanted->caption == caption) {
    wanted->windows.push_back(window);
  }
  return TRUE;
}

// Saves what the screen shows of the window as a 24-bit bottom-up BMP. The screen is read
// rather than the window, since another process's window cannot be asked to paint into this
// process's device context.
void SaveScreenshot(HWND window, const std::wstring& path) {
  // Let the window's thread finish its pending messages (its first paint among them).
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
  Sleep(kPaintMilliseconds);
  RECT rect = {};
  if (!GetWindowRect(window, &rect)) {
    return;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    return;
  }
  HDC screen = GetDC(nullptr);
  const AtScopeEnd releaseScreen([&] { ReleaseDC(nullptr, screen); });
  HDC memory = CreateCompatibleDC(screen);
  const AtScopeEnd deleteMemory([&] { DeleteDC(memory); });
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const AtScopeEnd deleteBitmap([&] { DeleteObject(bitmap); });
  if (screen == nullptr || memory == nullptr || bitmap == nullptr) {
    return;
  }
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);

  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
  const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  if (lines != height) {
    return;
  }

  BITMAPFILEHEADER fileHeader = {};
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
  fileHeader.bfSize = fileHeader.bfOffBits + static_cast<DWORD>(pixels.size());
  quorvel::ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return;
  }
  DWORD written = 0;
  WriteFile(file.Get(), &fileHeader, sizeof(fileHeader), &written, nullptr);
  WriteFile(file.Get(), &header, sizeof(header), &written, nullptr);
  WriteFile(file.Get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
}

class Watcher {
 public:
  explicit Watcher(const Options& options) : options_(options) {
    if (!options.seenEvent.empty()) {
      seen_.Reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, options.seenEvent.c_str()));
    }
    if (!options.retryEvent.empty()) {
      retry_.Reset(OpenEventW(SYNCHRONIZE, FALSE, options.retryEvent.c_str()));
    }
  }

  // One look at the desktop: records new windows and changed texts, dismisses boxes and notes
  // the windows that have closed.
  void Look() {
    Found current = {options_.caption, {}};
    EnumWindows(&CollectQuorvelWindow, reinterpret_cast<LPARAM>(&current));
    for (HWND window : current.windows) {
      Watched* known = Find(window);
      if (known == nullptr) {
        Watched added = {window,         GetDlgItem(window, kProgressTextControl) == nullptr,
                         std::wstring(), 0,
                         std::wstring(), false};
        watched_.push_back(added);
        ++appeared_;
        known = &watched_.back();
        if (!options_.screenshots.empty()) {
          SaveScreenshot(window, options_.screenshots + L"\\" + std::to_wstring(appeared_) +
                                     (known->box ? L"-box.bmp" : L"-progress.bmp"));
        }
      }
      std::wstring text;
      const bool read = known->box
                            ? ReadBoxText(window, text)
                            : ReadControlText(GetDlgItem(window, kProgressTextControl), text);
      if (!read) {
        continue;  // closing: the next look finds it gone
      }
      if (text != known->text || (known->box && !known->recorded)) {
        known->text = text;
        known->recorded = true;
        AppendLine(options_.record, (known->box ? L"box: " : L"progress: ") + Escaped(text));
        if (seen_.IsValid()) {
          SetEvent(seen_.Get());
        }
      }
      std::wstring status;
      if (!known->box && ReadStatus(window, status) && status != known->status) {
        known->status = status;
        if (!status.empty()) {
          AppendLine(options_.record, L"status: " + Escaped(status));
        }
      }
      // A box is answered once, and again only if it ignored the first answer.
      if (known->box && (known->dismissedAt == 0 || GetTickCount() - known->dismissedAt > 1000)) {
        Answer(window, *known);
      }
    }
    for (size_t i = 0; i < watched_.size();) {
      if (IsWindow(watched_[i].window) && IsWindowVisible(watched_[i].window)) {
        ++i;
        continue;
      }
      AppendLine(options_.record, watched_[i].box ? L"gone: box" : L"gone: progress");
      watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

 private:
  Watched* Find(HWND window) {
    for (Watched& watched : watched_) {
      if (watched.window == window) {
        return &watched;
      }
    }
    return nullptr;
  }

  // Presses the box's button: OK, or Retry or Cancel for a box that asks (Retry waits for its
  // event).
  void Answer(HWND box, Watched& known) {
    int button = IDOK;
    if (GetDlgItem(box, IDRETRY) != nullptr) {
      if (retry_.IsValid() && WaitForSingleObject(retry_.Get(), 0) != WAIT_OBJECT_0) {
        return;
      }
      button = retry_.IsValid() ? IDRETRY : IDCANCEL;
      if (known.dismissedAt == 0) {
        AppendLine(options_.record, button == IDRETRY ? L"answer: Retry" : L"answer: Cancel");
      }
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    known.dismissedAt = GetTickCount();
  }

  const Options& options_;
  quorvel::ScopedHandle seen_;
  quorvel::ScopedHandle retry_;
  std::vector<Watched> watched_;
  int appeared_ = 0;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  if (argc < 2) {
    return false;
  }
  options.record = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::wstring name = argv[i];
    if (name == L"--stop") {
      options.stopEvent = argv[i + 1];
    } else if (name == L"--seen") {
      options.seenEvent = argv[i + 1];
    } else if (name == L"--retry") {
      options.retryEvent = argv[i + 1];
    } else if (name == L"--screenshots") {
      options.screenshots = argv[i + 1];
    } else if (name == L"--caption") {
      options.caption = argv[i + 1];
    } else {
      return false;
    }
  }
  return argc % 2 == 0 && !options.stopEvent.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    return 1;
  }
  quorvel::ScopedHandle stop(OpenEventW(SYNCHRONIZE, FALSE, options.stopEvent.c_str()));
  if (!stop.IsValid()) {
    return 2;
  }
  Watcher watcher(options);
  for (;;) {
    const bool stopping = WaitForSingleObject(stop.Get(), kPollMilliseconds) == WAIT_OBJECT_0;
    watcher.Look();
    if (stopping) {
      return 0;
    }
  }
}
