#pragma once

namespace quorvel {

// The progress window's thread; the run owns one while a display text is shown.
class ProgressWindowThread {
 public:
  virtual ~ProgressWindowThread() = default;
};

}  // namespace quorvel
