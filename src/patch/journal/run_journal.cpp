#include "patch/journal/run_journal.h"

#include <cwchar>
#include <cwctype>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "files/file_path.h"
#include "files/folder_identity.h"
#include "files/folder_paths.h"
#include "files/real_path.h"
#include "files/same_contents.h"
#include "foundation/failure_line.h"
#include "foundation/file_itself.h"
#include "foundation/final_path.h"
#include "foundation/format.h"
#include "foundation/name_key.h"
#include "foundation/path_strings.h"
#include "foundation/run_log.h"
#include "foundation/win32_result.h"
#include "patch/arguments/file_list_file.h"
#include "patch/checks/names_inside.h"
#include "patch/journal/journal_text.h"

namespace quorvel {
namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;
// The largest journal a run can write, so that every list a run takes makes a journal the next
// run reads: the header with its folders (a system path each), the names (a list file's byte, or
// two, gives at most one character of a name), and for each name its line of three identities
// and the records of its steps: applied, reverted and restored, at most 16 of 9 characters,
// with the retries of the names that failed an attempt; and the line of the folders on its way
// that existed.
constexpr uint64_t kExistedLineChars = 8 + 7 + 1 + 5 + 1 + 5 + 1;
static_assert(kFileListMaxNames <= 9999999 && kFileListMaxNameLength <= 99999,
              "an index and a count of folders fit their fields of an existed line");
constexpr uint64_t kMaxJournalChars =
    4 * 32768 + uint64_t{kFileListMaxBytes} +
    uint64_t{kFileListMaxNames} * (3 * 34 + 1 + 16 * 9 + kExistedLineChars) +
    kPatchAttempts * 4 * 9;
constexpr DWORD kMaxJournalBytes = static_cast<DWORD>(kMaxJournalChars * sizeof(wchar_t));
static_assert(kMaxJournalChars * sizeof(wchar_t) < 0xFFFFFFFFu, "a journal's size fits a DWORD");
// What a restore writes as the result of the run it put back.
constexpr HRESULT kRestored = E_ABORT;

JournalHook g_hook = nullptr;
// Records written by this process, across journals (a restore's, then the run's own).
unsigned g_recordsWritten = 0;

void LogJournalFailure(const char* what, const SharedWString& path, HRESULT result) {
  QUORVEL_LOG_FAILED_RESULT(result, "Could not %s the run journal <%ls>", what, path.Chars());
}

SharedWString RealFolder(const SharedWString& directory) {
  return ResolvedPath(FolderPath(directory).FullPath());
}

uint64_t FolderIndex(const SharedWString& directory) {
  return FileIndexOf(FolderPath(directory).FullPath());
}

SharedWString InFolder(const SharedWString& folder, const wchar_t* name) {
  SharedWString path(folder);
  KeepRoot(path);  // a drive's root, not its current folder
  JoinPath(path, name);
  NormalizePath(path);
  return path;
}

void RefuseJournalLink(const SharedWString& path, const char* what, const SharedWString& at) {
  RunLog::Write("Refusing to patch: the run journal's name <%ls> is %s <%ls>\n", path.Chars(), what,
                at.Chars());
}

// Opens path as itself: a link there (symbolic, a junction or a second name of another file), or
// a handle that the file system finds anywhere but at real, is refused with kJournalIsLink (and
// closed), so that nothing is read or written through it.
HRESULT OpenAsItself(const SharedWString& path, const SharedWString& real, DWORD access,
                     DWORD disposition, DWORD flags, ScopedFileHandle& file) {
  FileItself found = FileItself::kLink;
  SharedWString final;
  DWORD error = ERROR_SUCCESS;
  if (!OpenFileItself(path, real, access, FILE_SHARE_READ, disposition, flags, file, found, final,
                      error)) {
    return FailureResult(error);
  }
  if (found == FileItself::kItself) {
    return S_OK;
  }
  RefuseJournalLink(path,
                    found == FileItself::kOtherNames ? "a second name of a file with other names at"
                                                     : "a link to",
                    final);
  return kJournalIsLink;
}

HRESULT WriteAll(HANDLE file, const SharedWString& text) {
  const DWORD bytes = text.Length() * sizeof(wchar_t);
  DWORD written = 0;
  if (!WriteFile(file, text.Chars(), bytes, &written, nullptr)) {
    return FailureResult(GetLastError(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  }
  // A short write succeeds with a stale last error: only a full disk does that.
  return written == bytes ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

// Reads the journal at path. S_FALSE when there is none; kJournalDamaged when it is not a whole
// journal; the error of the open or the read otherwise. Logged.
HRESULT ReadJournal(const SharedWString& path, const SharedWString& real, JournalContent& content) {
  content = JournalContent();
  ScopedFileHandle file;
  HRESULT result = OpenAsItself(path, real, GENERIC_READ, OPEN_EXISTING, 0, file);
  if (IsNotFound(result)) {
    return S_FALSE;
  }
  LARGE_INTEGER size = {};
  if (SUCCEEDED(result) && !GetFileSizeEx(file.Get(), &size)) {
    result = FailureResult(GetLastError());
  }
  if (FAILED(result)) {
    if (result != kJournalIsLink) {
      LogJournalFailure("open", path, result);
    }
    return result;
  }
  // An odd last byte is a record whose write a full disk cut short; its line end is missing
  // too, so the parse drops it.
  if (size.QuadPart < 2 || size.QuadPart > kMaxJournalBytes) {
    RunLog::Write(
        "The run journal <%ls> is damaged: it has %u bytes\n", path.Chars(),
        static_cast<unsigned>(size.QuadPart > kMaxJournalBytes ? kMaxJournalBytes : size.QuadPart));
    return kJournalDamaged;
  }
  const DWORD bytes = static_cast<DWORD>(size.QuadPart) & ~1u;
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[bytes / 2]);
  DWORD read = 0;
  if (!text) {
    LogJournalFailure("read", path, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  const BOOL readAll = ReadFile(file.Get(), text.get(), bytes, &read, nullptr);
  if (!readAll || read != bytes) {
    // A read that succeeds short sets no last error: the file shrank since its size was taken.
    result = readAll ? kJournalDamaged : FailureResult(GetLastError(), kJournalDamaged);
    LogJournalFailure("read", path, result);
    return result;
  }
  if (text[0] != kByteOrderMark || !ParseJournal(text.get() + 1, bytes / 2 - 1, content)) {
    RunLog::Write("The run journal <%ls> is damaged or not a journal of this program\n",
                  path.Chars());
    content = JournalContent();
    return kJournalDamaged;
  }
  DWORD whole = bytes / 2;
  while (whole > 1 && text[whole - 1] != L'\n') {
    --whole;
  }
  content.wholeBytes = whole * sizeof(wchar_t);
  return S_OK;
}

// The name of a damaged journal kept aside in the folder; empty when there is none.
SharedWString DamagedJournalIn(const SharedWString& folder) {
  SharedWString pattern = InFolder(folder, kJournalDamagedName);
  pattern.Append(L"*", 1);
  WIN32_FIND_DATAW found = {};
  const HANDLE search = FindFirstFileW(pattern.Chars(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return SharedWString();
  }
  FindClose(search);
  return SharedWString(found.cFileName);
}

// Whether this run cannot lose a file whatever state the folders are in: every listed name
// brings its new file and finds no backup to replace.
bool CannotLoseAFile(const PatchRun& run, SharedWString& risk) {
  for (const SharedWString& name : run.files) {
    FilePath source = PathIn(run.patchDirectory, name);
    FilePath backup = PathIn(run.backupDirectory, name);
    bool exists = true;
    if (!source.Exists() || source.IsDirectory() || FAILED(backup.Query(exists)) || exists) {
      risk = name;
      return false;
    }
  }
  return true;
}

// Whether this run is the last successful one again: its folders are that run's, every name it
// lists was applied by that run, and the patch folder holds nothing for any of them.
bool IsRepeat(const RunPlan& plan, const JournalContent& last) {
  const PlanFolder& application = plan.Folder(FolderRole::kApplication);
  if (!last.finished || FAILED(last.result) ||
      !IsRunJournalFolder(plan.Folder(FolderRole::kPatch), application, last.applicationDirectory,
                          last.patchDirectory, last.patchIndex) ||
      !IsRunJournalFolder(application, application, last.applicationDirectory,
                          last.applicationDirectory, last.applicationIndex) ||
      !IsRunJournalFolder(plan.Folder(FolderRole::kBackup), application, last.applicationDirectory,
                          last.backupDirectory, last.backupIndex)) {
    return false;
  }
  std::map<SharedWString, const JournalFile*, NameLess> applied;
  for (const JournalFile& file : last.files) {
    applied[file.name] = &file;
  }
  for (const PlannedName& planned : plan.Names()) {
    const SharedWString& name = planned.name;
    const auto found = applied.find(name);
    FilePath source = PathIn(plan.Folder(FolderRole::kPatch).given, name);
    // What the checks' listing saw in the patch folder, or else what the disk says.
    const CheckedFile& listed = planned.FoundIn(FolderRole::kPatch);
    bool exists = listed.known && listed.identity.present;
    if (found == applied.end() || found->second->lastStep != JournalStep::kApplied ||
        (!listed.known && FAILED(source.Query(exists)))) {
      return false;
    }
    // A new file copied into place because another program kept it from moving may stay in the
    // patch folder: still the file that run recorded, with the game holding its copy byte for
    // byte, it was applied. Any other file there is a new patch, whatever its size and time.
    const FileIdentity recorded = found->second->source;
    FilePath target = PathIn(plan.Folder(FolderRole::kApplication).given, name);
    if (exists && (!recorded.present || !(IdentityOf(source) == recorded) ||
                   !(IdentityOf(target) == recorded) ||
                   !SameContents(source.FullPath(), target.FullPath()))) {
      return false;
    }
  }
  return true;
}

// How many folders on the way from directory to name, from the top, stand there now; known keeps
// what was found of each folder, by its key (NameKey), so that each is asked once.
uint32_t FoldersThere(const SharedWString& directory, const SharedWString& name,
                      std::unordered_map<NameKey, bool, NameKey::Hash>& known) {
  const NameKey key(name);
  uint32_t count = 0;
  bool there = true;
  ForEachFolderEnd(key, [&](uint32_t end) {
    if (there) {
      const auto found = known.emplace(key.Prefix(end), false);
      if (found.second) {
        FilePath folder = PathIn(directory, name.Mid(0, end - 1));
        found.first->second = folder.Exists() && folder.IsDirectory();
      }
      there = found.first->second;
      count += there ? 1 : 0;
    }
  });
  return count;
}

SharedWString NewToken() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const DWORD mixed = now.dwLowDateTime ^ (GetCurrentProcessId() * 2654435761u) ^
                      static_cast<DWORD>(GetTickCount64() << 7);
  return Formatted(L"%08x", static_cast<unsigned>(mixed));
}

}  // namespace

bool IsJournalFolder(const PlanFolder& folder, const SharedWString& journaled, uint64_t index) {
  if (CompareNames(folder.real, journaled) == 0) {
    return true;
  }
  // Reached through another drive letter, the folder the journal names is still where it was:
  // a folder moved since is not the journal's. A number names a folder only within its volume
  // (every NTFS root has the same): the folder at the journal's path must be the one held.
  if (folder.identity == 0 || folder.identity != index) {
    return false;
  }
  return folder.handle.IsValid() ? HoldsFolderAt(folder, journaled)
                                 : FolderIndex(journaled) == index;
}

bool IsRunJournalFolder(const PlanFolder& folder, const PlanFolder& application,
                        const SharedWString& journaledApplication, const SharedWString& journaled,
                        uint64_t index) {
  if (IsJournalFolder(folder, journaled, index)) {
    return true;
  }
  // The drive both stand below, then and now: the application folders without the names their
  // paths end in alike.
  SharedWString then(journaledApplication), now(application.real);
  NormalizePath(then);
  NormalizePath(now);
  for (;;) {
    SharedWString thenName(then), nowName(now);
    FileNamePart(thenName);
    FileNamePart(nowName);
    if (thenName.IsEmpty() || thenName.Length() == then.Length() ||
        nowName.Length() == now.Length() || CompareNames(thenName, nowName) != 0) {
      break;
    }
    then = then.Mid(0, then.Length() - thenName.Length() - 1);
    now = now.Mid(0, now.Length() - nowName.Length() - 1);
    NormalizePath(then);
    NormalizePath(now);
  }
  // Only a drive that is gone since: a folder moved or renamed is not the journal's, and a drive
  // that still leads somewhere leads to the journal's own folders.
  const bool driveGone =
      then.Length() == 2 && then.Chars()[1] == L':' && FolderIndex(journaledApplication) == 0;
  SharedWString path(journaled);
  NormalizePath(path);
  if (!driveGone || !StartsWithName(path, then) ||
      (path.Length() > then.Length() && path.Chars()[then.Length()] != L'\\')) {
    return false;
  }
  now.Append(path.Chars() + then.Length());
  return CompareNames(now, folder.real) == 0;
}

JournalHook SetJournalHook(JournalHook hook) {
  const JournalHook previous = g_hook;
  g_hook = hook;
  return previous;
}

HRESULT RunJournal::Start(const PatchRun& run, RunPlan& plan, RunRefusal& refusal) {
  const SharedWString& folder = plan.Folder(FolderRole::kApplication).full;
  const SharedWString& realFolder = plan.Folder(FolderRole::kApplication).real;
  path_ = InFolder(folder, kJournalName);
  real_ = InFolder(realFolder, kJournalName);
  draft_ = InFolder(folder, kJournalDraftName);
  realDraft_ = InFolder(realFolder, kJournalDraftName);
  refusal = RunRefusal();
  refusal.subject = path_;

  JournalContent last;
  HRESULT hr = ReadJournal(path_, real_, last);
  FilePath journalPath(path_);
  bool exists = false;
  const bool folderInTheWay = hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) &&
                              journalPath.Exists() && journalPath.IsDirectory();
  if (hr == kJournalDamaged || folderInTheWay) {
    // Kept, never deleted: it may be all that tells how a run cut short left the files.
    const HRESULT refused = hr;
    for (int number = 1; number < 100; ++number) {
      SharedWString aside = InFolder(folder, kJournalDamagedName);
      if (number > 1) {
        AppendFormat(aside, L"-%d", number);
      }
      if (MoveFileW(path_.Chars(), aside.Chars())) {
        RunLog::Write("Refusing to patch: the damaged run journal is kept as <%ls>\n",
                      aside.Chars());
        return refusal.result = refused;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
        break;
      }
    }
    hr = FailureResult(GetLastError());
    LogJournalFailure("keep aside the damaged", path_, hr);
    return refusal.result = hr;
  }
  if (FAILED(hr)) {
    return refusal.result = hr;
  }
  if (hr == S_OK && SUCCEEDED(journalPath.Query(exists)) &&
      (journalPath.Attributes().dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // Not every file system refuses to replace it; every run refuses here alike.
    hr = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    LogJournalFailure("write", path_, hr);
    return refusal.result = hr;
  }

  SharedWString damaged;
  if (hr == S_FALSE) {
    damaged = DamagedJournalIn(folder);
  } else {
    if (!last.finished) {
      run.Progress().Restoring();
      if (FAILED(hr = CheckAgreement(last, run, plan, refusal))) {
        return refusal.result = hr;
      }
      if (FAILED(hr = ClaimBackup(plan, refusal))) {
        return refusal.result = hr;
      }
      if (FAILED(hr = Restore(last, refusal, run.Progress()))) {
        return refusal.result = hr;
      }
      last.finished = true;
      last.result = kRestored;
    } else if (IsRepeat(plan, last)) {
      return S_FALSE;
    }
    if (!last.damaged.IsEmpty() && FAILED(last.result)) {
      damaged = last.damaged;
    }
  }
  SharedWString risk;
  if (!damaged.IsEmpty() && !CannotLoseAFile(run, risk)) {
    RunLog::Write(
        "Refusing to patch \"%ls\": the run journal was damaged (kept as %ls) and no run "
        "has succeeded since, so only a run that brings every file and replaces no "
        "backup may go on\n",
        risk.Chars(), damaged.Chars());
    refusal.name = risk;
    return refusal.result = kJournalDamaged;
  }
  if (!backupLock_.IsValid() && FAILED(hr = ClaimBackup(plan, refusal))) {
    return refusal.result = hr;
  }
  // A restore has moved files since the checks looked, and while the run waited for the backup
  // folder the game may have changed its own.
  if (FAILED(hr = Begin(plan, damaged, last.result != kRestored && !waitedForBackup_))) {
    if (last.result != kRestored) {
      Unclaim();
    }
    return refusal.result = hr;
  }
  return S_OK;
}

HRESULT RunJournal::ClaimBackup(RunPlan& plan, RunRefusal& refusal) {
  PlanFolder& backup = plan.Folder(FolderRole::kBackup);
  const PlanFolder& application = plan.Folder(FolderRole::kApplication);
  // Made now, and held from now on, so that the journal records its index and the lock has its
  // place.
  FilePath backupFolder(backup.given);
  madeBackup_ = &backup;
  madeBackupFolders_.clear();
  if (!backup.handle.IsValid()) {
    // The folders made for it, deepest first, so that a run that changes nothing after all
    // takes each away again.
    for (SharedWString folder = backup.full; !folder.IsEmpty();) {
      FilePath path(folder);
      bool exists = true;
      if (FAILED(path.Query(exists)) || exists) {
        break;
      }
      madeBackupFolders_.push_back(folder);
      SharedWString parent = DirectoryPart(folder);
      NormalizePath(parent);
      folder = parent.Length() < folder.Length() ? parent : SharedWString();
    }
    backupFolder.CreateDirectories();
    HoldPlanFolder(backup);
  }
  const SharedWString lock = InFolder(backup.full, kBackupLockName);
  const SharedWString real = InFolder(backup.real, kBackupLockName);
  HRESULT hr = S_OK;
  for (bool told = false;; told = true) {
    hr = OpenAsItself(lock, real, GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_ALWAYS, 0,
                      backupLock_);
    if (hr != HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) {
      break;
    }
    if (!told) {
      waitedForBackup_ = true;
      RunLog::Write("Waiting for the run that uses the backup folder <%ls> to end\n",
                    backup.given.Chars());
    }
    Sleep(200);
  }
  if (FAILED(hr)) {
    // A folder that takes no file takes no backup either: the run fails there as before.
    return hr == kJournalIsLink ? hr : S_OK;
  }
  wchar_t text[2048] = {};
  DWORD read = 0;
  ReadFile(backupLock_.Get(), text, sizeof(text) - sizeof(wchar_t), &read, nullptr);
  previousClaim_ = text;
  wchar_t* tab = wcschr(text, L'\t');
  wchar_t* end = tab != nullptr ? wcschr(tab, L'\n') : nullptr;
  if (end != nullptr) {
    *end = L'\0';
    const SharedWString game(tab + 1);
    const uint64_t index = wcstoull(text, nullptr, 16);
    JournalContent other;
    if (!IsJournalFolder(application, game, index)) {
      const SharedWString journal = InFolder(FolderPath(game).FullPath(), kJournalName);
      hr = ReadJournal(journal, InFolder(RealFolder(game), kJournalName), other);
      // A journal that cannot be read may still be all that tells of such a run.
      if (FAILED(hr) || (hr == S_OK && !other.finished &&
                         IsJournalFolder(backup, other.backupDirectory, other.backupIndex))) {
        RunLog::Write(
            "Refusing to patch: the backup folder <%ls> holds files that a run cut short on the "
            "application folder <%ls> still needs; run its command to finish it\n",
            backup.given.Chars(), game.Chars());
        backupLock_.Reset();
        refusal.subject = backup.given;
        return kJournalDisagrees;
      }
    }
  }
  const SharedWString claim =
      Formatted(L"%llx\t%ls\n", static_cast<unsigned long long>(application.identity),
                application.real.Chars());
  LARGE_INTEGER start = {};
  hr = SetFilePointerEx(backupLock_.Get(), start, nullptr, FILE_BEGIN) &&
               SetEndOfFile(backupLock_.Get())
           ? WriteAll(backupLock_.Get(), claim)
           : FailureResult(GetLastError());
  if (SUCCEEDED(hr) && !FlushFileBuffers(backupLock_.Get())) {
    hr = FailureResult(GetLastError());
  }
  if (FAILED(hr)) {
    QUORVEL_LOG_FAILED_RESULT(hr, "Could not write <%ls>", lock.Chars());
    backupLock_.Reset();
  }
  return hr;
}

void RunJournal::Unclaim() {
  if (backupLock_.IsValid()) {
    LARGE_INTEGER start = {};
    FILE_DISPOSITION_INFO remove = {TRUE};
    if (previousClaim_.IsEmpty()) {
      SetFileInformationByHandle(backupLock_.Get(), FileDispositionInfo, &remove, sizeof(remove));
    } else if (SetFilePointerEx(backupLock_.Get(), start, nullptr, FILE_BEGIN) &&
               SetEndOfFile(backupLock_.Get())) {
      WriteAll(backupLock_.Get(), previousClaim_);
    }
    backupLock_.Reset();
  }
  if (!madeBackupFolders_.empty()) {
    madeBackup_->handle.Reset();  // held since it was made
  }
  for (const SharedWString& folder : madeBackupFolders_) {
    if (!RemoveDirectoryW(LongPathForm(folder).Chars())) {
      break;
    }
  }
  madeBackupFolders_.clear();
}

namespace {

// Whether folder holds nothing but the backup folder's lock.
bool HoldsOnlyTheLock(const SharedWString& folder) {
  WIN32_FIND_DATAW found = {};
  const HANDLE search = FindFirstFileW(LongPathForm(InFolder(folder, L"*")).Chars(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool only = true;
  do {
    only = std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0 ||
           CompareNames(SharedWString(found.cFileName), SharedWString(kBackupLockName)) == 0;
  } while (only && FindNextFileW(search, &found));
  FindClose(search);
  return only;
}

}  // namespace

void RunJournal::RemoveMadeBackup() {
  // Unclaim takes away the lock and the folders made for the backup folder, deepest first.
  if (!madeBackupFolders_.empty() && HoldsOnlyTheLock(madeBackupFolders_.front())) {
    Unclaim();
  }
}

HRESULT RunJournal::Begin(const RunPlan& plan, const SharedWString& damaged, bool asChecked) {
  const PlanFolder& patch = plan.Folder(FolderRole::kPatch);
  const PlanFolder& application = plan.Folder(FolderRole::kApplication);
  const PlanFolder& backup = plan.Folder(FolderRole::kBackup);
  partialSuffix_ = L".~qv";
  const SharedWString token = NewToken();
  partialSuffix_.Append(token);
  SharedWString text;
  text.Append(kByteOrderMark);
  AppendFormat(text, L"%ls\ntoken\t%ls\npatch\t%ls\napplication\t%ls\nbackup\t%ls\n",
               kJournalFirstLine, token.Chars(), patch.real.Chars(), application.real.Chars(),
               backup.real.Chars());
  AppendFormat(text, L"identities\t%llx\t%llx\t%llx\n",
               static_cast<unsigned long long>(patch.identity),
               static_cast<unsigned long long>(application.identity),
               static_cast<unsigned long long>(backup.identity));
  if (!damaged.IsEmpty()) {
    AppendFormat(text, L"damaged\t%ls\n", damaged.Chars());
  }
  const std::vector<PlannedName>& names = plan.Names();
  AppendFormat(text, L"files\t%u\n", static_cast<unsigned>(names.size()));
  // Past a few thousand characters a string grows by a fixed step: name by name, a list of long
  // names would copy the whole text again for each.
  uint64_t room = 16;
  for (const PlannedName& planned : names) {
    room += planned.name.Length() + 3 * 34 + 2 + kExistedLineChars;
  }
  text.ReserveExtra(static_cast<uint32_t>(room < kMaxJournalChars ? room : kMaxJournalChars));
  plan_ = &plan;
  // What the checks just read from the folder listings is taken as it stands; a path they could
  // not tell about is asked for.
  const PlanFolder* folders[3] = {&application, &backup, &patch};
  for (const PlannedName& planned : names) {
    for (const PlanFolder* folder : folders) {
      const CheckedFile& file = planned.FoundIn(folder->role);
      if (asChecked && file.known) {
        AppendIdentity(text, file.identity);
      } else {
        FilePath path = PathIn(folder->given, planned.name);
        AppendIdentity(text, IdentityOf(path));
      }
      text.Append(L'\t');
    }
    text.Append(planned.name);
    text.Append(L'\n');
  }
  // A restore removes the folders that the run leaves empty, but never these.
  std::unordered_map<NameKey, bool, NameKey::Hash> inGame, inBackup;
  for (const PlannedName& planned : names) {
    const uint32_t game = asChecked ? planned.FoldersThereIn(FolderRole::kApplication)
                                    : FoldersThere(application.given, planned.name, inGame);
    const uint32_t inBackupFolder = asChecked ? planned.FoldersThereIn(FolderRole::kBackup)
                                              : FoldersThere(backup.given, planned.name, inBackup);
    if (game != 0 || inBackupFolder != 0) {
      AppendFormat(text, L"existed\t%u\t%u\t%u\n", static_cast<unsigned>(planned.index),
                   static_cast<unsigned>(game), static_cast<unsigned>(inBackupFolder));
    }
  }
  text.Append(L"begun\n", 6);

  ScopedFileHandle draft;
  HRESULT result = OpenAsItself(draft_, realDraft_, GENERIC_WRITE | DELETE, CREATE_NEW, 0, draft);
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) {
    // A draft left by a run cut short while it wrote it: only a plain file of ours goes.
    FILE_DISPOSITION_INFO remove = {TRUE};
    result = OpenAsItself(draft_, realDraft_, DELETE, OPEN_EXISTING, 0, draft);
    if (SUCCEEDED(result) &&
        !SetFileInformationByHandle(draft.Get(), FileDispositionInfo, &remove, sizeof(remove))) {
      result = FailureResult(GetLastError());
    }
    draft.Reset();
    if (SUCCEEDED(result)) {
      result = OpenAsItself(draft_, realDraft_, GENERIC_WRITE | DELETE, CREATE_NEW, 0, draft);
    }
  }
  // A link to a folder at the draft's name fails the creation as the folder would; the name is
  // refused as a link all the same.
  const DWORD standing = FAILED(result) ? GetFileAttributesW(draft_.Chars()) : 0;
  if (result != kJournalIsLink && standing != INVALID_FILE_ATTRIBUTES &&
      (standing & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const ScopedFileHandle folder(CreateFileW(draft_.Chars(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                              nullptr));
    SharedWString final;
    DWORD error = ERROR_SUCCESS;
    FinalPathOfHandle(folder.Get(), final, error);
    RefuseJournalLink(draft_, "a link to", final);
    result = kJournalIsLink;
  }
  if (result == kJournalIsLink) {
    return result;
  }
  if (SUCCEEDED(result)) {
    // The draft counts as the first record: a run cut short there has changed nothing.
    const DWORD injected = g_hook != nullptr ? g_hook(++g_recordsWritten) : 0;
    const HRESULT failed = injected != 0 ? HRESULT_FROM_WIN32(injected) : S_OK;
    result = FAILED(failed) ? failed : WriteAll(draft.Get(), text);
  }
  if (SUCCEEDED(result) && !FlushFileBuffers(draft.Get())) {
    result = FailureResult(GetLastError());
  }
  const bool created = draft.IsValid();
  draft.Reset();
  if (SUCCEEDED(result) && !MoveFileExW(draft_.Chars(), path_.Chars(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    result = FailureResult(GetLastError());
  }
  if (SUCCEEDED(result)) {
    result = OpenForRecords();
  }
  if (FAILED(result)) {
    LogJournalFailure("write", path_, result);
    if (created) {
      DeleteFileW(draft_.Chars());
    }
  }
  return result;
}

HRESULT RunJournal::OpenForRecords(DWORD wholeBytes) {
  // Each record goes to the disk before its step: a run cut short by a power loss still leaves
  // the step it was in.
  HRESULT result = OpenAsItself(path_, real_, wholeBytes != 0 ? GENERIC_WRITE : FILE_APPEND_DATA,
                                OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, file_);
  if (SUCCEEDED(result) && wholeBytes != 0) {
    LARGE_INTEGER at = {};
    at.QuadPart = wholeBytes;
    if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get())) {
      result = FailureResult(GetLastError());
      file_.Reset();
    }
  }
  return result;
}

size_t RunJournal::IndexOf(const SharedWString& name) const {
  const PlannedName* planned = plan_ != nullptr ? plan_->Find(name) : nullptr;
  return planned != nullptr ? planned->index : (plan_ != nullptr ? plan_->Names().size() : 0);
}

HRESULT RunJournal::Append(const SharedWString& text) {
  if (FAILED(writeFailure_)) {
    return writeFailure_;
  }
  if (!file_.IsValid()) {
    return writeFailure_ = E_HANDLE;
  }
  const DWORD injected = g_hook != nullptr ? g_hook(++g_recordsWritten) : 0;
  const HRESULT result = injected != 0 ? HRESULT_FROM_WIN32(injected) : WriteAll(file_.Get(), text);
  if (FAILED(result)) {
    // No step follows a record that is not on the disk, so nothing more is written: a later
    // record after a torn one would make the journal unreadable.
    writeFailure_ = result;
    LogJournalFailure("write", path_, result);
  }
  return result;
}

HRESULT RunJournal::Record(size_t index, JournalStep step) {
  return Append(Formatted(L"%u\t%lc\n", static_cast<unsigned>(index), static_cast<wchar_t>(step)));
}

HRESULT RunJournal::Finish(HRESULT result) {
  HRESULT written = Append(Formatted(L"finished\t0x%08x\n", static_cast<unsigned>(result)));
  if (SUCCEEDED(written) && !FlushFileBuffers(file_.Get())) {
    written = writeFailure_ = FailureResult(GetLastError());
    LogJournalFailure("write", path_, written);
  }
  file_.Reset();
  return written;
}

HRESULT JournalingObserver::OnStep(const FileStep& step, const SharedWString& from,
                                   const SharedWString& to) {
  const HRESULT hr = journal_ != nullptr ? journal_->Record(index_, step.Record()) : S_OK;
  return FAILED(hr) || next_ == nullptr ? hr : next_->OnStep(step, from, to);
}

void JournalingObserver::OnKeepingBackup(const SharedWString& backup) {
  if (next_ != nullptr) {
    next_->OnKeepingBackup(backup);
  }
}

void JournalingObserver::OnRestored(const SharedWString& backup, const SharedWString& target,
                                    HRESULT result) {
  restoreFailed_ = FAILED(result);
  if (next_ != nullptr) {
    next_->OnRestored(backup, target, result);
  }
}

SharedWString JournalingObserver::PartialSuffix() const {
  return journal_ != nullptr && !journal_->PartialSuffix().IsEmpty()
             ? journal_->PartialSuffix()
             : PatchFileObserver::PartialSuffix();
}

}  // namespace quorvel
