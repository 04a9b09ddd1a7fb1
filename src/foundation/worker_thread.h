#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "foundation/scoped_handle.h"

namespace quorvel {

// A thread owned by an object. The thread is created suspended, so its body cannot run before
// the derived object is complete: a derived constructor sets its fields and calls Start last,
// and a derived destructor calls SetStop(true) and Wait before its fields go.
class WorkerThread {
 public:
  // Creates the thread suspended with the given stack size. A failed creation is not reported:
  // Start then returns false and Wait returns true at once.
  explicit WorkerThread(uint32_t stackSize);
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // Closes the thread handle; neither stops nor waits.
  virtual ~WorkerThread();

  // Stores the request; a true request also tells the body to end (OnStop), once per call.
  virtual void SetStop(bool stop);

  // Resumes the thread; true once its body has begun, false when it could not be resumed.
  bool Start();
  // Returns once the thread has ended; at once when it never began. True unless the wait failed.
  bool Wait();

  bool StopRequested() const { return stopRequested_.load(); }
  // The thread's handle (null when creation failed), for the owner's queries.
  HANDLE Handle() const { return thread_.Get(); }

 protected:
  // The body; its result becomes the thread's exit code.
  virtual uint32_t Run() = 0;
  // Asks the body to end; called on the owner's thread.
  virtual void OnStop() = 0;

 private:
  static DWORD WINAPI ThreadProcedure(void* parameter);

  ScopedHandle thread_;
  DWORD threadId_ = 0;
  // Each flag has one writer and is read on the other thread.
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> started_{false};
};

// Gives up the rest of the calling thread's time slice.
void YieldThread();

}  // namespace quorvel
