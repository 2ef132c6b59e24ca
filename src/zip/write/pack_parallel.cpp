// Worker threads compress the files of a listing into memory, ahead of the
// calling thread, which adds them to the archive strictly in listing order.
//
// A worker does for one file what ArchiveWriter::Add does between opening the source
// and the data step: open it, read its information, deflate (or, for names
// with an archive suffix, copy) its bytes with the same compressor settings.
// The calling thread then hands the result to ArchiveWriter::AddPrepared, which writes
// the same records and bytes that Add would have written for the file. Every
// result, print and archive write stays on the calling thread.
//
// Memory: every item in flight holds a reservation of the most bytes its data
// can take, from the moment a worker starts it until the calling thread has
// written it: one block of that size, mapped from the system when the item
// starts and unmapped when it is written, so nothing grows by doubling and
// nothing freed stays behind in a thread's heap. Reservations never exceed
// the budget, and an item is admitted only while every item before it that
// is still waiting would also fit, so the next item the calling thread
// needs can always be compressed.
#include "zip/write/pack_parallel.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "zip/format/crc32.h"
#include "zip/format/records.h"
#include "zip/deflate/deflate.h"
#include "zip/write/writer.h"

namespace quillon {

namespace {

constexpr unsigned kChunk = 16384;  // the writer's staging buffer and stored-data chunk
constexpr int kLevel = 8;
// Waiting items that a worker looks over for the largest one to start with:
// large files first keep every worker busy until the end.
constexpr size_t kLookahead = 128;

enum class State { Waiting, Running, Done };

struct Job {
  std::string name;
  bool for_workers = false;  // a regular file small enough for the budget
  uint16_t method = kMethodDeflated;
  uint64_t bound = 0;        // the most bytes its data may take
  State state = State::Waiting;
  bool by_caller = false;    // the calling thread adds it from the file itself
  ZipPreparedItem item;
  qp::MappedBlock block;     // room for `bound` bytes of data while the job holds it
  uint64_t used = 0;         // bytes of data made so far
  uint64_t capacity = 0;     // what the job holds of the budget once done: its bound, or 0
};

// Gives the job's block back to the system.
void release(Job& job) {
  if (job.block.view != nullptr) qp::unmap_zeroed(&job.block);
  job.block = qp::MappedBlock{};
  job.used = 0;
  job.capacity = 0;
}

struct Shared {
  Shared() = default;
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() {
    for (Job& job : jobs) release(job);
  }

  qp::Mutex mutex;
  qp::Condition work;  // budget freed, or the work cancelled
  qp::Condition done;  // a job finished
  std::vector<Job> jobs;
  uint64_t budget = 0;
  uint64_t reserved = 0;
  size_t first_waiting = 0;  // no job before it waits for a worker
  unsigned live = 0;         // workers still taking jobs
  bool cancelled = false;
};

// The method ArchiveWriter::Add picks for an item of this name, one short enough to
// be stored whole: its suffix (after forward slashes replace backslashes)
// decides.
uint16_t method_for(const std::string& name) {
  std::string stored = name;
  for (char& c : stored)
    if (c == '\\') c = '/';
  return HasZipSuffix(stored.c_str()) ? kMethodStored : kMethodDeflated;
}

// The most bytes the data of a file of `size` bytes can take: a stored
// copy is the file itself, and the compressor's worst case (stored blocks)
// adds a few bytes per block.
uint64_t data_bound(uint64_t size, uint16_t method) {
  return method == kMethodStored ? size : size + size / 32 + 4096;
}

// One worker's compressor, buffers and the job it works on.
class Preparer {
 public:
  void prepare(Job& job);
  // Leaves the job to the calling thread, after anything went wrong.
  void give_up(Job& job) {
    in_.reset();
    job.by_caller = true;
    release(job);
  }

 private:
  static unsigned read_input(TState& state, char* bytes, unsigned n) {
    return static_cast<Preparer*>(state.context)->read(bytes, n);
  }
  static unsigned flush_output(void* context, const char* bytes, unsigned* n) {
    if (*n == 0) return 0;
    Preparer* p = static_cast<Preparer*>(context);
    if (!p->append(bytes, *n)) return 0;
    const unsigned done = *n;
    *n = 0;
    return done;
  }

