#pragma once

#include <windows.h>

namespace quorvel {

// A Win32 critical section: mutual exclusion between the threads of this process.
class CriticalSection {
 public:
  CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection();

  // Blocks until the calling thread holds the section; a thread may enter it again.
  void Enter();
  void Leave();

 private:
  CRITICAL_SECTION section_;
};

// Holds a critical section for the length of a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
  ~CriticalSectionLock() { section_.Leave(); }

 private:
  CriticalSection& section_;
};

}  // namespace quorvel
