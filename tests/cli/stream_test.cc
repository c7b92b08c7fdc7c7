// WAV streams from pipes and FIFOs, read once from front to back: for any
// bytes, the same output and status as the same bytes in a regular file.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::ExpectRun;
using testing::Format;
using testing::Repeat;
using testing::RunTool;
using testing::RunToolPiped;
using testing::ScratchDir;
using testing::WavBuilder;

const Format kMono16{1, 8000, 16, 1};
const Bytes kLevel10 = Repeat({0x00, 0x0A}, 800);  // 0.1 s at 8000 Hz
const std::string kTwoLines =
    "0.03\t..........\n0.08\t..........\n"
    "Showing values above -48 dB\nPeak over interval -22.1 dB\n";

struct Case {
  std::string name;
  Bytes file;
  std::vector<std::string> args;  // after the path
};

// Whatever varies between files and streams: every format, cut-short and
// placeholder sizes, headers inside and past the first 15034 bytes,
// intervals before, across and past the end.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  const struct {
    const char* name;
    Format format;
    Bytes frame;
  } formats[] = {
      {"pcm16", kMono16, {0x00, 0x0A}},
      {"pcm24_stereo", {2, 8000, 24, 1}, {0x00, 0x00, 0x40, 0x00, 0x00, 0xE0}},
      {"float_stereo", {2, 8000, 32, 3}, {0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x80, 0x3E}},
      {"pcm32", {1, 8000, 32, 1}, {0x00, 0x00, 0x00, 0x40}},
      {"pcm8_stereo", {2, 8000, 8, 1}, {0x94, 0x20}},
      {"mulaw", {1, 8000, 8, 7}, {0xA0}},
      {"alaw", {1, 8000, 8, 6}, {0xB5}},
  };
  for (const auto& f : formats) {
    cases.push_back({f.name, CanonicalWav(f.format, Repeat(f.frame, 1000)), {"0", "1"}});
  }
  const Bytes plain = CanonicalWav(kMono16, kLevel10);
  cases.push_back({"start_past_end", plain, {"5", "6"}});
  cases.push_back({"stop_before_end", plain, {"0", "0.05"}});
  cases.push_back({"frame_lines", plain, {"0.01", "0.0105", "1", "4"}});
  Bytes cut = WavBuilder().Fmt(kMono16).Data(kLevel10, 4000).Finish();
  cut.pop_back();  // the writer stopped in the middle of a frame
  cases.push_back({"cut_mid_frame", cut, {"0", "1"}});
  cases.push_back({"placeholder_ffffffff",
                   WavBuilder().Fmt(kMono16).Data(kLevel10, 0xFFFFFFFF).Finish(),
                   {"0", "9"}});
  cases.push_back({"placeholder_7ffff000",
                   WavBuilder().Fmt(kMono16).Data(kLevel10, 0x7FFFF000).Finish(),
                   {"0", "9"}});
  cases.push_back({"longer_than_the_head",
                   CanonicalWav({2, 44100, 16, 1}, Repeat({0x00, 0x10, 0x00, 0xF0}, 20000)),
                   {"0", "100"}});
  cases.push_back({"junk_past_the_head",
                   WavBuilder()
                       .Chunk("JUNK", Bytes(20001, 0))
                       .Fmt(kMono16)
                       .Chunk("LIST", {'d', 'a', 't', 'a', 2, 0, 0, 0, 0xFF, 0x7F})
                       .Data(kLevel10)
                       .Finish(),
                   {"0", "1"}});
  // The format chunk past the head, data right after it: the data's header
  // starts 10 bytes before the end of the format fields read.
  cases.push_back({"fmt_then_data_past_the_head",
                   WavBuilder().Chunk("JUNK", Bytes(16000, 0)).Fmt(kMono16).Data(kLevel10).Finish(),
                   {"0", "1"}});
  Bytes notRiff = plain;
  notRiff[0] = 'X';  // no walk: the search decides within the head
  cases.push_back({"tag_search", notRiff, {"0", "1"}});
  cases.push_back({"no_data", WavBuilder().Fmt(kMono16).Finish(), {"0", "1"}});
  cases.push_back({"empty", {}, {"0", "1"}});
  cases.push_back({"bad_interval", plain, {"1", "0"}});
  cases.push_back({"refused_layout", CanonicalWav({3, 8000, 16, 1}, Bytes(60, 1)), {"0", "1"}});
  return cases;
}

TEST(Stream, PipedBytesPrintWhatTheSameFilePrints) {
  const ScratchDir dir;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> fileArgs{dir.Write(c.name + ".wav", c.file)};
    fileArgs.insert(fileArgs.end(), c.args.begin(), c.args.end());
    const testing::Ran file = RunTool(fileArgs);
    for (const char* name : {"-", "/dev/stdin"}) {
      std::vector<std::string> args{name};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const testing::PipedRun piped = RunToolPiped(args, c.file);
      EXPECT_EQ(piped.ran.out, file.out) << name;
      EXPECT_EQ(piped.ran.status, file.status) << name;
      EXPECT_EQ(piped.ran.err, "") << name;
    }
  }
}

