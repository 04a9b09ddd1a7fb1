#include "patch/run_journal.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

#include "files/file_path.h"
#include "foundation/format.h"
#include "foundation/run_log.h"

namespace quorvel {
namespace {

constexpr wchar_t kFirstLine[] = L"Quorvel run journal 1";
constexpr wchar_t kByteOrderMark = 0xFEFF;
// A journal of the longest list a command line can carry is far smaller.
constexpr DWORD kMaxJournalBytes = 64u * 1024u * 1024u;

JournalHook g_hook = nullptr;
// Records written by this process, across journals (a restore's, then the run's own).
unsigned g_recordsWritten = 0;

HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

void LogJournalFailure(const char* what, const SharedWString& path, HRESULT result) {
  const DWORD code = static_cast<DWORD>(result) & 0xFFFF;
  RunLog::Write("Could not %s the run journal <%ls>, HResult 0x%08x, error %d %ls\n", what,
                path.Chars(), static_cast<unsigned>(result), static_cast<int>(code),
                SystemErrorText(code).Chars());
}

SharedWString FolderFullPath(const SharedWString& directory) {
  return FolderPath(directory).FullPath();
}

SharedWString JournalPath(const SharedWString& backupDirectory, const wchar_t* name) {
  return PathIn(backupDirectory, name).FullPath();
}

HRESULT WriteAll(HANDLE file, const SharedWString& text) {
  const DWORD bytes = text.Length() * sizeof(wchar_t);
  DWORD written = 0;
  if (!WriteFile(file, text.Chars(), bytes, &written, nullptr) || written != bytes) {
    return LastErrorResult();
  }
  return S_OK;
}

bool Exists(const SharedWString& directory, const SharedWString& name) {
  FilePath path = PathIn(directory, name);
  return path.Exists();
}

// The journal's text as lines; a last piece without its line end is dropped, since a record is
// written before its step and the step of a record cut short never began.
class LineReader {
 public:
  LineReader(const wchar_t* text, size_t length) : at_(text), end_(text + length) {}
  bool Next(SharedWString& line) {
    const wchar_t* stop = at_;
    while (stop < end_ && *stop != L'\n') {
      ++stop;
    }
    if (stop == end_) {
      return false;
    }
    line.PrepareBuffer(static_cast<uint32_t>(stop - at_));
    for (const wchar_t* c = at_; c < stop; ++c) {
      line.Buffer()[c - at_] = *c;
    }
    line.SetLength(static_cast<uint32_t>(stop - at_));
    at_ = stop + 1;
    return true;
  }

