// The narrow export against the wide one, called in this process as hosts call them: the built
// Quorvel.dll is loaded and its exports looked up by name. The library writes to the user's log.
#include <cstring>
#include <string>

#include "support/test_support.h"
#include "support/user_run_log.h"

namespace quorvel {
namespace {

using NarrowEntry = int(WINAPI*)(HWND, HINSTANCE, const char*, int);
using WideEntry = int(WINAPI*)(HWND, HINSTANCE, const wchar_t*, int);

// What the log gains while a call runs, with the banners' date and time masked.
template <typename Call>
std::string LoggedBy(Call call) {
  test::UserRunLog log;
  call();
  return log.AddedWithoutStamps();
}

class NarrowEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryW((test::ProgramFolder() + L"\\Quorvel.dll").c_str());
    ASSERT_NE(library_, nullptr) << GetLastError();
    // The generic function pointer type converts to any other without a warning.
    narrow_ = reinterpret_cast<NarrowEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library_, "Quorvel")));
    wide_ = reinterpret_cast<WideEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library_, "QuorvelW")));
    ASSERT_NE(narrow_, nullptr);
    ASSERT_NE(wide_, nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) {
      FreeLibrary(library_);
    }
  }

  HMODULE library_ = nullptr;
  NarrowEntry narrow_ = nullptr;
  WideEntry wide_ = nullptr;
};

const char kFailedBanner[] = "\r\n======= Quorvel Failed <stamp> ============\r\n";

TEST_F(NarrowEntryTest, AnAnsiCommandLineRunsAsTheSameTextInUtf16) {
  std::wstring wide =
      L"-text \"Mise \x00E0 jour\" 4242 C:\\Game\\Patch \"C:\\Jeu \x00E9t\x00E9\" "
      L"C:\\Game\\Backup 1 bin\\client.dll";
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                    nullptr, &lossy);
  if (lossy) {
    // This ANSI code page has no accented letters: the comparison still holds for ASCII.
    wide =
        L"-text \"Mise a jour\" 4242 C:\\Game\\Patch \"C:\\Jeu ete\" C:\\Game\\Backup 1 "
        L"bin\\client.dll";
  }
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &ansi[0], n, nullptr,
                      nullptr);
  ansi.resize(std::strlen(ansi.c_str()));

  int wideResult = -1;
  const std::string wideLog =
      LoggedBy([&] { wideResult = wide_(nullptr, nullptr, wide.c_str(), SW_SHOWNORMAL); });
  int narrowResult = -1;
  const std::string narrowLog =
      LoggedBy([&] { narrowResult = narrow_(nullptr, nullptr, ansi.c_str(), SW_SHOWNORMAL); });

  EXPECT_EQ(wideResult, 0);
  EXPECT_EQ(narrowResult, 0);
  EXPECT_EQ(narrowLog, wideLog);
  // The runs went through the whole parse: every field was read before the missing command.
  const std::string tail = std::string(
                               "File: \"bin\\client.dll\"\r\n"
                               "There is no post patch command\r\n"
                               ".Failed to build post patch command\r\n") +
                           kFailedBanner;
  EXPECT_TRUE(test::EndsWith(wideLog, tail)) << wideLog;
}

TEST_F(NarrowEntryTest, ANullNarrowCommandLineIsAnEmptyOne) {
  int result = -1;
  const std::string log =
      LoggedBy([&] { result = narrow_(nullptr, nullptr, nullptr, SW_SHOWNORMAL); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log,
            std::string("Argument List:\r\nNo arguments on the command line\r\n") + kFailedBanner);
  // The wide entry point itself reports a null command line as such.
  const std::string wideLog =
      LoggedBy([&] { result = wide_(nullptr, nullptr, nullptr, SW_SHOWNORMAL); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(wideLog, std::string("Error: No command line given\r\n"
                                 "Could not parse the command line to get the argument list\r\n") +
                         kFailedBanner);
}

}  // namespace
}  // namespace quorvel
