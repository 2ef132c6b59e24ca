// platform/thread.h on POSIX systems: POSIX threads, mutexes and condition variables.
#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <new>

namespace qp {

unsigned processor_count() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

Mutex::Mutex() : impl_(new pthread_mutex_t) { pthread_mutex_init(static_cast<pthread_mutex_t*>(impl_), nullptr); }

Mutex::~Mutex() {
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(impl_));
  delete static_cast<pthread_mutex_t*>(impl_);
}

void Mutex::lock() { pthread_mutex_lock(static_cast<pthread_mutex_t*>(impl_)); }
void Mutex::unlock() { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(impl_)); }

Condition::Condition() : impl_(new pthread_cond_t) { pthread_cond_init(static_cast<pthread_cond_t*>(impl_), nullptr); }

Condition::~Condition() {
  pthread_cond_destroy(static_cast<pthread_cond_t*>(impl_));
  delete static_cast<pthread_cond_t*>(impl_);
}

void Condition::wait(Mutex& m) {
  pthread_cond_wait(static_cast<pthread_cond_t*>(impl_), static_cast<pthread_mutex_t*>(m.impl_));
}

void Condition::notify_all() { pthread_cond_broadcast(static_cast<pthread_cond_t*>(impl_)); }

namespace {

void* thread_entry(void* slot) {
  Workers::enter(slot);
  return nullptr;
}

}  // namespace

unsigned Workers::start(unsigned count, Body body, void* context) {
  join();
  body_ = body;
  context_ = context;
  if (count > kMaxWorkers) count = kMaxWorkers;
  // Signals go to the host's own threads: workers block every one they can,
  // so a handler never runs on a thread the host does not know.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  for (unsigned i = 0; i < count; ++i) {
    slots_[i] = Slot{this, i};
    pthread_t* t = new (std::nothrow) pthread_t;
    if (t == nullptr) break;
    if (pthread_create(t, nullptr, thread_entry, &slots_[i]) != 0) {
      delete t;
      break;
    }
    threads_[started_++] = t;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started_;
}

void Workers::join() {
  for (unsigned i = 0; i < started_; ++i) {
    pthread_t* t = static_cast<pthread_t*>(threads_[i]);
    pthread_join(*t, nullptr);
    delete t;
    threads_[i] = nullptr;
  }
  started_ = 0;
}

}  // namespace qp
