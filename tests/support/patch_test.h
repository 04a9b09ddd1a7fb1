#pragma once

#include "patch/apply/patch_files.h"
#include "patch/arguments/run_arguments.h"
#include "patch/journal/run_journal.h"
#include "patch/launcher/parent_wait.h"
#include "patch/launcher/post_patch_command.h"
#include "support/test_support.h"

namespace quorvel::test {

// The fixture of the patch tests: a temporary folder with Game, Patch and Backup folders named
// for a run, the run log captured, and the retry pause counted instead of slept, with the
// test's own action between attempts.
class PatchTest : public TempDirTest {
 protected:
  PatchTest() : previousPause_(SetRetryPause(Pause)) {
    pauses = 0, betweenAttempts = nullptr;
    run_.patchDirectory = At(L"Patch").c_str();
    run_.applicationDirectory = At(L"Game").c_str();
    run_.backupDirectory = At(L"Backup").c_str();
  }
  ~PatchTest() override {
    SetRetryPause(previousPause_);
    SetJournalHook(nullptr);
  }
  static void Pause(DWORD milliseconds) {
    EXPECT_EQ(milliseconds, kRetryPauseMilliseconds);
    ++pauses;
    if (betweenAttempts != nullptr) {
      betweenAttempts();
    }
  }
  // Lists each name, with an old file in the game folder and a new one in the patch folder.
  void Pairs(std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names) {
      run_.files.push_back(SharedWString(name));
      WriteFileBytes(Game(name), "old " + Utf8(name));
      WriteFileBytes(Patch(name), "new " + Utf8(name));
    }
  }
  // A game at root with its patch folder inside: two updated files, one in a folder; a file new
  // in the patch; and a file the patch deletes.
  void LayGame(const std::wstring& root) const {
    WriteFileBytes(root + L"\\a.txt", "old a");
    WriteFileBytes(root + L"\\d\\e.txt", "old e");
    WriteFileBytes(root + L"\\gone.txt", "old gone");
    WriteFileBytes(root + L"\\Patch\\a.txt", "new a");
    WriteFileBytes(root + L"\\Patch\\d\\e.txt", "new e");
    WriteFileBytes(root + L"\\Patch\\n\\new.txt", "new n");
  }
  // A name whose path in the game folder at game has about length characters: folders of 200.
  static std::wstring LongName(const std::wstring& game, size_t length) {
    std::wstring name = L"long";
    while (game.size() + name.size() + 200 < length) {
      name += L"\\" + std::wstring(199, L'x');
    }
    return name + L"\\" + std::wstring(length - game.size() - name.size() - 1, L'y');
  }
  std::wstring Game(const std::wstring& name) const { return At(L"Game\\" + name); }
  std::wstring Patch(const std::wstring& name) const { return At(L"Patch\\" + name); }
  std::wstring Backup(const std::wstring& name) const { return At(L"Backup\\" + name); }

  static inline int pauses = 0;
  static inline void (*betweenAttempts)() = nullptr;
  PatchRun run_;
  LogCapture log_;
  const RetryPause previousPause_;
};

}  // namespace quorvel::test