TEST(Stream, KnownPicturesThroughAPipe) {
  // Placeholder size: read to the end of the stream, which ends mid-frame.
  Bytes placeholder = WavBuilder().Fmt(kMono16).Data(kLevel10, 0xFFFFFFFF).Finish();
  placeholder.push_back(0x7F);
  ExpectRun(RunToolPiped({"-", "0", "1e9"}, placeholder).ran, kTwoLines, 0);
  // Frames past the stop are never read: the writer finds the pipe closed.
  const Bytes longStream = CanonicalWav(kMono16, Repeat({0x00, 0x0A}, 4000000));
  const testing::PipedRun stopped = RunToolPiped({"-", "0", "0.1"}, longStream);
  ExpectRun(stopped.ran, kTwoLines, 0);
  EXPECT_EQ(stopped.writerStatus, 3);
}

TEST(Stream, WalkPastTheHeadThatFailsCannotSearchAgain) {
  // A LIST claiming more than the stream holds, with "data" in its text.
  // A file falls back on the tag search, which finds that "data"; a stream
  // has read past its first 15034 bytes looking for the end of the LIST.
  Bytes file = WavBuilder()
                   .Fmt(kMono16)
                   .Chunk("LIST", {'d', 'a', 't', 'a', 16, 0, 0, 0})
                   .Data(Repeat({0x00, 0x0A}, 10000))
                   .Finish();
  file[40] = 0xFF;  // the LIST's size: 0xFF + 8, far past the end
  file[41] = 0xFF;
  file[42] = 0x01;
  const ScratchDir dir;
  const testing::Ran fromFile = RunTool({dir.Write("list.wav", file), "0", "0.001", "1"});
  EXPECT_EQ(fromFile.status, 0);
  ExpectRun(RunToolPiped({"-", "0", "0.001", "1"}, file).ran,
            "Can't find data block in wave file!\n", 2);
}

TEST(Stream, NamedFifoWaitsForItsWriterAsCatDoes) {
  const ScratchDir dir;
  const std::string fifo = dir.Path("fifo.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The writer comes 0.2 s after the tool has begun to wait on the FIFO.
  // Each side waits on the other's open, so each has a bound: a tool that
  // never opens the FIFO (one that failed to start, say) fails the test
  // instead of leaving the writer, and the test, waiting for good.
  const Bytes wav = CanonicalWav(kMono16, kLevel10);
  const pid_t writer = fork();
  if (writer == 0) {
    alarm(10);
    usleep(200000);
    const int fd = open(fifo.c_str(), O_WRONLY);
    _exit(fd >= 0 && write(fd, wav.data(), wav.size()) == static_cast<ssize_t>(wav.size()) ? 0 : 4);
  }
  ExpectRun(testing::RunToolOn({fifo, "0", "1"}, open("/dev/null", O_RDONLY), "", false, 10),
            kTwoLines, 0);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(testing::ExitStatus(status), 0);
}

// A scan long enough to share its chunks with the worker thread, whose
// lines are printed aside and put out in turn (copied when they fit in the
// output buffer, written straight from their block when not), prints what
// the same scan on one processor, which works alone, prints.
TEST(LongScan, TwoProcessorsPrintWhatOnePrints) {
  // 166 s of 16-bit stereo in lines of 7 frames: a million lines, bars of
  // up to about 120 dots.
  std::mt19937 random(11);
  Bytes frames(std::size_t{44100} * 166 * 4);
  for (std::size_t i = 0; i < frames.size(); i += 2) {
    const auto level = static_cast<std::uint32_t>(random() % 30000);
    frames[i] = static_cast<std::uint8_t>(level);
    frames[i + 1] = static_cast<std::uint8_t>(level >> 8);
  }
  const ScratchDir dir;
  const std::string path = dir.Write("long.wav", CanonicalWav({2, 44100, 16, 1}, frames));
  const testing::Ran two = RunTool({path, "0", "1e9", "7"});
  const testing::Ran one =
      testing::RunToolOn({path, "0", "1e9", "7"}, open("/dev/null", O_RDONLY), "", true);
  EXPECT_EQ(two.status, 0);
  EXPECT_GT(two.out.size(), std::size_t{1} << 25);
  EXPECT_TRUE(two.out == one.out) << "outputs differ";
  EXPECT_EQ(two.err, "");
}

TEST(Stream, TerminalsAreRefused) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal on this machine";
  }
  const std::string terminal = ptsname(master);
  for (const char* name : {"-", "/dev/stdin"}) {
    ExpectRun(RunTool({name, "0", "1"}, terminal),
              std::string("The file called ") + name + " cannot be found!\n", 2);
  }
  close(master);
}

}  // namespace
}  // namespace ampdots
