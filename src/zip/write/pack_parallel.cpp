// Worker threads encode the files of a listing into memory, ahead of the
// calling thread, which adds them to the archive strictly in listing order.
//
// A worker opens a file and encodes its data with an item encoder of its
// own, the one the archive writer uses for the items it adds itself; the
// calling thread then hands the result to ArchiveWriter::AddEncoded, which
// writes the item's records around those bytes. A file that a worker cannot
// take whole (it became a stream, grew past its reservation, or no memory
// was left) goes back to the calling thread, which adds it from the file.
// Every result, print and archive write stays on the calling thread.
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

#include "platform/fileinfo.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "zip/format/records.h"
#include "zip/write/writer.h"

namespace quillon {

namespace {

// Waiting items that a worker looks over for the largest one to start with:
// large files first keep every worker busy until the end.
constexpr size_t kLookahead = 128;

enum class State { Waiting, Running, Done };

struct Job {
  std::string path;           // the listed name: the item's name and its file's, in UTF-8
  bool for_workers = false;   // a regular file small enough for the budget
  uint64_t bound = 0;         // the most bytes its data may take
  State state = State::Waiting;
  bool by_caller = false;     // the calling thread adds it from the file itself
  uint64_t reserved = 0;      // what the job holds of the budget: its bound once a worker took it
  EncodedItem item;           // the name from the start; the rest once a worker encoded it
  qp::MappedBlock block;      // room for `bound` bytes of data while the job holds it
};

// Gives the job's block back to the system.
void release(Job& job) {
  if (job.block.view != nullptr) qp::unmap_zeroed(&job.block);
  job.block = qp::MappedBlock{};
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

// Releases a held mutex for one scope.
class Unlocked {
 public:
  explicit Unlocked(qp::Mutex& m) : m_(m) { m_.unlock(); }
  ~Unlocked() { m_.lock(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  qp::Mutex& m_;
};

// A job's block as the sink of its encoder; refuses bytes that would pass
// it.
struct BlockSink {
  const qp::MappedBlock& block;
  uint64_t used = 0;
  bool refused = false;

  static unsigned take(void* context, const char* bytes, unsigned n) {
    BlockSink& s = *static_cast<BlockSink*>(context);
    if (s.used + n > s.block.size) {
      s.refused = true;
      return 0;
    }
    std::memcpy(static_cast<char*>(s.block.view) + s.used, bytes, n);
    s.used += n;
    return n;
  }
};

// Encodes the job's file into its block, opened as ArchiveWriter::AddUtf8
// opens it; leaves the job to the calling thread when the file cannot be
// taken whole here.
void encode_job(ItemEncoder& encoder, Job& job) {
  EncodedItem& it = job.item;
  ItemSource& in = encoder.source();
  if (in.open_file(job.path.c_str(), true) != ZIPR_OK) {
    job.by_caller = true;  // the calling thread's open gives the result
    return;
  }
  it.source = in.facts();
  const int64_t size = it.source.size;
  // Still the file that was looked at (not a stream since, nor grown), and
  // room for its data.
  const bool taken =
      size >= 0 && item_data_bound(uint64_t(size), it.name.method) <= job.bound &&
      (job.bound == 0 || (job.bound <= 0xFFFFFFFFu && qp::map_zeroed(uint32_t(job.bound), &job.block)));
  if (!taken) {
    in.close();
    job.by_caller = true;
    return;
  }
  BlockSink sink{job.block};
  it.data = encoder.encode(it.name.method, BlockSink::take, &sink);
  it.bytes = static_cast<const char*>(job.block.view);
  if (sink.refused) job.by_caller = true;
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

void worker_loop(Shared& sh, ItemEncoder& encoder) {
  while (!sh.cancelled) {
    Job* job = pick_job(sh);
    if (job == nullptr) {
      if (sh.first_waiting == sh.jobs.size()) break;
      sh.work.wait(sh.mutex);
      continue;
    }
    job->state = State::Running;
    job->reserved = job->bound;
    sh.reserved += job->reserved;
    {
      Unlocked unlocked(sh.mutex);
      try {
        encode_job(encoder, *job);
      } catch (...) {
        encoder.source().close();
        job->by_caller = true;
      }
    }
    job->state = State::Done;
    sh.done.notify_all();
  }
}

void worker_main(void* context, unsigned) {
  Shared& sh = *static_cast<Shared*>(context);
  std::unique_ptr<ItemEncoder> encoder(new (std::nothrow) ItemEncoder);
  qp::MutexLock hold(sh.mutex);
  if (encoder) worker_loop(sh, *encoder);
  // The calling thread adds whatever is left when the last worker goes.
  --sh.live;
  sh.done.notify_all();
}

// The calling thread is done with the job: its block and its share of the
// budget go back.
void finish(Shared& sh, Job& job) {
  release(job);
  if (job.reserved == 0) return;
  qp::MutexLock hold(sh.mutex);
  sh.reserved -= job.reserved;
  job.reserved = 0;
  sh.work.notify_all();
}

}  // namespace

std::vector<ZIPRESULT> zip_add_files_parallel(HZIP h, const std::vector<std::string>& names, unsigned threads,
                                              ZipNamePrinter print, uint64_t budget) {
  std::vector<ZIPRESULT> results;
  results.reserve(names.size());
  ArchiveWriter* const writer = archive_writer(h);
  Shared sh;
  sh.budget = budget;
  sh.jobs.resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    Job& job = sh.jobs[i];
    job.path = names[i];
    uint64_t size = 0;
    // Folders, pipes, devices, missing names and names with nothing to store
    // go the way they always went, through ZipAddUtf8 on this thread, and so
    // do files too large for the budget.
    if (writer != nullptr && qp::regular_file_size_utf8(job.path.c_str(), &size)) {
      job.item.name = item_name(job.path, false);
      if (!job.item.name.name.empty()) {
        job.bound = item_data_bound(size, job.item.name.method);
        job.for_workers = job.bound <= budget;
      }
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
    // Workers count themselves out under the lock, which they cannot take
    // before every one that started is counted in.
    qp::MutexLock hold(sh.mutex);
    sh.live = threads > 1 ? workers.start(threads, worker_main, &sh) : 0;
  }

  for (Job& job : sh.jobs) {
    print(job.path.c_str());
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
    const ZIPRESULT r = by_caller ? ZipAddUtf8(h, job.path.c_str(), job.path.c_str())
                                  : (lasterrorZ = writer->AddEncoded(job.item));
    results.push_back(r);
    finish(sh, job);
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
