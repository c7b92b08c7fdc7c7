// Files and arguments a user may point the tool at by mistake or by bad
// luck. Each run must end promptly with the right text and status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace ampdots {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::CanonicalWav;
using testing::ExpectRun;
using testing::Format;
using testing::Repeat;
using testing::RunTool;
using testing::ScratchDir;
using testing::WavBuilder;

const Bytes kLevel10 = Repeat({0x00, 0x0A}, 800);  // 0.1 s of 8000 Hz mono
const std::string kSummary = "Showing values above -48 dB\nPeak over interval -22.1 dB\n";
const std::string kTwoLines = "0.03\t..........\n0.08\t..........\n" + kSummary;
constexpr char kBadInterval[] = "Stop or start time not set correctly\n";
constexpr char kNoTags[] =
    "Can't find format chunk in wave file!\nCan't find data block in wave file!\n";

struct Case {
  const char* name;
  Bytes file;
  std::vector<std::string> args;  // after the path
  std::string out;                // after the banner
  int status;
};

TEST(Hostile, HeadersAndArguments) {
  const Bytes plain = CanonicalWav({1, 8000, 16, 1}, kLevel10);
  std::mt19937 random(3);
  Bytes noise(4096);
  for (auto& b : noise) b = static_cast<std::uint8_t>(0x80 | random());  // no letters: no tags
  const Case cases[] = {
      {"claims_2GiB",
       WavBuilder().Fmt({1, 8000, 16, 1}).Data(kLevel10, 0x7FFFFFFF).Finish(),
       {"0", "1e40"},
       kTwoLines,
       0},
      {"claims_4GiB",
       WavBuilder().Fmt({1, 8000, 16, 1}).Data(kLevel10, 0xFFFFFFFF).Finish(),
       {"0", "1"},
       kTwoLines,
       0},
      {"widest_frames",
       CanonicalWav({65535, 8000, 65535, 1}, {}),
       {"0", "1"},
       "Unrecognized bit or channel configuration\n",
       1},
      {"rate_0", CanonicalWav({1, 0, 16, 1}, kLevel10), {"0", "1"}, kBadInterval, 1},
      {"rate_1", CanonicalWav({1, 1, 16, 1}, kLevel10), {"0", "1000"}, kSummary, 0},
      {"rate_19", CanonicalWav({1, 19, 16, 1}, kLevel10), {"0", "100"}, kSummary, 0},
      {"rate_max", CanonicalWav({1, 4294967295, 16, 1}, kLevel10), {"0", "1"}, kSummary, 0},
      {"empty", {}, {"0", "1"}, kNoTags, 2},
      {"noise", noise, {"0", "1"}, kNoTags, 2},
      {"start_huge", plain, {"1e40", "1e41"}, kBadInterval, 1},
      {"start_minus_inf", plain, {"-inf", "1"}, kTwoLines, 0},
      {"start_nan", plain, {"nan", "1"}, kTwoLines, 0},
      {"stop_nan", plain, {"0", "nan"}, kBadInterval, 1},
      {"resolution_max", plain, {"0", "1", "4294967295"}, kTwoLines, 0},
      {"resolution_minus_1", plain, {"0", "1", "-1"}, kTwoLines, 0},
      {"magnification_inf", plain, {"0", "1", "0", "inf"}, kTwoLines, 0},
      {"magnification_nan",
       plain,
       {"0", "1", "0", "nan"},
       "0.03\t\n0.08\t\nShowing values above nan dB\nPeak over interval -22.1 dB\n",
       0},
  };
  const ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{dir.Write(std::string(c.name) + ".wav", c.file)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectRun(RunTool(args), c.out, c.status);
  }
}

TEST(Hostile, FloatInfinitiesAndNotANumbersKeepBarsBounded) {
  Bytes frames;
  for (int i = 0; i < 2; ++i) {
    for (std::uint32_t bits : {0x7F800000u, 0x7FC00000u, 0x7F61B1E6u, 0xFF800000u}) {  // 3e38 third
      testing::PutLe32(frames, bits);
    }
  }
  const ScratchDir dir;
  const std::string path = dir.Write("extremes.wav", CanonicalWav({1, 8000, 32, 3}, frames));
  // Every level is far above full scale: every bar is the longest.
  const std::string bar = std::string(32768, '.') + "\n";
  std::string lines;
  for (int t = 1; t <= 8; ++t)
    lines += (t < 4 ? "0.000\t" : "0.001\t") + std::to_string(t) + "\t" + bar;
  // The largest level is the not-a-number's, 1.5 x 2^135.
  ExpectRun(RunTool({path, "0", "1", "1", "256"}),
            lines + "Showing values above -96 dB\nPeak over interval 774.2 dB\n", 0);
}