 private:
  const wchar_t* at_;
  const wchar_t* end_;
};

// The text after "key\t"; false when the line is not that.
bool Field(const SharedWString& line, const wchar_t* key, SharedWString& value) {
  const size_t length = wcslen(key);
  if (line.Length() <= length + 1 || wcsncmp(line.Chars(), key, length) != 0 ||
      line.Chars()[length] != L'\t') {
    return false;
  }
  value = line.Chars() + length + 1;
  return true;
}

bool Number(const SharedWString& text, int base, unsigned long& value) {
  if (text.IsEmpty() || !iswxdigit(text.Chars()[0])) {
    return false;
  }
  wchar_t* end = nullptr;
  value = wcstoul(text.Chars(), &end, base);
  return end != nullptr && *end == L'\0';
}

bool IsStep(wchar_t c) { return c != L'-' && wcschr(L"bdcanor", c) != nullptr && c != L'\0'; }

bool Parse(const wchar_t* text, size_t length, JournalContent& content) {
  LineReader reader(text, length);
  SharedWString line;
  unsigned long count = 0;
  if (!reader.Next(line) || !line.Equals(SharedWString(kFirstLine)) || !reader.Next(line) ||
      !Field(line, L"patch", content.patchDirectory) || !reader.Next(line) ||
      !Field(line, L"application", content.applicationDirectory) || !reader.Next(line) ||
      !Field(line, L"backup", content.backupDirectory) || !reader.Next(line)) {
    return false;
  }
  SharedWString value;
  if (!Field(line, L"files", value) || !Number(value, 10, count) || count > length) {
    return false;
  }
  content.files.resize(count);
  for (JournalFile& file : content.files) {
    if (!reader.Next(line) || line.Length() < 5 || line.Chars()[3] != L'\t') {
      return false;
    }
    for (int i = 0; i < 3; ++i) {
      if (line.Chars()[i] != L'0' && line.Chars()[i] != L'1') {
        return false;
      }
    }
    file.targetExisted = line.Chars()[0] == L'1';
    file.backupExisted = line.Chars()[1] == L'1';
    file.sourceExisted = line.Chars()[2] == L'1';
    file.name = line.Chars() + 4;
  }
  if (!reader.Next(line) || !line.Equals(SharedWString(L"begun"))) {
    return false;
  }
  while (reader.Next(line)) {
    if (content.finished) {
      return false;
    }
    unsigned long number = 0;
    if (Field(line, L"finished", value)) {
      if (value.Length() != 10 || wcsncmp(value.Chars(), L"0x", 2) != 0 ||
          !Number(SharedWString(value.Chars() + 2), 16, number)) {
        return false;
      }
      content.finished = true;
      content.result = static_cast<HRESULT>(number);
      continue;
    }
    const int32_t tab = line.Find(L'\t');
    if (tab <= 0 || static_cast<uint32_t>(tab) + 2 != line.Length() ||
        !IsStep(line.Chars()[tab + 1])) {
      return false;
    }
    if (!Number(line.Mid(0, static_cast<uint32_t>(tab) - 1), 10, number) || number >= count) {
      return false;
    }
    content.files[number].lastStep = static_cast<JournalStep>(line.Chars()[tab + 1]);
  }
  return true;
}

}  // namespace

JournalHook SetJournalHook(JournalHook hook) {
  const JournalHook previous = g_hook;
  g_hook = hook;
  return previous;
}

HRESULT ReadJournal(const SharedWString& backupDirectory, JournalContent& content) {
  content = JournalContent();
  const SharedWString path = JournalPath(backupDirectory, kJournalName);
  ScopedFileHandle file(CreateFileW(path.Chars(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const HRESULT result = LastErrorResult();
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
      return S_FALSE;
    }
    LogJournalFailure("open", path, result);
    return result;
  }
  const HRESULT corrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) {
    const HRESULT result = LastErrorResult();
    LogJournalFailure("read", path, result);
    return result;
  }
  if (size.QuadPart < 2 || size.QuadPart > kMaxJournalBytes || size.QuadPart % 2 != 0) {
    RunLog::Write("The run journal <%ls> is damaged: it has %u bytes\n", path.Chars(),
                  static_cast<unsigned>(size.QuadPart > kMaxJournalBytes ? kMaxJournalBytes
                                                                         : size.QuadPart));
    return corrupt;
  }
  const DWORD bytes = static_cast<DWORD>(size.QuadPart);
  std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[bytes / 2]);
  DWORD read = 0;
  if (!text) {
    LogJournalFailure("read", path, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  if (!ReadFile(file.Get(), text.get(), bytes, &read, nullptr) || read != bytes) {
    const HRESULT result = read != bytes && GetLastError() == 0 ? corrupt : LastErrorResult();
    LogJournalFailure("read", path, result);
    return result;
  }
  if (text[0] != kByteOrderMark || !Parse(text.get() + 1, bytes / 2 - 1, content)) {
    RunLog::Write("The run journal <%ls> is damaged or not a journal of this program\n",
                  path.Chars());
    content = JournalContent();
    return corrupt;
  }
  return S_OK;
}

HRESULT ClearJournal(const SharedWString& backupDirectory) {
  const SharedWString path = JournalPath(backupDirectory, kJournalName);
  if (!DeleteFileW(path.Chars())) {
    const HRESULT result = LastErrorResult();
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      return S_OK;
    }
    LogJournalFailure("delete", path, result);
    return result;
  }
  return S_OK;
}

bool RunJournal::IgnoringCase::operator()(const SharedWString& a, const SharedWString& b) const {
  return _wcsicmp(a.Chars(), b.Chars()) < 0;
}

HRESULT RunJournal::Begin(const PatchRun& run) {
  const SharedWString backupFolder = FolderFullPath(run.backupDirectory);
  const SharedWString draft = JournalPath(run.backupDirectory, kJournalDraftName);
  const SharedWString path = JournalPath(run.backupDirectory, kJournalName);
  FilePath folder(backupFolder);
  HRESULT result = folder.CreateDirectories();
  if (FAILED(result)) {
    LogJournalFailure("create the folder of", path, result);
    return result;
  }

  SharedWString text;
  text.Append(kByteOrderMark);
  AppendFormat(text, L"%ls\npatch\t%ls\napplication\t%ls\nbackup\t%ls\nfiles\t%u\n", kFirstLine,
               FolderFullPath(run.patchDirectory).Chars(),
               FolderFullPath(run.applicationDirectory).Chars(), backupFolder.Chars(),
               static_cast<unsigned>(run.files.size()));
  size_t index = 0;
  for (const SharedWString& name : run.files) {
    AppendFormat(text, L"%d%d%d\t%ls\n", Exists(run.applicationDirectory, name) ? 1 : 0,
                 Exists(run.backupDirectory, name) ? 1 : 0,
                 Exists(run.patchDirectory, name) ? 1 : 0, name.Chars());
    indexes_[name] = index++;
  }
  text.Append(L"begun\n", 6);

  {
    ScopedFileHandle file(CreateFileW(draft.Chars(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    result = file.IsValid() ? WriteAll(file.Get(), text) : LastErrorResult();
    if (SUCCEEDED(result) && !FlushFileBuffers(file.Get())) {
      result = LastErrorResult();
    }
  }
  if (SUCCEEDED(result) &&
      !MoveFileExW(draft.Chars(), path.Chars(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    result = LastErrorResult();
  }
  if (SUCCEEDED(result)) {
    // Each record goes to the disk before its step: a run cut short by a power loss still
    // leaves the step it was in.
    file_.Reset(CreateFileW(path.Chars(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file_.IsValid()) {
      result = LastErrorResult();
    }
  }
  if (FAILED(result)) {
    LogJournalFailure("write", path, result);
    DeleteFileW(draft.Chars());
  }
  return result;
}

HRESULT RunJournal::Reopen(const SharedWString& backupDirectory) {
  const SharedWString path = JournalPath(backupDirectory, kJournalName);
  file_.Reset(CreateFileW(path.Chars(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file_.IsValid()) {
    const HRESULT result = LastErrorResult();
    LogJournalFailure("write", path, result);
    return result;
  }
  return S_OK;
}

size_t RunJournal::IndexOf(const SharedWString& name) const {
  const auto found = indexes_.find(name);
  return found == indexes_.end() ? indexes_.size() : found->second;
}

HRESULT RunJournal::Write(const SharedWString& text) {
  if (g_hook != nullptr) {
    g_hook(++g_recordsWritten);
  }
  const HRESULT result = WriteAll(file_.Get(), text);
  if (FAILED(result) && !writeFailed_) {
    // Logged once: a full disk would otherwise add a line for every step.
    writeFailed_ = true;
    LogJournalFailure("write", SharedWString(kJournalName), result);
  }
  return result;
}

void RunJournal::Record(size_t index, JournalStep step) {
  if (file_.IsValid()) {
    Write(Formatted(L"%u\t%lc\n", static_cast<unsigned>(index), static_cast<wchar_t>(step)));
  }
}

HRESULT RunJournal::Finish(HRESULT result) {
  if (!file_.IsValid()) {
    return S_OK;
  }
  HRESULT written = Write(Formatted(L"finished\t0x%08x\n", static_cast<unsigned>(result)));
  if (SUCCEEDED(written) && !FlushFileBuffers(file_.Get())) {
    written = LastErrorResult();
    LogJournalFailure("write", SharedWString(kJournalName), written);
  }
  file_.Reset();
  return written;
}

void JournalingObserver::Record(JournalStep step) {
  if (journal_ != nullptr) {
    journal_->Record(index_, step);
  }
}

void JournalingObserver::OnBackingUp(const SharedWString& from, const SharedWString& to) {
  Record(reverting_ ? JournalStep::kRevertingNew : JournalStep::kBackingUp);
  if (next_ != nullptr) {
    next_->OnBackingUp(from, to);
  }
}

void JournalingObserver::OnRemovingTarget(const SharedWString& target) {
  if (!reverting_) {
    Record(JournalStep::kRemoving);
  }
  if (next_ != nullptr) {
    next_->OnRemovingTarget(target);
  }
}

void JournalingObserver::OnCopyingUp(const SharedWString& from, const SharedWString& to) {
  Record(reverting_ ? JournalStep::kRevertingOld : JournalStep::kCopyingUp);
  if (next_ != nullptr) {
    next_->OnCopyingUp(from, to);
  }
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

}  // namespace quorvel
