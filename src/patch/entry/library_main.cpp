#include "patch/entry/library_main.h"

#include <shlobj.h>

#include "foundation/char_buffer.h"
#include "foundation/run_log.h"
#include "foundation/shared_string.h"
#include "patch/entry/module_objects.h"
#include "patch/entry/run_driver.h"

namespace quorvel {
namespace {

void OnProcessAttach() {
  // The linker leaves out a static library's objects that nothing names; naming the module's
  // process-wide objects here keeps them in every module that contains DllMain.
  static_cast<void>(ModuleProcessInstance());
  CharBuffer folder;
  SharedWString base(L".");
  // Room for MAX_PATH wide characters and the terminator. The folder is not created: the log
  // goes nowhere until the launcher's installer made it. Without memory for the buffer the base
  // stays ".", as when the shell cannot name the folder.
  if (folder.Resize(2 * (MAX_PATH + 1), CharBuffer::GrowByPolicy | CharBuffer::SetSizeExactly)) {
    auto* path = static_cast<wchar_t*>(folder.Data());
    if (SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE)) {
      base = path;
    }
  }
  RunLog::SetPath(L"%ls\\%ls\\Quorvel.log", base.Chars(), L"Brinmoor");
  WriteBanner("\n\n======= Starting Quorvel %s %s ============\n");
}

}  // namespace

BOOL OnDllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      OnProcessAttach();
      return TRUE;
    case DLL_PROCESS_DETACH:
    case DLL_THREAD_ATTACH:
    case DLL_THREAD_DETACH:
      return TRUE;
    default:
      RunLog::Write("DllMain() returning false\n");
      return FALSE;
  }
}

}  // namespace quorvel
