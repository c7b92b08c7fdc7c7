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
  std::atomic<int> sleepers{0};
  pthread_t thread{};
  bool running = false;
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

// Waits until `reached(value)` holds for `word`'s value, and returns that
// value. A job takes some tens of microseconds, so the wait for the other
// side is mostly short: spin a little before sleeping. `sleepers` counts
// the waiters asleep, so that the other side wakes them only where there
// are any (a wake is a system call).
template <typename Reached>
int AwaitWord(std::atomic<int>& word, std::atomic<int>& sleepers, Reached reached) {
  int seen;
  for (int spin = 0; spin < 1024; ++spin) {
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
    sleepers.fetch_add(1);
    if (word.load() == seen) Sleep(word, seen);
    sleepers.fetch_sub(1);
  }
}

// Returns the phase waited for, or kStop.
int AwaitPhase(Worker& worker, int want) {
  return AwaitWord(worker.phase, worker.sleepers,
                   [want](int seen) { return seen == want || seen == kStop; });
}

// Wakes the other side only where it sleeps: a wake is a system call.
void Publish(Worker& worker, int phase) {
  worker.phase.store(phase);
  if (worker.sleepers.load() > 0) Wake(worker.phase);
}

void* WorkerMain(void* arg) {
  Worker& worker = *static_cast<Worker*>(arg);
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

bool Start(Worker& worker) {
  if (worker.running || !SeveralProcessors()) return false;
  worker.phase.store(kIdle, std::memory_order_relaxed);
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

bool StartWorker() { return Start(theWorker); }
void PostJobCall(void (*run)(void*), void* job) { Post(theWorker, run, job); }
void AwaitJob() { Await(theWorker); }
void StopWorker() { Stop(theWorker); }

struct SideThread::State : Worker {};

SideThread::SideThread() : state_(new State) {
  if (!Start(*state_)) {
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

void Tally::Raise() {
  count_.fetch_add(1);
  if (sleepers_.load() > 0) Wake(count_);
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