  // As ArchiveWriter::read: a failing read ends the data and is remembered.
  unsigned read(char* bytes, unsigned n) {
    uint32_t done = 0;
    unsigned got = 0;
    if (qp::read_file(in_.get(), bytes, n, &done)) {
      got = done;
    } else {
      job_->item.read_failed = true;
    }
    job_->item.read_total += got;
    job_->item.crc = crc32(job_->item.crc, reinterpret_cast<const unsigned char*>(bytes), got);
    return got;
  }

  // Keeps output bytes; refuses (and gives the item to the calling thread)
  // when they would pass the job's reservation.
  bool append(const char* bytes, unsigned n) {
    Job& job = *job_;
    if (job.used + n > job.block.size) {
      refused_ = true;
      return false;
    }
    std::memcpy(static_cast<char*>(job.block.view) + job.used, bytes, n);
    job.used += n;
    return true;
  }

  bool deflate_item();
  bool store_item();

  std::unique_ptr<TState> state_;
  Job* job_ = nullptr;
  qp::HeldHandle in_;  // the file being prepared, opened here
  bool refused_ = false;
  char buf_[kChunk];
};

bool Preparer::deflate_item() {
  if (state_ == nullptr) state_ = std::make_unique<TState>();
  // The settings of ArchiveWriter::ideflate, so that the stream is the same.
  TState& s = *state_;
  s.context = this;
  s.level = kLevel;
  s.read_input = read_input;
  s.flush_output = flush_output;
  s.failed_check = nullptr;
  s.ts.static_dist_tree[0].parent_or_len = 0;
  s.ds.window_bytes = 0;
  uint16_t internal_attr = 0, flags = 0;
  bi_init(s, buf_, kChunk, 1);
  ct_init(s, &internal_attr);
  lm_init(s, kLevel, &flags);
  deflate(s);
  job_->item.flag_bits = flags;
  job_->item.data_ok = s.failed_check == nullptr;
  return true;
}

bool Preparer::store_item() {
  for (;;) {
    const unsigned n = read(buf_, kChunk);
    if (n == 0 || n == kInputEnded) break;
    if (!append(buf_, n)) break;
  }
  job_->item.data_ok = true;
  return true;
}

void Preparer::prepare(Job& job) {
  job_ = &job;
  refused_ = false;
  ZipPreparedItem& it = job.item;
  it = ZipPreparedItem{};
  it.method = job.method;
  // Opening and examining the file as ArchiveWriter::open_file and open_handle do.
  in_ = qp::HeldHandle::own(qp::open_read_shared_utf8(job.name.c_str()));
  if (!qp::is_valid(in_.get())) {
    it.open_result = ZIPR_OPENFAILED;
    in_.reset();
    return;
  }
  bool by_caller = false;
  if (qp::set_file_pointer(in_.get(), 0, qp::SeekFrom::Current) == qp::kNoPosition) {
    by_caller = true;  // became a stream since it was looked at
  } else {
    it.open_result = GetFileInfo(in_.get(), &it.attr, &it.size, &it.times, &it.stamp);
    if (it.open_result == ZIPR_OK) {
      if (data_bound(it.size, job.method) > job.bound) {
        by_caller = true;  // grew since it was looked at
      } else if (job.bound > 0 && (job.bound > 0xFFFFFFFFu || !qp::map_zeroed(uint32_t(job.bound), &job.block))) {
        by_caller = true;  // no room for its data
      } else {
        job.capacity = job.bound;
        qp::set_file_pointer(in_.get(), 0, qp::SeekFrom::Begin);
        const bool ran = job.method == kMethodDeflated ? deflate_item() : store_item();
        if (!ran || refused_) by_caller = true;
      }
    }
  }
  in_.reset();
  if (by_caller) give_up(job);
  it.data = static_cast<const char*>(job.block.view);
  it.data_len = job.used;
}

// Picks the job a worker starts next, or null when none may start now. The
// largest waiting job of the look-ahead that fits wins, provided every job
// before it that still waits would fit beside it.
Job* pick_job(Shared& sh) {
  std::vector<Job>& jobs = sh.jobs;
  while (sh.first_waiting < jobs.size() &&
         (!jobs[sh.first_waiting].for_workers || jobs[sh.first_waiting].state != State::Waiting))
    ++sh.first_waiting;
  Job* best = nullptr;
  uint64_t largest_before = 0;
  const size_t end = jobs.size() - sh.first_waiting > kLookahead ? sh.first_waiting + kLookahead : jobs.size();
  for (size_t i = sh.first_waiting; i < end; ++i) {
    Job& j = jobs[i];
    if (!j.for_workers || j.state != State::Waiting) continue;
    if (sh.reserved + j.bound + largest_before <= sh.budget && (best == nullptr || j.bound > best->bound)) best = &j;
    if (j.bound > largest_before) largest_before = j.bound;
  }
  return best;
}

void worker_loop(Shared& sh, Preparer* preparer) {
  for (;;) {
    if (sh.cancelled) break;
    Job* job = pick_job(sh);
    if (job == nullptr) {
      if (sh.first_waiting == sh.jobs.size()) break;
      sh.work.wait(sh.mutex);
      continue;
    }
    job->state = State::Running;
    sh.reserved += job->bound;
    sh.mutex.unlock();
    try {
      preparer->prepare(*job);
    } catch (...) {
      preparer->give_up(*job);
    }
    sh.mutex.lock();
    // A job given to the calling thread holds nothing any more.
    sh.reserved -= job->bound - job->capacity;
    job->state = State::Done;
    sh.done.notify_all();
    sh.work.notify_all();
  }
}

void worker_main(void* context, unsigned) {
  Shared& sh = *static_cast<Shared*>(context);
  std::unique_ptr<Preparer> preparer(new (std::nothrow) Preparer);
  qp::MutexLock hold(sh.mutex);
  if (preparer) worker_loop(sh, preparer.get());
  // The calling thread adds whatever is left when the last worker goes.
  --sh.live;
  sh.done.notify_all();
}

}  // namespace

std::vector<ZIPRESULT> zip_add_files_parallel(HZIP h, const std::vector<std::string>& names, unsigned threads,
                                              ZipNamePrinter print, uint64_t budget) {
  std::vector<ZIPRESULT> results;
  results.reserve(names.size());
  Shared sh;
  sh.budget = budget;
  sh.jobs.resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    Job& job = sh.jobs[i];
    job.name = names[i];
    uint64_t size = 0;
    // Folders, pipes, devices and missing names go the way they always went,
    // through ZipAddUtf8 on this thread, and so do files too large for the budget
    // and names that the archive would cut.
    if (!job.name.empty() && job.name.size() <= kZipNameMax && qp::regular_file_size_utf8(job.name.c_str(), &size)) {
      job.method = method_for(job.name);
      job.bound = data_bound(size, job.method);
      job.for_workers = job.bound <= budget;
    }
  }

