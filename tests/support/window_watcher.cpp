#include "support/window_watcher.h"

namespace quorvel::test {
namespace {

// The folder for this test's screenshots, created; empty when none are wanted.
std::wstring ScreenshotFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableW(L"QUORVEL_TEST_SCREENSHOTS", base, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) {
    return std::wstring();
  }
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::wstring folder(base);
  CreateDirectoryW(folder.c_str(), nullptr);
  if (test != nullptr) {
    const std::string name = test->name();  // ASCII, as every C++ identifier here
    folder += L"\\" + std::wstring(name.begin(), name.end());
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  return folder;
}

}  // namespace

WindowWatcher::WindowWatcher() : stop_(L"watcher_stop"), seen_(L"watcher_seen") {
  std::wstring arguments =
      L"\"" + (dir_ / L"record.txt") + L"\" --stop " + stop_.Name() + L" --seen " + seen_.Name();
  const std::wstring screenshots = ScreenshotFolder();
  if (!screenshots.empty()) {
    arguments += L" --screenshots \"" + screenshots + L"\"";
  }
  started_ = process_.Start(L"window_watcher.exe", arguments);
}

WindowWatcher::~WindowWatcher() {
  if (!stopped_) {
    Stop();
  }
}

std::vector<std::string> WindowWatcher::Stop() {
  stopped_ = true;
  stop_.Set();
  process_.WaitForExit(30000);
  return Lines();
}

std::vector<std::string> WindowWatcher::Lines() const {
  const std::string record = ReadFileBytes(dir_ / L"record.txt");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = record.find('\n'); end != std::string::npos;
       start = end + 1, end = record.find('\n', start)) {
    lines.push_back(record.substr(start, end - start));
  }
  return lines;
}

std::string WindowWatcher::Escaped(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\\') {
      result += "\\\\";
    } else if (c == '\r') {
      result += "\\r";
    } else if (c == '\n') {
      result += "\\n";
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace quorvel::test
