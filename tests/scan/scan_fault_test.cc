// A disk that fails (support/failing_disk.h) under either chunk of a pair,
// the one the scan's own thread takes or the one the worker takes: a read
// error ends the run with status 2 after the lines before it, and the
// worker's lines past it are never shown.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "cli/run.h"
#include "scan/scan.h"
#include "scan/worker.h"
#include "support/failing_disk.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;

Output out;
Output err;

struct Knobs {
  Knobs() { SetWorkerUse(WorkerUse::kAlways); }
  ~Knobs() { SetWorkerUse(WorkerUse::kLongScans); }
};

// 16-bit mono at 8000 Hz, level 10 throughout: 400-frame lines of ten dots
// (800 bytes). A chunk holds as many whole lines as fit in the scan's
// chunk (245 lines, 196000 bytes), and chunks go in pairs, the first to
// this thread, the second to the worker: chunks 2 and 3 of the file's five.
constexpr std::uint64_t kLineBytes = 800;
constexpr std::uint64_t kWholeLinesBytes = kChunkBytes / kLineBytes * kLineBytes;

TEST(ScanFault, EitherThreadsChunkFails) {
  const Bytes wav =
      testing::CanonicalWav({1, 8000, 16, 1}, testing::Repeat({0x00, 0x0A}, 8000 * 60));
  for (const std::uint64_t chunk : {2u, 3u}) {  // this thread's chunk, then the worker's
    SCOPED_TRACE(chunk);
    const testing::ScratchDir dir;
    const std::uint64_t bad = 44 + chunk * kWholeLinesBytes + 5000;
    testing::FailingDisk disk(dir, wav, bad, bad + 1);
    SKIP_WITHOUT(disk);
    const Knobs knobs;
    const std::string path = disk.Path();
    const char* argv[] = {"ampdots", path.c_str(), "0", "60", "400"};
    out.used = err.used = out.dropped = err.dropped = 0;
    EXPECT_EQ(ampdots::Run(5, argv, out, err, OpenSource), 2);
    EXPECT_EQ(std::string(Text(err)), "ampdots: cannot read " + path + ": Input/output error\n");
    const std::string text(Text(out));
    EXPECT_EQ(text.find("Showing"), std::string::npos);
    // Every line before the bad page, none past it.
    std::size_t lines = 0;
    for (const char c : text) lines += c == '\n' ? 1 : 0;
    const std::uint64_t page = bad - bad % 4096;
    EXPECT_GE(lines - 1, (page - 44) / kLineBytes);
    EXPECT_LE(lines - 1, (bad - 44) / kLineBytes);
  }
}

}  // namespace
}  // namespace ampdots