  qp::Workers workers;
  // However this call is left, waiting workers are woken and stop before
  // they are joined.
  struct Stop {
    Shared& sh;
    ~Stop() {
      qp::MutexLock hold(sh.mutex);
      sh.cancelled = true;
      sh.work.notify_all();
    }
  } stop{sh};
  {
    // Workers count themselves out under the lock; they are counted in
    // before any of them can run.
    qp::MutexLock hold(sh.mutex);
    sh.live = threads > 1 ? threads : 0;
  }
  const unsigned started = sh.live > 0 ? workers.start(threads, worker_main, &sh) : 0;
  {
    qp::MutexLock hold(sh.mutex);
    sh.live -= (threads > 1 ? threads : 0) - started;
  }

  for (Job& job : sh.jobs) {
    print(job.name.c_str());
    bool by_caller = !job.for_workers;
    if (job.for_workers) {
      qp::MutexLock hold(sh.mutex);
      while (job.state != State::Done) {
        // Nobody else will start it: no workers, or the archive has failed.
        if (job.state == State::Waiting && (sh.live == 0 || sh.cancelled)) {
          job.state = State::Done;
          job.by_caller = true;
          break;
        }
        sh.done.wait(sh.mutex);
      }
      by_caller = job.by_caller;
    }
    const ZIPRESULT r = by_caller ? ZipAddUtf8(h, job.name.c_str(), job.name.c_str())
                                  : ZipAddPrepared(h, job.name.c_str(), job.item);
    results.push_back(r);
    if (job.capacity != 0) {
      const uint64_t held = job.capacity;
      release(job);
      qp::MutexLock hold(sh.mutex);
      sh.reserved -= held;
      sh.work.notify_all();
    }
    // Once the output has failed, every later add fails before it opens its
    // file: the workers stop compressing for nothing.
    if (r == ZIPR_PREVIOUSERROR) {
      qp::MutexLock hold(sh.mutex);
      sh.cancelled = true;
      sh.work.notify_all();
    }
  }
  return results;
}

}  // namespace quillon
