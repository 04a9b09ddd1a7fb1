// Applies a patch as a run does and ends its own process, as a power loss or a killed host
// would, just before the journal record with the given number (0: never); with <record>@<path>,
// from that record on, as soon as a file whose path begins with <path> is partly written (more
// than nothing, less than kLargeFileBytes): a copy cut short part-way.
//   cut_short_run <record>[@<path>] <patch folder> <application folder> <backup folder> <name>...
// Exit code kCutShortExitCode when cut short, otherwise 0 for an applied patch and 1 for a failed
// one, whose result it prints. Retries do not pause.
#include "cut_short_run.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "foundation/run_log.h"
#include "patch/apply/patch_files.h"
#include "patch/journal/run_journal.h"
#include "patch/run/patch_run.h"

namespace {

unsigned g_cutAt = 0;
const wchar_t* g_watched = nullptr;

DWORD WINAPI CutPartWay(void*) {
  std::wstring pattern(g_watched);
  pattern += L'*';
  for (;;) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      if (found.nFileSizeHigh == 0 && found.nFileSizeLow > 0 &&
          found.nFileSizeLow < kLargeFileBytes) {
        TerminateProcess(GetCurrentProcess(), kCutShortExitCode);
      }
    }
    FindClose(search);
  }
}

DWORD CutShort(unsigned recordNumber) {
  if (recordNumber == g_cutAt && g_watched != nullptr) {
    CloseHandle(CreateThread(nullptr, 0, CutPartWay, nullptr, 0, nullptr));
  } else if (recordNumber == g_cutAt) {
    TerminateProcess(GetCurrentProcess(), kCutShortExitCode);
  }
  return ERROR_SUCCESS;
}

void NoPause(DWORD) {}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    return 2;
  }
  wchar_t* end = nullptr;
  g_cutAt = static_cast<unsigned>(wcstoul(argv[1], &end, 10));
  g_watched = *end == L'@' ? end + 1 : nullptr;
  if (const wchar_t* log = _wgetenv(L"QUORVEL_TOOL_LOG")) {
    quorvel::RunLog::SetPath(L"%ls", log);
  }
  quorvel::SetJournalHook(CutShort);
  quorvel::SetRetryPause(NoPause);
  quorvel::PatchRun run;
  run.patchDirectory = argv[2];
  run.applicationDirectory = argv[3];
  run.backupDirectory = argv[4];
  for (int i = 5; i < argc; ++i) {
    run.files.push_back(quorvel::SharedWString(argv[i]));
  }
  const HRESULT result = quorvel::PatchFiles(run);
  wprintf(L"0x%08x\n", static_cast<unsigned>(result));
  return SUCCEEDED(result) ? 0 : 1;
}
