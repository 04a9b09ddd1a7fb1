#include "foundation/worker_thread.h"

#include <float.h>

#include "foundation/library_options.h"

namespace quorvel {

WorkerThread::WorkerThread(uint32_t stackSize) {
  thread_.Reset(CreateThread(nullptr, stackSize, &WorkerThread::ThreadProcedure, this,
                             CREATE_SUSPENDED, &threadId_));
}

WorkerThread::~WorkerThread() = default;

void WorkerThread::SetStop(bool stop) {
  stopRequested_.store(stop);
  if (stop) {
    OnStop();
  }
}

bool WorkerThread::Start() {
  if (!thread_.IsValid() || ResumeThread(thread_.Get()) != 1) {
    return false;
  }
  // Once Start has returned, a Wait always waits for the body.
  while (!started_.load()) {
    YieldThread();
  }
  return true;
}

bool WorkerThread::Wait() {
  // A thread that never began may still be suspended: waiting on it would never end.
  if (!started_.load()) {
    return true;
  }
  // The thread itself, not only the running flag: after Wait the exit code is final and no
  // instruction of the thread is still executing in this module's code.
  return WaitForSingleObject(thread_.Get(), INFINITE) == WAIT_OBJECT_0;
}

DWORD WINAPI WorkerThread::ThreadProcedure(void* parameter) {
  auto* self = static_cast<WorkerThread*>(parameter);
  self->running_.store(true);
  self->started_.store(true);
  if ((LibraryOptions & kOptionTrapFloatDivideByZero) != 0) {
    SetFloatingPointTraps(true, _EM_ZERODIVIDE);
  }
  const uint32_t result = self->Run();
  // The owner may destroy the object as soon as the flag is clear.
  self->running_.store(false);
  return result;
}

void YieldThread() { SleepEx(0, FALSE); }

}  // namespace quorvel
