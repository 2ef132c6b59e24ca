// Threads for work that the archive exports spread over the processors: a
// lock, a condition to wait on, and a group of worker threads that the
// starting call joins before it returns.
#pragma once
#include <cstdint>

namespace qp {

// Processors this process may run on (at least 1).
unsigned processor_count();

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

 private:
  friend class Condition;
  void* impl_;
};

// Holds a Mutex for one scope.
class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.lock(); }
  ~MutexLock() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

class Condition {
 public:
  Condition();
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Releases `m` (which the caller holds), sleeps until notified (or
  // spuriously), and takes `m` again.
  void wait(Mutex& m);
  void notify_all();

 private:
  void* impl_;
};

// Worker threads, each running body(context, index) once. join() waits for
// all of them; the destructor joins too, so no thread outlives its group.
class Workers {
 public:
  using Body = void (*)(void* context, unsigned index);
  Workers() = default;
  ~Workers() { join(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Starts up to `count` threads (at most kMaxWorkers); returns how many
  // started, which may be fewer (none) when the system refuses threads.
  unsigned start(unsigned count, Body body, void* context);
  void join();

  static constexpr unsigned kMaxWorkers = 64;

 private:
  struct Slot {
    Workers* group;
    unsigned index;
  };
  void* threads_[kMaxWorkers] = {};
  Slot slots_[kMaxWorkers] = {};
  unsigned started_ = 0;
  Body body_ = nullptr;
  void* context_ = nullptr;


 public:
  // The system's thread entry hands its argument (a Slot) here.
  static void enter(void* slot) {
    const Slot* s = static_cast<const Slot*>(slot);
    s->group->body_(s->group->context_, s->index);
  }
};

}  // namespace qp
