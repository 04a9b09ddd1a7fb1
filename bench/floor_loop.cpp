#include "floor_loop.h"

#include <windows.h>

#include <cstdio>

namespace quorvel::bench {
namespace {

// The paths as the run logs them (the tree's paths are already full and normalised).
std::string Narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

}  // namespace

FloorLoop FloorLoop::Patch(const PatchTree& tree, const std::wstring& logFile) {
  FloorLoop loop(logFile);
  for (const std::wstring& name : tree.Names()) {
    const std::wstring target = tree.Application() + L"\\" + name;
    const std::wstring backup = tree.Backup() + L"\\" + name;
    const std::wstring source = tree.Patch() + L"\\" + name;
    loop.steps_.push_back(
        {"Backing up \"" + Narrow(target) + "\" to \"" + Narrow(backup) + "\"\n", target, backup});
    loop.steps_.push_back(
        {"Copying up \"" + Narrow(source) + "\" to \"" + Narrow(target) + "\"\n", source, target});
  }
  loop.closing_ = "All Quorvel patches successful\n";
  return loop;
}

FloorLoop FloorLoop::Revert(const PatchTree& tree, const std::wstring& logFile) {
  FloorLoop loop(logFile);
  loop.opening_ = "Reverting all patches\n";
  for (const std::wstring& name : tree.Names()) {
    const std::wstring target = tree.Application() + L"\\" + name;
    const std::wstring backup = tree.Backup() + L"\\" + name;
    const std::wstring source = tree.Patch() + L"\\" + name;
    loop.steps_.push_back({"Copying \"" + Narrow(tree.Backup()) + "\\" + Narrow(name) + "\" to \"" +
                               Narrow(tree.Application()) + "\\" + Narrow(name) + "\"\n",
                           target, source});
    loop.steps_.push_back({std::string(), backup, target});
  }
  return loop;
}

void FloorLoop::Write(const std::string& line) const {
  FILE* file = _wfopen(logFile_.c_str(), L"a+");
  if (file != nullptr) {
    fwrite(line.data(), 1, line.size(), file);
    fclose(file);
  }
}

bool FloorLoop::Run() const {
  if (!opening_.empty()) {
    Write(opening_);
  }
  for (const Step& step : steps_) {
    if (!step.line.empty()) {
      Write(step.line);
    }
    if (!MoveFileW(step.from.c_str(), step.to.c_str())) {
      return false;
    }
  }
  if (!closing_.empty()) {
    Write(closing_);
  }
  return true;
}

}  // namespace quorvel::bench
