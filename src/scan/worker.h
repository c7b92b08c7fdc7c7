// A second thread for the scan: it works out the bars of one chunk of whole
// lines while the scan's own thread works out (and prints) the chunk before
// it. Lines are independent, so the two never share a line. One worker for
// the process, started for a long scan and stopped after it.
#ifndef AMPDOTS_SCAN_WORKER_H_
#define AMPDOTS_SCAN_WORKER_H_

#include <atomic>
#include <cstdint>

namespace ampdots {

/// When a scan shares its chunks with the worker: for long intervals only
/// (what a run plans), never, or for every interval of more than one chunk
/// (what tests may plan, to hold every way of scanning to the same results).
enum class WorkerUse { kLongScans, kNever, kAlways };

/// How the worker shares the processors with the thread that starts it.
enum class Placement {
  /// Where the kernel puts it: another process (a stream's writer) may be
  /// busy on the other processor, and the kernel sees that.
  kAsPlaced,
  /// Each on a processor of its own, as two readers of a file need: the
  /// worker, started on its maker's processor, and either thread, woken on
  /// the other's, steps aside.
  kApart,
};

/// Starts the worker unless the process may run on one processor only.
/// False where the caller works alone.
bool StartWorker(Placement placement);

/// Has the worker run `run(job)`. One job at a time.
void PostJobCall(void (*run)(void*), void* job);

/// Has the worker call `job()`; `job` must live until AwaitJob returns.
template <typename Job>
void PostJob(Job& job) {
  PostJobCall([](void* j) { (*static_cast<Job*>(j))(); }, &job);
}

/// Waits for the job posted last.
void AwaitJob();

/// Ends the worker thread (after any job under way).
void StopWorker();

/// Moves the calling thread off processor `wakerProcessor` where it runs
/// there, leaving its affinity as it was: a thread woken on its waker's
/// processor, as the kernel often does even where another is idle, would
/// otherwise take turns with it there. Nothing where it runs elsewhere, or
/// may run nowhere else.
void StepAside(int wakerProcessor);

/// The threads asleep on a word, the processor of the thread that woke
/// them last, and whether one woken there steps aside (see StepAside).
struct Sleepers {
  std::atomic<int> count{0};
  std::atomic<int> wakerProcessor{-1};
  bool stepAside = false;
};

/// A count of pieces of work that one thread raises as it finishes each and
/// another waits on, so that a worker can run ahead of the thread that takes
/// its work, and the two meet only where one is a whole window ahead.
class Tally {
 public:
  /// Adds one, and wakes the waiter.
  void Raise();
  /// Ends every wait, now and later: the waiter is to stop.
  void Halt();
  /// Waits until the count reaches `target` (counting from zero, round
  /// past 2^32). False where halted instead.
  bool AwaitReach(std::uint32_t target);
  bool Halted() const { return halted_.load(); }

 private:
  std::atomic<int> count_{0};
  Sleepers sleepers_{{0}, {-1}, true};  // its threads each need a processor
  std::atomic<bool> halted_{false};
};

/// A thread of one's own, apart from the scan's worker, for work that runs
/// while the scan's does (the loudness meter's second half of the
/// channels). Started where the process may use several processors.
class SideThread {
 public:
  SideThread();
  ~SideThread();
  SideThread(const SideThread&) = delete;
  SideThread& operator=(const SideThread&) = delete;

  /// False where the caller works alone.
  bool Running() const { return state_ != nullptr; }
  /// Has the thread call `job()`; `job` must live until Await returns.
  template <typename Job>
  void Post(Job& job) {
    PostCall([](void* j) { (*static_cast<Job*>(j))(); }, &job);
  }
  /// Waits for the job posted last.
  void Await();

 private:
  void PostCall(void (*run)(void*), void* job);
  struct State;
  State* state_;
};

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_WORKER_H_
