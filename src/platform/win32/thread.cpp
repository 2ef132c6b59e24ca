// platform/thread.h on Windows: Win32 threads, slim reader/writer locks and condition variables.
#include "platform/thread.h"

#include <windows.h>

#include <new>

namespace qp {

unsigned processor_count() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0) {
    unsigned n = 0;
    for (DWORD_PTR m = process_mask; m != 0; m &= m - 1) ++n;
    return n;
  }
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwNumberOfProcessors > 0 ? si.dwNumberOfProcessors : 1u;
}

Mutex::Mutex() : impl_(new SRWLOCK) { InitializeSRWLock(static_cast<SRWLOCK*>(impl_)); }
Mutex::~Mutex() { delete static_cast<SRWLOCK*>(impl_); }
void Mutex::lock() { AcquireSRWLockExclusive(static_cast<SRWLOCK*>(impl_)); }
void Mutex::unlock() { ReleaseSRWLockExclusive(static_cast<SRWLOCK*>(impl_)); }

Condition::Condition() : impl_(new CONDITION_VARIABLE) {
  InitializeConditionVariable(static_cast<CONDITION_VARIABLE*>(impl_));
}
Condition::~Condition() { delete static_cast<CONDITION_VARIABLE*>(impl_); }

void Condition::wait(Mutex& m) {
  SleepConditionVariableSRW(static_cast<CONDITION_VARIABLE*>(impl_), static_cast<SRWLOCK*>(m.impl_), INFINITE, 0);
}

void Condition::notify_all() { WakeAllConditionVariable(static_cast<CONDITION_VARIABLE*>(impl_)); }

namespace {

DWORD WINAPI thread_entry(LPVOID slot) {
  Workers::enter(slot);
  return 0;
}

}  // namespace

unsigned Workers::start(unsigned count, Body body, void* context) {
  join();
  body_ = body;
  context_ = context;
  if (count > kMaxWorkers) count = kMaxWorkers;
  for (unsigned i = 0; i < count; ++i) {
    slots_[i] = Slot{this, i};
    // A small reserve is enough: workers keep their large buffers on the heap.
    HANDLE t = CreateThread(nullptr, 256 * 1024, thread_entry, &slots_[i], STACK_SIZE_PARAM_IS_A_RESERVATION,
                            nullptr);
    if (t == nullptr) break;
    threads_[started_++] = t;
  }
  return started_;
}

void Workers::join() {
  for (unsigned i = 0; i < started_; ++i) {
    WaitForSingleObject(static_cast<HANDLE>(threads_[i]), INFINITE);
    CloseHandle(static_cast<HANDLE>(threads_[i]));
    threads_[i] = nullptr;
  }
  started_ = 0;
}

}  // namespace qp
