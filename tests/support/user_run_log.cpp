#include "support/user_run_log.h"

#include <shlobj.h>

#include <regex>

#include "support/test_support.h"

namespace quorvel::test {

UserRunLog::UserRunLog() {
  const std::wstring file = FilePath();
  CreateDirectoryW(file.substr(0, file.find_last_of(L'\\')).c_str(), nullptr);
  start_ = ReadFileBytes(file).size();
}

std::wstring UserRunLog::FilePath() {
  wchar_t folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
  return std::wstring(folder) + L"\\Brinmoor\\Quorvel.log";
}

std::string UserRunLog::Added() const {
  const std::string text = ReadFileBytes(FilePath());
  return text.size() < start_ ? std::string() : text.substr(start_);
}

std::string UserRunLog::AddedWithoutStamps() const {
  return std::regex_replace(Added(), std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                            "<stamp>");
}

}  // namespace quorvel::test
