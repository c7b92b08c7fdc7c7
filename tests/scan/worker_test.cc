#include "scan/worker.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

namespace ampdots {
namespace {

cpu_set_t Affinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return set;
}

bool SameSet(const cpu_set_t& a, const cpu_set_t& b) { return CPU_EQUAL(&a, &b) != 0; }

// The first processor in `set` other than `other`, or -1.
int OtherThan(const cpu_set_t& set, int other) {
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set) && cpu != other) return cpu;
  }
  return -1;
}

// Moves the calling thread to `cpu` and sets it free there, as a thread
// woken beside its waker stands; false where the kernel moved it on at once.
bool FreeOn(int cpu, const cpu_set_t& all) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  return sched_setaffinity(0, sizeof one, &one) == 0 &&
         sched_setaffinity(0, sizeof all, &all) == 0 && sched_getcpu() == cpu;
}

// A thread steps aside from its waker's processor only, and keeps the
// affinity it had. (The kernel may move a free thread on its own at any
// time, so where it runs is checked only right after a step, and tried
// again where the kernel moved it first.)
TEST(Worker, StepsAsideOnlyFromItsWakersProcessor) {
  const cpu_set_t all = Affinity();
  if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor: nowhere to step aside to";
  if (sched_getcpu() < 0) GTEST_SKIP() << "the system does not say where a thread runs";
  std::thread([&] {
    const int here = OtherThan(all, -1);
    int after = here;
    for (int attempt = 0; attempt < 20 && after == here; ++attempt) {
      if (!FreeOn(here, all)) continue;
      StepAside(here);
      after = sched_getcpu();
    }
    EXPECT_NE(after, here);
    EXPECT_TRUE(SameSet(Affinity(), all));

    bool stayed = false;
    for (int attempt = 0; attempt < 20 && !stayed; ++attempt) {
      if (!FreeOn(here, all)) continue;
      StepAside(OtherThan(all, here));  // woken elsewhere
      StepAside(-1);                    // no waker known
      stayed = sched_getcpu() == here;
    }
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(SameSet(Affinity(), all));
  }).join();
}

// Where the thread may run on that processor alone, it stays, and so does
// its affinity.
TEST(Worker, StaysWhereItMayRunNowhereElse) {
  if (sched_getcpu() < 0) GTEST_SKIP() << "the system does not say where a thread runs";
  std::thread([] {
    const int here = sched_getcpu();
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(here, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    StepAside(here);
    EXPECT_EQ(sched_getcpu(), here);
    EXPECT_TRUE(SameSet(Affinity(), one));
  }).join();
}

// The worker, placed apart or as the kernel places it, runs free: its jobs
// see the affinity of the process, and run, each once.
TEST(Worker, RunsOnEveryProcessorItMayWhereverItStarted) {
  const cpu_set_t all = Affinity();
  for (const Placement placement : {Placement::kApart, Placement::kAsPlaced}) {
    if (!StartWorker(placement)) GTEST_SKIP() << "one processor: no worker";
    cpu_set_t seen;
    CPU_ZERO(&seen);
    int runs = 0;
    auto job = [&] {
      seen = Affinity();
      ++runs;
    };
    for (int i = 0; i < 3; ++i) {
      PostJob(job);
      AwaitJob();
    }
    StopWorker();
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(SameSet(seen, all));
  }
}

// A waiter that fell asleep is woken by a raise or a halt, from a thread
// that may run anywhere, itself included.
TEST(Tally, WakesASleepingWaiter) {
  Tally tally;
  std::thread raiser([&] {
    usleep(50000);  // long past the waiter's spinning
    tally.Raise();
    usleep(50000);
    tally.Halt();
  });
  EXPECT_TRUE(tally.AwaitReach(1));
  EXPECT_FALSE(tally.AwaitReach(5));
  EXPECT_TRUE(tally.Halted());
  raiser.join();
}

}  // namespace
}  // namespace ampdots
