// A disk that fails under the tool: reads of a file's bytes from some
// offset on fail with EIO, served by a small FUSE filesystem of the tests'
// own. Every run must end promptly: what was shown before the bad bytes
// stands, one line on standard error says why the picture stops, and the
// status is 2, never the summary and 0 of a whole picture.
#include "support/failing_disk.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::Ran;
using testing::Repeat;
using testing::ScratchDir;
using testing::WavBuilder;

// No run of these takes a second in a release build; thirty, even under
// the sanitizers, is a hang.
constexpr unsigned kBound = 30;

using testing::FailingDisk;

Ran RunFrom(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> all = {path};
  all.insert(all.end(), args.begin(), args.end());
  return testing::RunToolOn(all, open("/dev/null", O_RDONLY), "", false, kBound);
}

// The same run with standard input redirected from the file.
Ran RunRedirected(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-"};
  all.insert(all.end(), args.begin(), args.end());
  return testing::RunToolOn(all, open(path.c_str(), O_RDONLY), "", false, kBound);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// 16-bit stereo at 8000 Hz, both channels at level 10 (bytes 00 0A): lines of
// 400 frames (1600 bytes, the default resolution) with bars of ten dots,
// stamped at 0.03, 0.08, ... from the start.
constexpr std::uint32_t kRate = 8000;
constexpr std::size_t kLineBytes = 400 * 4;
const Bytes kFrame = {0x00, 0x0A, 0x00, 0x0A};

Bytes Level10Wav(std::size_t seconds) {
  return CanonicalWav({2, kRate, 16, 1}, Repeat(kFrame, kRate * seconds));
}

std::string LineAt(std::size_t k) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.2f",
                static_cast<double>(static_cast<float>(k * 400 + 200) / static_cast<float>(kRate)));
  return std::string(stamp) + "\t..........";
}

// A picture cut by the failing disk: the banner, then lines 0, 1, 2, ...
// as the whole picture has them, no fewer than `atLeast` and none that
// holds a bad byte (`before` lines lie wholly before the bad offset), then
// nothing; the error on standard error; status 2.
void ExpectCutPicture(const Ran& ran, const std::string& name, std::size_t atLeast,
                      std::size_t before) {
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "ampdots: cannot read " + name + ": Input/output error\n");
  const std::vector<std::string> lines = Lines(ran.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Ampdots 1.01 by Velbrand");
  EXPECT_GE(lines.size() - 1, atLeast);
  EXPECT_LE(lines.size() - 1, before);
  for (std::size_t k = 1; k < lines.size(); ++k) EXPECT_EQ(lines[k], LineAt(k - 1)) << k;
}

TEST(FailingDisk, BadBytesInsideTheInterval) {
  const ScratchDir dir;
  // 10 s, bad from 2 s on; the default resolution (a twentieth of a second).
  const std::uint64_t bad = 44 + 2 * kRate * 4;
  FailingDisk disk(dir, Level10Wav(10), bad);
  SKIP_WITHOUT(disk);
  const std::size_t before = (bad - 44) / kLineBytes;  // 40
  // The kernel reads whole pages: the page that holds the bad byte is lost.
  const std::size_t atLeast = (bad - bad % 4096 - 44) / kLineBytes;
  ExpectCutPicture(RunFrom(disk.Path(), {"0", "5"}), disk.Path(), atLeast, before);
  ExpectCutPicture(RunRedirected(disk.Path(), {"0", "5"}), "-", atLeast, before);
}

// 50 minutes, long enough for the scan to share its chunks with its
// second thread; bad bytes from line 2048 on.
TEST(FailingDisk, BadBytesInALongScan) {
  const ScratchDir dir;
  const Bytes wav = Level10Wav(3000);                      // 96 MB: the second thread takes part
  const std::uint64_t from = 44 + 2048 * kLineBytes + 84;  // 3276844, in line 2048, page 800
  FailingDisk disk(dir, wav, from);
  SKIP_WITHOUT(disk);
  const std::size_t before = (from - 44) / kLineBytes;
  const std::size_t atLeast = (from - from % 4096 - 44) / kLineBytes;
  for (const char* resolution : {"400", "1"}) {
    SCOPED_TRACE(resolution);
    const Ran ran = RunFrom(disk.Path(), {"0", "1e9", resolution});
    if (resolution[0] == '4') {
      ExpectCutPicture(ran, disk.Path(), atLeast, before);
    } else {
      // A line a frame: stamps of the frame index; count whole frames.
      EXPECT_EQ(ran.status, 2);
      EXPECT_EQ(ran.err, "ampdots: cannot read " + disk.Path() + ": Input/output error\n");
      const std::size_t lines = Lines(ran.out).size() - 1;
      EXPECT_GE(lines, (from - from % 4096 - 44) / 4);
      EXPECT_LE(lines, (from - 44) / 4);
      EXPECT_EQ(ran.out.find("Showing"), std::string::npos);
    }
  }
}

TEST(FailingDisk, BadFirstPageOfTheData) {
  const ScratchDir dir;
  // A JUNK chunk puts the data at 4096, the start of the second page.
  const Bytes wav = WavBuilder()
                        .Fmt({2, kRate, 16, 1})
                        .Chunk("JUNK", Bytes(4096 - 36 - 16, 0))
                        .Data(Repeat(kFrame, kRate))
                        .Finish();
  ASSERT_EQ(wav[4088], 'd');
  FailingDisk disk(dir, wav, 4096, 4097);
  SKIP_WITHOUT(disk);
  ExpectCutPicture(RunFrom(disk.Path(), {"0", "1"}), disk.Path(), 0, 0);
  ExpectCutPicture(RunRedirected(disk.Path(), {"0", "1"}), "-", 0, 0);
}

TEST(FailingDisk, BadHeader) {
  const ScratchDir dir;
  FailingDisk disk(dir, Level10Wav(1), 20, 21);
  SKIP_WITHOUT(disk);
  for (const Ran& ran :
       {RunFrom(disk.Path(), {"0", "1"}), RunRedirected(disk.Path(), {"0", "1"})}) {
    EXPECT_EQ(ran.out, testing::kBannerLine);
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find(": Input/output error\n"), std::string::npos) << ran.err;
  }
}

// Bytes that fail past the interval are never read: the picture is whole.
TEST(FailingDisk, BadBytesPastTheIntervalAreNeverRead) {
  const ScratchDir dir;
  FailingDisk disk(dir, Level10Wav(10), 44 + 8 * kRate * 4);
  SKIP_WITHOUT(disk);
  std::string picture;
  for (std::size_t k = 0; k < 20; ++k) picture += LineAt(k) + "\n";
  picture += "Showing values above -48 dB\nPeaks over interval -22.1 L -22.1 R\n";
  testing::ExpectRun(RunFrom(disk.Path(), {"0", "1"}), picture, 0);
  testing::ExpectRun(RunRedirected(disk.Path(), {"0", "1"}), picture, 0);
}

}  // namespace
}  // namespace ampdots
