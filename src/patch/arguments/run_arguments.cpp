#include "patch/arguments/run_arguments.h"

#include <psapi.h>

#include <cwchar>

#include "foundation/format.h"
#include "foundation/run_log.h"
#include "foundation/scoped_handle.h"
#include "patch/arguments/file_list_file.h"
#include "patch/texts/studio_texts_file.h"

namespace quorvel {
namespace {

// The launcher's executable path, or the empty string when its process cannot be asked.
SharedWString LauncherExecutable(DWORD parentPid) {
  ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parentPid));
  if (!process.IsValid()) {
    return SharedWString();
  }
  wchar_t path[MAX_PATH + 1] = {};
  if (GetModuleFileNameExW(process.Get(), nullptr, path, MAX_PATH) == 0) {
    return SharedWString();
  }
  return SharedWString(path);
}

void AppendQuoted(SharedWString& text, const SharedWString& argument) {
  AppendFormat(text, L" \"%ls\"", argument.Chars());
}

}  // namespace

HRESULT ParseRunArguments(PatchRun& run, const wchar_t* commandLine) {
  ArgumentList arguments;
  if (!BuildArgumentList(commandLine, arguments)) {
    return E_INVALIDARG;
  }
  SharedWString argument;
  if (!PopFront(arguments, argument)) {
    RunLog::Write("No arguments on the command line\n");
    return E_INVALIDARG;
  }
  // The options come first, in any order, each once: a second one is the process id's place.
  bool text = false, texts = false, quiet = false;
  for (;;) {
    if (!text && argument.Equals(SharedWString(L"-text"))) {
      text = true;
      if (!PopFront(arguments, run.displayText)) {
        RunLog::Write("No display text given\n");
        return E_INVALIDARG;
      }
    } else if (!texts && argument.Equals(SharedWString(L"-texts"))) {
      texts = true;
      SharedWString path;
      if (!PopFront(arguments, path)) {
        RunLog::Write("No texts file given after -texts\n");
        return E_INVALIDARG;
      }
      if (FAILED(ReadStudioTexts(path, run.texts))) {
        return E_INVALIDARG;
      }
    } else if (!quiet && argument.Equals(SharedWString(L"-quiet"))) {
      quiet = run.quiet = true;
    } else {
      break;
    }
    if (!PopFront(arguments, argument)) {
      RunLog::Write("No parent PID given\n");
      return E_INVALIDARG;
    }
  }
  run.parentPid = std::wcstoul(argument.Chars(), nullptr, 0);
  if (run.parentPid == 0) {
    RunLog::Write("Parent PID cannot be zero\n");
    return E_INVALIDARG;
  }
  RunLog::Write("parent pid: %d\n", static_cast<int>(run.parentPid));

  if (!PopFront(arguments, run.patchDirectory)) {
    RunLog::Write("No patch directory specified\n");
    return E_INVALIDARG;
  }
  RunLog::Write("Patch Directory:       <%ls>\n", run.patchDirectory.Chars());
  if (!PopFront(arguments, run.applicationDirectory)) {
    RunLog::Write("No application directory specified\n");
    return E_INVALIDARG;
  }
  RunLog::Write("Application Directory: <%ls>\n", run.applicationDirectory.Chars());
  if (!PopFront(arguments, run.backupDirectory)) {
    RunLog::Write("No backup directory specified\n");
    return E_INVALIDARG;
  }
  RunLog::Write("Backup Directory:      <%ls>\n", run.backupDirectory.Chars());

  HRESULT result = ParseFileList(run, arguments);
  if (FAILED(result)) {
    return result;
  }
  result = BuildPostPatchCommand(run, arguments);
  if (FAILED(result)) {
    RunLog::Write("Failed to build post patch command\n");
    return result;
  }
  RunLog::Write("Post Patch Command: <%ls %ls>\n", run.postPatchCommand.Chars(),
                run.postPatchArguments.Chars());
  return S_OK;
}

HRESULT ParseFileList(PatchRun& run, ArgumentList& arguments) {
  run.files.clear();
  if (arguments.empty()) {
    RunLog::Write("No file count or file list given on the command line\n");
    return E_INVALIDARG;
  }
  const SharedWString countText = arguments.front();
  arguments.pop_front();
  // "@path" in the count's place names a file that holds the list, for patches whose names
  // would not fit on one command line; the post-patch command follows at once.
  if (countText.Chars()[0] == L'@') {
    const SharedWString listFile(countText.Chars() + 1);
    if (listFile.IsEmpty()) {
      RunLog::Write("No file list path given after the @\n");
      return E_INVALIDARG;
    }
    RunLog::Write("Reading the file list <%ls>\n", listFile.Chars());
    const HRESULT read = ReadFileList(listFile, run.files);
    if (FAILED(read)) {
      return read;
    }
    RunLog::Write("There are %d files to patch\n", static_cast<int>(run.files.size()));
    for (const SharedWString& name : run.files) {
      RunLog::Write("File: \"%ls\"\n", name.Chars());
    }
    return S_OK;
  }
  // Text that is no number counts 0 files: the argument after it is the post-patch command.
  const uint32_t count = std::wcstoul(countText.Chars(), nullptr, 0);
  RunLog::Write("There are %d files to patch\n", static_cast<int>(count));
  for (uint32_t i = 0; i < count; ++i) {
    if (arguments.empty()) {
      RunLog::Write("Only %d filenames were specified\n", static_cast<int>(i));
      return E_INVALIDARG;
    }
    SharedWString name;
    if (!PopFront(arguments, name)) {
      RunLog::Write("There was an empty filename in the command line\n");
      return E_INVALIDARG;
    }
    RunLog::Write("File: \"%ls\"\n", name.Chars());
    run.files.push_back(name);
  }
  return S_OK;
}

HRESULT BuildPostPatchCommand(PatchRun& run, ArgumentList& arguments) {
  if (!PopFront(arguments, run.postPatchCommand)) {
    // The full stop after the line end belongs to the message: the next log line opens with it.
    RunLog::Write("There is no post patch command\n.");
    return E_INVALIDARG;
  }
  run.postPatchArguments.Clear();
  // Any file or folder of that name counts as found.
  if (GetFileAttributesW(run.postPatchCommand.Chars()) == INVALID_FILE_ATTRIBUTES) {
    RunLog::Write("Could not find post patch command: %ls\n", run.postPatchCommand.Chars());
    // The launcher gets the path it was meant to run as its first argument, and is restarted
    // from its own executable; it is usually still running while the arguments are read.
    AppendQuoted(run.postPatchArguments, run.postPatchCommand);
    run.postPatchCommand = LauncherExecutable(run.parentPid);
  }
  SharedWString argument;
  while (PopFront(arguments, argument)) {
    AppendQuoted(run.postPatchArguments, argument);
  }
  run.postPatchArguments.Trim(SharedWString::Whitespace, true, true);
  return S_OK;
}

}  // namespace quorvel