TEST(Hostile, PathsThatAreNotRegularFiles) {
  const ScratchDir dir;
  const std::string dangling = dir.Path("dangling.wav");
  fs::create_symlink(dir.Path("nowhere.wav"), dangling);
  for (const std::string& path : {std::string("/dev/null"), dangling}) {
    ExpectRun(RunTool({path, "0", "1"}), "The file called " + path + " cannot be found!\n", 2);
  }
}

TEST(Hostile, UnwritableOutputIsAFailure) {
  const ScratchDir dir;
  const std::string path = dir.Write("full.wav", CanonicalWav({1, 8000, 16, 1}, kLevel10));
  const testing::Ran full = RunTool({path, "0", "1"}, "/dev/null", "/dev/full");
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.err, "ampdots: cannot write to standard output: No space left on device\n");
  // A reader that has gone: the run ends quietly, by SIGPIPE as pipelines expect.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const testing::Ran closed =
      RunTool({path, "0", "1"}, "/dev/null", "/proc/self/fd/" + std::to_string(fds[1]));
  close(fds[1]);
  EXPECT_EQ(closed.status, 128 + SIGPIPE);
  EXPECT_EQ(closed.err, "");
}

// Where sparse files are cheap to read whole: on a disk's file system every
// hole read fills the page cache with zeroed pages, seconds a GiB and far
// more when memory is short, while tmpfs copies holes from the one zero
// page. Elsewhere, the usual temporary directory.
std::string SparseBase() {
  struct statfs fs {};
  if (statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm/";
  }
  return ::testing::TempDir();
}

// Sparse files of about 4 GiB with a valid header and a few frames written
// near their end: offsets past 2 GiB and frame indices past 2^31.
class SparseFile : public ::testing::Test {
 protected:
  std::string Make(const char* name, const Format& format, std::uint32_t dataSize,
                   const std::vector<std::pair<std::uint64_t, Bytes>>& writes) const {
    const std::string path = dir_.Path(name);
    const Bytes head = WavBuilder().Fmt(format).Data({}, dataSize).Finish();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && ftruncate(fd, 44 + off_t{dataSize}) == 0 &&
              pwrite(fd, head.data(), head.size(), 0) == 44;
    for (const auto& [offset, bytes] : writes) {
      ok = ok && pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                     static_cast<ssize_t>(bytes.size());
    }
    close(fd);
    EXPECT_TRUE(ok);
    return path;
  }
  const ScratchDir dir_{SparseBase()};
};

TEST_F(SparseFile, SixteenBitFramesPast2GiB) {
  // 1024 Hz mono, 2^31 - 1 frames. Frames 2^30 + 1280 to + 1535 (past byte
  // 2^31) hold level 64; frame 2^31 - 10 holds -128.
  constexpr std::uint64_t kLine2 = (1u << 30) + 1280;
  const std::string path = Make(
      "sparse16.wav", {1, 1024, 16, 1}, 0xFFFFFFFE,
      {{44 + 2 * kLine2, Repeat({0x00, 0x40}, 256)}, {44 + 2 * ((1ull << 31) - 10), {0x00, 0x80}}});
  // Lines of 256 frames from frame 2^30 + 1024; time stamps land on ties
  // (k + 0.125, + 0.375, ...), which round to even.
  ExpectRun(
      RunTool({path, "1048577", "1048578", "256"}),
      "1048577.12\t\n1048577.38\t" + std::string(64, '.') +
          "\n1048577.62\t\n1048577.88\t\nShowing values above -48 dB\nPeak over interval -6.0 dB\n",
      0);
  // The last frames of the file: 2^31 - 128 to 2^31 - 2, fewer than a line.
  ExpectRun(RunTool({path, "2097151.875", "1e9", "256"}),
            "Showing values above -48 dB\nPeak over interval 0.0 dB\n", 0);
}

TEST_F(SparseFile, FrameIndicesPast2To31) {
  // 8-bit mono at 1024 Hz, almost 2^32 frames. The holes read as byte 0,
  // the lowest 8-bit level, -128: every one-frame bar is 128 dots.
  const std::string path = Make("sparse8.wav", {1, 1024, 8, 1}, 0xFFFFFFF0, {});
  const testing::Ran ran = RunTool({path, "2929687.5", "2929687.75", "1"});
  EXPECT_EQ(ran.status, 0);
  // 256 lines from frame 3000000000; float stamps step by 256 frames here.
  const std::string bar = std::string(128, '.') + "\n";
  EXPECT_TRUE(ran.out.starts_with(std::string(testing::kBannerLine) + "2929687.500\t3000000001\t" +
                                  bar + "2929687.500\t3000000002\t" + bar))
      << ran.out.substr(0, 100);
  EXPECT_NE(ran.out.find("\n2929687.750\t3000000256\t" + bar +
                         "Showing values above -48 dB\nPeak over interval 0.0 dB\n"),
            std::string::npos);
}

