#pragma once

#include <string>

namespace quorvel::test {

// The log that Quorvel.dll writes in any process of this Wine prefix: Quorvel.log in the folder
// Brinmoor of the user's local application-data folder. The constructor creates the folder
// (Quorvel never does) and remembers how long the log is, so that a test reads only what was
// written after it.
class UserRunLog {
 public:
  UserRunLog();
  // The bytes written since construction.
  std::string Added() const;
  // Added with the date and time of every banner replaced by "<stamp>".
  std::string AddedWithoutStamps() const;
  static std::wstring FilePath();

 private:
  size_t start_;
};

}  // namespace quorvel::test
