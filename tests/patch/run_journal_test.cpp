// A run cut short at any step, or the same run started again, loses no file.
#include <memory>

#include "support/patch_test.h"

namespace quorvel::test {
namespace {

unsigned g_records = 0;
void CountRecord(unsigned) { ++g_records; }

// Two updated files, one in a folder; a file new in the patch; a file the patch deletes; and a
// backup of an earlier patch.
const wchar_t* const kNames[] = {L"a.txt", L"d\\e.txt", L"n\\new.txt", L"gone.txt"};

class RunJournalTest : public PatchTest {
 protected:
  std::wstring Lay(const std::wstring& name) {
    const std::wstring root = At(name);
    LayGame(root);
    WriteFileBytes(root + L"\\Backup\\a.txt", "older a");
    return root;
  }
  HRESULT Apply(const std::wstring& root) {
    PatchRun run;
    run.patchDirectory = (root + L"\\Patch").c_str();
    run.applicationDirectory = root.c_str();
    run.backupDirectory = (root + L"\\Backup").c_str();
    for (const wchar_t* name : kNames) {
      run.files.push_back(SharedWString(name));
    }
    return PatchFiles(run);
  }
  DWORD CutShort(const std::wstring& root, unsigned record) {
    std::wstring arguments = std::to_wstring(record) + L" \"" + root + L"\\Patch\" \"" + root +
                             L"\" \"" + root + L"\\Backup\"";
    for (const wchar_t* name : kNames) {
      arguments += L" " + std::wstring(name);
    }
    HelperProcess run;
    EXPECT_TRUE(run.Start(L"cut_short_run.exe", arguments));
    EXPECT_TRUE(run.WaitForExit(60000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(run.Handle(), &code);
    return code;
  }
};

TEST_F(RunJournalTest, ARunCutShortAtAnyStepIsFinishedByTheSameCommand) {
  ASSERT_EQ(Apply(Lay(L"reference")), S_OK);
  const std::string applied = TreeFingerprint(At(L"reference"), kJournalName);
  // Cut short: a run that applies every file; one that fails on the locked new file and
  // reverts the two files before it; and the restore of a run cut short just before its end.
  enum Scenario { kApplying, kReverting, kRestoring };
  for (Scenario scenario : {kApplying, kReverting, kRestoring}) {
    SCOPED_TRACE(scenario);
    const bool locked = scenario == kReverting;
    const std::wstring counted = Lay(L"count" + std::to_wstring(scenario));
    auto lock = locked ? std::make_unique<FileLock>(counted + L"\\Patch\\n\\new.txt") : nullptr;
    if (scenario == kRestoring) {
      ASSERT_EQ(CutShort(counted, 12), 3u);
    }
    g_records = 0;
    SetJournalHook(CountRecord);
    EXPECT_EQ(SUCCEEDED(Apply(counted)), !locked);
    SetJournalHook(nullptr);
    // Each file's steps and the closing record; a restore records two steps of each file
    // it moves back and one when the file is done.
    const unsigned records[] = {12, 18, 22};
    ASSERT_EQ(g_records, records[scenario]);
    for (unsigned record = 1; record <= (scenario == kRestoring ? 10 : g_records); ++record) {
      SCOPED_TRACE(record);
      const std::wstring root = Lay(L"cut" + std::to_wstring(scenario) + std::to_wstring(record));
      if (locked) {
        lock = std::make_unique<FileLock>(root + L"\\Patch\\n\\new.txt");
        ASSERT_TRUE(lock->Held());
      }
      if (scenario == kRestoring) {
        ASSERT_EQ(CutShort(root, 12), 3u);
      }
      ASSERT_EQ(CutShort(root, record), 3u);
      lock.reset();
      log_.Clear();

      EXPECT_EQ(Apply(root), S_OK);

      EXPECT_EQ(TreeFingerprint(root, kJournalName), applied);
      const std::string log = log_.Text();
      EXPECT_EQ(log.find("A run was cut short: restoring its 4 files\r\n"), 0u) << log;
      EXPECT_NE(log.find("Restored the run that was cut short\r\n"), std::string::npos) << log;
    }
  }
}

TEST_F(RunJournalTest, TheSameRunAgainChangesNothingAndADamagedJournalIsRefused) {
  const std::wstring root = Lay(L"game");
  ASSERT_EQ(Apply(root), S_OK);
  const std::string applied = TreeFingerprint(root);
  log_.Clear();

  EXPECT_EQ(Apply(root), S_OK);

  EXPECT_EQ(TreeFingerprint(root), applied);
  EXPECT_EQ(log_.Text(), "The patch of this list is already applied: nothing to do\r\n");

  const std::wstring journal = root + L"\\Backup\\" + kJournalName;
  const std::string bytes = ReadFileBytes(journal);
  const std::wstring badRecord = L"1\tz\n";
  for (const std::string& damaged :
       {std::string("not a journal!"), bytes.substr(0, 40), bytes.substr(0, bytes.size() - 1),
        bytes + std::string(reinterpret_cast<const char*>(badRecord.c_str()),
                            badRecord.size() * sizeof(wchar_t))}) {
    WriteFileBytes(journal, damaged);
    const std::string before = TreeFingerprint(root);

    EXPECT_EQ(Apply(root), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));

    EXPECT_EQ(TreeFingerprint(root), before);
  }
}

}  // namespace
}  // namespace quorvel::test
