#include "scan/worker.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>

namespace ampdots {
namespace {

// Where a job stands. Each side waits for the other's phase.
enum Phase : int { kIdle, kPosted, kDone, kStop };

// The one worker of the process: its thread and its job. The phase orders
// everything else: the job is written before kPosted is published, and
// what it wrote before kDone.
struct Worker {
  std::atomic<int> phase{kIdle};
  Sleepers sleepers;
  pthread_t thread{};
  bool running = false;
  int makerProcessor = -1;  // where the thread that started it ran then
  void (*job)(void*) = nullptr;
  void* arg = nullptr;
};

Worker theWorker;

// Sleeps while `word` holds `seen`, and wakes its sleepers: the futex calls
// themselves, which keep the C++ runtime library out of the tool.
static_assert(sizeof(std::atomic<int>) == sizeof(int));
void Sleep(std::atomic<int>& word, int seen) {
  syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
}
void Wake(std::atomic<int>& word) {
  syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
          0);
}

// Wakes the threads asleep on `word`, only where there are any (a wake is
// a system call), telling them where their waker runs.
void WakeSleepers(std::atomic<int>& word, Sleepers& sleepers) {
  if (sleepers.count.load() == 0) return;
  sleepers.wakerProcessor.store(sched_getcpu());
  Wake(word);
}

// Waits until `reached(value)` holds for `word`'s value, and returns that
// value. A job takes some tens or a hundred microseconds, so the wait for
// the other side is mostly short; a sleep and a wake cost more than that
// where each wake is an interrupt to the other processor and its way back
// from idle (on a virtual machine, two exits to the host): spin for about
// two chunks' time (some hundreds of microseconds) before sleeping.
// `sleepers` counts the waiters asleep, so that the other side wakes them
// only where there are any.
template <typename Reached>
int AwaitWord(std::atomic<int>& word, Sleepers& sleepers, Reached reached) {
  int seen;
  for (int spin = 0; spin < 16384; ++spin) {
    seen = word.load(std::memory_order_acquire);
    if (reached(seen)) return seen;
    // The two threads may share a processor for a while (a new thread
    // often starts beside its maker): then only giving way lets the other
    // run.
    if (spin % 64 == 63) sched_yield();
#if defined(__x86_64__)
    __builtin_ia32_pause();
#endif
  }
  for (;;) {
    seen = word.load();
    if (reached(seen)) return seen;
    // Counted before the word is looked at again, so that the other side
    // either sees a sleeper to wake or the sleeper sees the new value.
    sleepers.count.fetch_add(1);
    if (word.load() == seen) {
      Sleep(word, seen);
      if (sleepers.stepAside) StepAside(sleepers.wakerProcessor.load());
    }
    sleepers.count.fetch_sub(1);
  }
}

// Returns the phase waited for, or kStop.
int AwaitPhase(Worker& worker, int want) {
  return AwaitWord(worker.phase, worker.sleepers,
                   [want](int seen) { return seen == want || seen == kStop; });
}

void Publish(Worker& worker, int phase) {
  worker.phase.store(phase);
  WakeSleepers(worker.phase, worker.sleepers);
}

void* WorkerMain(void* arg) {
  Worker& worker = *static_cast<Worker*>(arg);
  // A new thread often starts on its maker's processor, and the two then
  // share it, taking turns, for some milliseconds (a sixth of a whole-file
  // scan) before the kernel moves one away: a worker placed apart steps
  // aside at once, as one woken there does.
  if (worker.sleepers.stepAside) StepAside(worker.makerProcessor);
  while (AwaitPhase(worker, kPosted) != kStop) {
    worker.job(worker.arg);
    Publish(worker, kDone);
  }
  return nullptr;
}

bool SeveralProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
}

bool Start(Worker& worker, Placement placement) {
  if (worker.running || !SeveralProcessors()) return false;
  worker.phase.store(kIdle, std::memory_order_relaxed);
  worker.sleepers.stepAside = placement == Placement::kApart;
  worker.makerProcessor = sched_getcpu();
  worker.running = pthread_create(&worker.thread, nullptr, WorkerMain, &worker) == 0;
  return worker.running;
}

void Post(Worker& worker, void (*run)(void*), void* job) {
  worker.job = run;
  worker.arg = job;
  Publish(worker, kPosted);
}

void Await(Worker& worker) {
  AwaitPhase(worker, kDone);
  worker.phase.store(kIdle, std::memory_order_relaxed);
}

void Stop(Worker& worker) {
  if (!worker.running) return;
  if (worker.phase.load(std::memory_order_acquire) == kPosted) Await(worker);
  Publish(worker, kStop);
  pthread_join(worker.thread, nullptr);
  worker.running = false;
}

}  // namespace

bool StartWorker(Placement placement) { return Start(theWorker, placement); }
void PostJobCall(void (*run)(void*), void* job) { Post(theWorker, run, job); }
void AwaitJob() { Await(theWorker); }
void StopWorker() { Stop(theWorker); }

struct SideThread::State : Worker {};

SideThread::SideThread() : state_(new State) {
  if (!Start(*state_, Placement::kAsPlaced)) {
    delete state_;
    state_ = nullptr;
  }
}

SideThread::~SideThread() {
  if (state_ == nullptr) return;
  Stop(*state_);
  delete state_;
}

void SideThread::PostCall(void (*run)(void*), void* job) { ampdots::Post(*state_, run, job); }

void SideThread::Await() { ampdots::Await(*state_); }

void StepAside(int wakerProcessor) {
  if (wakerProcessor < 0 || wakerProcessor >= CPU_SETSIZE || sched_getcpu() != wakerProcessor) {
    return;
  }
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  // Set without that processor, the affinity moves the thread at once; set
  // back, it leaves the thread where it went.
  cpu_set_t others = allowed;
  CPU_CLR(wakerProcessor, &others);
  if (CPU_COUNT(&others) > 0 && sched_setaffinity(0, sizeof others, &others) == 0) {
    sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

void Tally::Raise() {
  count_.fetch_add(1);
  WakeSleepers(count_, sleepers_);
}

void Tally::Halt() {
  halted_.store(true);
  Raise();  // a waiter asleep on the count wakes and sees the halt
}

bool Tally::AwaitReach(std::uint32_t target) {
  // The count wraps round past 2^32: it has reached the target where it
  // stands less than 2^31 past it.
  AwaitWord(count_, sleepers_, [&](int seen) {
    return halted_.load() || static_cast<std::uint32_t>(seen) - target < 0x80000000U;
  });
  return !halted_.load();
}

}  // namespace ampdots