// Whole files of 2.5 GiB, 3.9 GiB and just over 4 GiB, and their last
// seconds: every offset and length past 2^31 and 2^32 is read as it lies,
// and the tool's memory stays that of a short file. 16-bit mono at 8192 Hz
// in lines of a second: silent but for 128 frames of level 64 that end the
// last whole line (a bar of exactly one dot) and the file's last frame,
// -32768 (level 128, the peak). A line's stamp is its second + 0.5.
TEST_F(SparseFile, WholeFilesPast2And4GiB) {
  const struct {
    const char* name;
    std::uint32_t dataSize;
  } files[] = {
      {"2.5GiB.wav", 0xA0000000},  // 1342177280 frames, 163840 whole lines
      {"3.9GiB.wav", 4187593112},  // 2093796556 frames, 255590 whole lines
      {"4GiB.wav", 0xFFFFFFFE},    // 2^31 - 1 frames, 262143 whole lines; 4294967338 bytes
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::uint64_t frames = f.dataSize / 2;
    const std::uint64_t lines = frames / 8192;
    const std::string path = Make(f.name, {1, 8192, 16, 1}, f.dataSize,
                                  {{44 + 2 * (lines * 8192 - 128), Repeat({0x00, 0x40}, 128)},
                                   {44 + 2 * (frames - 1), {0x00, 0x80}}});
    const std::string summary = "Showing values above -48 dB\nPeak over interval 0.0 dB\n";
    std::string whole;
    for (std::uint64_t k = 0; k + 1 < lines; ++k) whole += std::to_string(k) + ".50\t\n";
    const std::string last = std::to_string(lines - 1) + ".50\t.\n";
    // A minute at most, seconds even under an emulator: a run that hangs
    // fails here (status 142), naming its file, before the suite's limit.
    const testing::Ran ran =
        testing::RunToolOn({path, "0", "1e9", "8192"}, open("/dev/null", O_RDONLY), "", false, 60);
    ExpectRun(ran, whole + last + summary, 0);
    // Read, not held: a few MiB whatever the file (an emulator's own
    // memory would not say anything of the tool's).
    if (!testing::Emulated()) {
      EXPECT_LT(ran.peakKiB, 64 * 1024);
    }
    ExpectRun(RunTool({path, std::to_string(lines - 1), "1e9", "8192"}), last + summary, 0);
  }
}

// An RF64 file with 4.5 GiB of data, its size in ds64: the frames past
// 4 GiB of data are shown. 16-bit mono at 8192 Hz; the last whole line ends
// with 128 frames of level 64 and the file's last frame, -32768.
TEST_F(SparseFile, Rf64DataPast4GiB) {
  constexpr std::uint64_t kDataSize = std::uint64_t{9} << 29;  // 4.5 GiB
  constexpr std::uint64_t kFrames = kDataSize / 2;             // 294912 lines of 8192
  Bytes ds64(28, 0);
  for (int i = 0; i < 8; ++i)
    ds64[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(kDataSize >> (8 * i));
  Bytes head = WavBuilder().Chunk("ds64", ds64).Fmt({1, 8192, 16, 1}).Data({}, 0xFFFFFFFF).Finish();
  std::memcpy(head.data(), "RF64", 4);
  const std::uint64_t data = head.size();  // 80
  const std::string path = dir_.Path("long.rf64");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const Bytes loud = Repeat({0x00, 0x40}, 127);
  const Bytes last = {0x00, 0x80};
  bool ok = fd >= 0 && ftruncate(fd, static_cast<off_t>(data + kDataSize)) == 0 &&
            pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
            pwrite(fd, loud.data(), loud.size(), static_cast<off_t>(data + 2 * (kFrames - 128))) ==
                static_cast<ssize_t>(loud.size()) &&
            pwrite(fd, last.data(), 2, static_cast<off_t>(data + 2 * (kFrames - 1))) == 2;
  close(fd);
  ASSERT_TRUE(ok);
  // Line 294911, frames 2415910912 to the last: 127 x 64 + 128 = 8256, a
  // bar of one dot; the peak is the last frame's.
  ExpectRun(RunTool({path, "294911", "1e9", "8192"}),
            "294911.50\t.\nShowing values above -48 dB\nPeak over interval 0.0 dB\n", 0);
}

}  // namespace
}  // namespace ampdots
