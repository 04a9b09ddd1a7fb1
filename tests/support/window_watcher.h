#pragma once

#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/test_support.h"

namespace quorvel::test {

// window_watcher.exe looking at the desktop for the length of a test: it records Quorvel's
// windows ("progress: <text>", "status: [<bar position>/<range>] <status line>", "box: <text>",
// "gone: progress", "gone: box") and dismisses every message box, so that no run waits on a box
// that nobody can see. When the environment variable
// QUORVEL_TEST_SCREENSHOTS names a folder, it also saves each window as a BMP in a subfolder named
// after the running test.
class WindowWatcher {
 public:
  WindowWatcher();
  WindowWatcher(const WindowWatcher&) = delete;
  WindowWatcher& operator=(const WindowWatcher&) = delete;
  // Stops the watcher if Stop was not called.
  ~WindowWatcher();

  bool Started() const { return started_; }
  // True once the first window has been recorded, within milliseconds.
  bool WaitUntilSeen(DWORD milliseconds) const { return seen_.WaitFor(milliseconds); }
  // The lines recorded so far.
  std::vector<std::string> Lines() const;
  // Has the watcher take a last look and end; returns the lines it recorded.
  std::vector<std::string> Stop();

  // UTF-8 text as the record holds it: backslash, CR and LF written as \\, \r and \n.
  static std::string Escaped(const std::string& text);

 private:
  ScopedTempDir dir_;
  NamedEvent stop_;
  NamedEvent seen_;
  HelperProcess process_;
  bool started_ = false;
  bool stopped_ = false;
};

}  // namespace quorvel::test
