#pragma once

#include <string>
#include <vector>

#include "patch_tree.h"

namespace quorvel::bench {

// The least work that a patch of the tree's files must do, made ready beforehand: the same
// moves per file as the run, and the same log writes with the same text, each opened, appended
// to and closed as the run log does it. No attribute query, no path resolution, no string work.
class FloorLoop {
 public:
  // The patch: per file a line and the move of the old file to the backup folder, a line and the
  // move of the new file over it; then the closing line.
  static FloorLoop Patch(const PatchTree& tree, const std::wstring& logFile);
  // The revert: the opening line; per file a line, the move of the new file back to the patch
  // folder and the move of the old file back from the backup folder.
  static FloorLoop Revert(const PatchTree& tree, const std::wstring& logFile);

  // Runs the loop; false at the first move that fails.
  bool Run() const;

 private:
  struct Step {
    std::string line;  // written before the move; none when empty
    std::wstring from;
    std::wstring to;
  };

  explicit FloorLoop(const std::wstring& logFile) : logFile_(logFile) {}
  void Write(const std::string& line) const;

  std::wstring logFile_;
  std::string opening_;
  std::vector<Step> steps_;
  std::string closing_;
};

}  // namespace quorvel::bench
