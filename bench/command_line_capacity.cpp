#include "command_line_capacity.h"

#include "patch_tree.h"

namespace quorvel::bench {
namespace {

const std::wstring kGame = L"C:\\Program Files (x86)\\Brinmoor\\Dastry Online";

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring HostPrefix() {
  return Quoted(L"C:\\Windows\\System32\\rundll32.exe") + L" " + Quoted(kGame + L"\\Quorvel.dll") +
         L",Quorvel ";
}

std::wstring ArgumentsBeforeNames(size_t count) {
  return L"-text " + Quoted(L"Updating Dastry Online") + L" 14812 " + Quoted(kGame + L"\\Patch") +
         L" " + Quoted(kGame) + L" " + Quoted(kGame + L"\\Backup") + L" " + std::to_wstring(count);
}

std::wstring ArgumentsAfterNames() {
  return L" " + Quoted(kGame + L"\\DastryLauncher.exe") + L" -restart";
}

}  // namespace

std::wstring RunArguments(size_t count) {
  std::wstring arguments = ArgumentsBeforeNames(count);
  for (size_t i = 0; i < count; ++i) {
    arguments += L" " + PatchName(i);
  }
  return arguments + ArgumentsAfterNames();
}

std::wstring HostCommandLine(size_t count) { return HostPrefix() + RunArguments(count); }

size_t LargestPatchOnOneCommandLine() {
  const size_t fixed = HostPrefix().size() + ArgumentsAfterNames().size();
  size_t names = 0;  // characters of the names so far, each with its separating space
  size_t count = 0;
  for (;;) {
    const size_t next = names + 1 + PatchName(count).size();
    const size_t length = fixed + ArgumentsBeforeNames(count + 1).size() + next;
    if (length + 1 > kCommandLineLimit) {
      return count;
    }
    names = next;
    ++count;
  }
}

}  // namespace quorvel::bench
