// A disk that fails (support/failing_disk.h) under either chunk of a pair,
// the one the scan's own thread takes or the one the worker takes: a read
// error ends the scan after the lines before it, with the error kept for
// the driver to report, and the worker's lines past it are never shown.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "scan/blocks.h"
#include "scan/scan.h"
#include "support/failing_disk.h"
#include "support/wav_builder.h"
#include "wav/probe.h"

namespace ampdots {
namespace {

using testing::Bytes;

Output out;

// 16-bit mono at 8000 Hz, level 10 throughout: 400-frame lines of ten dots
// (800 bytes). A chunk holds as many whole lines as fit in the scan's
// chunk (491 lines, 392800 bytes), and chunks go in pairs, the first to
// this thread, the second to the worker: chunks 2 and 3 of the file's six.
constexpr std::size_t kFileFrames = 8000 * 150;
constexpr std::uint64_t kLineBytes = 800;
constexpr std::uint64_t kWholeLinesBytes = kChunkBytes / kLineBytes * kLineBytes;

// Each thread reads its own chunk, so the worker's chunk may come whole
// from past the bad page while this thread's fails: a loud sample there
// (level 127) must not count.
TEST(ScanFault, EitherThreadsChunkFails) {
  Bytes wav = testing::CanonicalWav({1, 8000, 16, 1}, testing::Repeat({0x00, 0x0A}, kFileFrames));
  wav[44 + 3 * kWholeLinesBytes + 10001] = 0x7F;
  for (const std::uint64_t chunk : {2u, 3u}) {  // this thread's chunk, then the worker's
    SCOPED_TRACE(chunk);
    const testing::ScratchDir dir;
    const std::uint64_t bad = 44 + chunk * kWholeLinesBytes + 5000;
    testing::FailingDisk disk(dir, wav, bad, bad + 1);
    SKIP_WITHOUT(disk);
    Source source;
    const ProbeResult probe = GetAttributes(disk.Path().c_str(), OpenSource, source);
    ASSERT_EQ(probe.status, ProbeStatus::kOk);
    ScanPlan plan = MakePlan(probe.attributes, 0, probe.attributes.frameCount, 400, 1.0f);
    plan.worker = WorkerUse::kAlways;
    out.used = out.dropped = 0;
    const Peaks peaks = ScanInterval(source, plan, out);
    EXPECT_EQ(source.error, EIO);
    EXPECT_EQ(peaks.channel[0], 10.0);
    CloseSource(source);
    // Every line before the bad page, none past it.
    std::size_t lines = 0;
    for (const char c : Text(out)) lines += c == '\n' ? 1 : 0;
    const std::uint64_t page = bad - bad % 4096;
    EXPECT_GE(lines, (page - 44) / kLineBytes);
    EXPECT_LE(lines, (bad - 44) / kLineBytes);
  }
}

// Lines longer than a chunk, read by both threads at once: the same. Lines
// of 200000 frames (400000 bytes) cross the chunks of 196608 frames; a
// record is made of a line only if every frame of it came.
class CountedBlocks final : public BlockSink {
 public:
  void Block(const BlockRecord&) override { ++blocks; }
  std::size_t blocks = 0;
};

TEST(ScanFault, EitherThreadsChunkFailsUnderLongLines) {
  const Bytes wav =
      testing::CanonicalWav({1, 8000, 16, 1}, testing::Repeat({0x00, 0x0A}, kFileFrames));
  constexpr std::uint64_t kChunk = kChunkBytes;  // 196608 two-byte frames
  constexpr std::uint64_t kLongLineBytes = 400000;
  for (const std::uint64_t chunk : {2u, 3u}) {  // this thread's chunk, then the worker's
    SCOPED_TRACE(chunk);
    const testing::ScratchDir dir;
    const std::uint64_t bad = 44 + chunk * kChunk + 5000;
    testing::FailingDisk disk(dir, wav, bad, bad + 1);
    SKIP_WITHOUT(disk);
    Source source;
    const ProbeResult probe = GetAttributes(disk.Path().c_str(), OpenSource, source);
    ASSERT_EQ(probe.status, ProbeStatus::kOk);
    ScanPlan plan = MakePlan(probe.attributes, 0, probe.attributes.frameCount, 200000, 1.0f);
    plan.worker = WorkerUse::kAlways;
    CountedBlocks blocks;
    const Stats stats = ScanBlocks(source, plan, blocks);
    EXPECT_EQ(source.error, EIO);
    CloseSource(source);
    // Every frame before the bad page, none past it, whole lines recorded.
    const std::uint64_t page = bad - bad % 4096;
    EXPECT_GE(stats.frames, (page - 44 - kChunk) / 2);
    EXPECT_LE(stats.frames, (bad - 44) / 2);
    EXPECT_EQ(blocks.blocks, stats.frames * 2 / kLongLineBytes);
  }
}

}  // namespace
}  // namespace ampdots
