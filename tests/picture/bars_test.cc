// The picture's options worked by hand: dB bars of a square of known
// level, a float over cut at the width, lines fitted to an hour, a dead
// channel under --split, eighth blocks, clip marks, silences from a file
// and a stream alike, and the combinations refused.
#include "picture/bars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "support/memory_run.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::MemoryFiles;
using testing::PutLe16;
using testing::Repeat;
using testing::RunInMemory;

std::string Dots(std::size_t n) { return std::string(n, '.'); }

// 16-bit mono at 8000 Hz alternating +-104 every 20 frames: 104/32768 is
// -49.97 dBFS, so its peak and RMS stand 10.03 dB above a -60 dB floor.
Bytes SquareAtMinus50() {
  Bytes frames;
  for (int i = 0; i < 8000; ++i) PutLe16(frames, (i / 20) % 2 == 0 ? 104 : 0x10000 - 104);
  return CanonicalWav({1, 8000, 16, 1}, frames);
}

TEST(Bars, DecibelsAboveTheFloorTimesTheMagnification) {
  MemoryFiles()["square.wav"] = SquareAtMinus50();
  const std::string tail = "Showing values above -60 dB\nPeak over interval -50.0 dB\n";
  const std::string line = "0.25\t" + Dots(10) + "\n0.75\t" + Dots(10) + "\n";
  EXPECT_EQ(RunInMemory({"--db", "square.wav", "0", "1", "4000"}).out,
            std::string(kBanner) + "\n" + line + tail);
  EXPECT_EQ(RunInMemory({"--db", "--level=peak", "square.wav", "0", "1", "4000"}).out,
            std::string(kBanner) + "\n" + line + tail);
  const testing::RunResult twice = RunInMemory({"--db", "square.wav", "0", "1", "4000", "2"});
  EXPECT_EQ(twice.out,
            std::string(kBanner) + "\n0.25\t" + Dots(20) + "\n0.75\t" + Dots(20) + "\n" + tail);
  // A floor above the square draws nothing; 70 dB of room draws 20 dots.
  EXPECT_EQ(RunInMemory({"--db=-40", "square.wav", "0", "0.5", "4000"}).out,
            std::string(kBanner) +
                "\n0.25\t\nShowing values above -40 dB\nPeak over interval -50.0 dB\n");
  EXPECT_NE(RunInMemory({"--db=-70", "square.wav", "0", "0.5", "4000"})
                .out.find("0.25\t" + Dots(20) + "\n"),
            std::string::npos);
}

TEST(Bars, AFloatOverEndsInAMarkAtTheWidth) {
  Bytes frames;
  for (int i = 0; i < 8000; ++i) testing::PutFloat(frames, 2.0f);
  MemoryFiles()["over.wav"] = CanonicalWav({1, 8000, 32, 3}, frames);
  const testing::RunResult r = RunInMemory({"--width=40", "over.wav", "0", "0.5", "4000"});
  // The stamp's tab takes the line to column 8: 31 dots and the mark fill
  // columns 9 to 40.
  EXPECT_NE(r.out.find("\n0.25\t" + Dots(31) + ">\n"), std::string::npos) << r.out;
  // Full scale exactly fills the width and is no over.
  Bytes full;
  for (int i = 0; i < 8000; ++i) testing::PutFloat(full, i % 2 == 0 ? 1.0f : -1.0f);
  MemoryFiles()["full.wav"] = CanonicalWav({1, 8000, 32, 3}, full);
  EXPECT_NE(RunInMemory({"--width=40", "--level=peak", "full.wav", "0", "0.5", "4000"})
                .out.find("\n0.25\t" + Dots(32) + "\n"),
            std::string::npos);
  // In dB, full scale is 0 dBFS: 60 dB of room in 32 columns.
  EXPECT_NE(RunInMemory({"--width=40", "--db", "full.wav", "0", "0.5", "4000"})
                .out.find("\n0.25\t" + Dots(32) + "\n"),
            std::string::npos);
}

TEST(Bars, LinesFitTheIntervalHoweverLongTheyAre) {
  // An hour of 8 kHz mono in 60 lines: 480000 frames, a minute each,
  // stamped at their middles.
  MemoryFiles()["hour.wav"] = CanonicalWav({1, 8000, 16, 1}, Bytes(std::size_t{2} * 28800000, 0));
  const testing::RunResult r = RunInMemory({"--lines=60", "hour.wav", "0", "3600"});
  EXPECT_EQ(r.status, 0);
  std::string expected = std::string(kBanner) + "\n";
  for (int i = 0; i < 60; ++i) expected += std::to_string(30 + 60 * i) + ".00\t\n";
  EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  EXPECT_EQ(r.out.substr(expected.size()).find("Showing"), 0u);
  const testing::RunResult json = RunInMemory({"--json", "--lines=60", "hour.wav", "0", "3600"});
  EXPECT_NE(json.out.find("\"frame\":28320000,\"frames\":480000,"), std::string::npos);
  // 7 lines for 100 frames: 15 a line, the last 10 unfinished and not drawn.
  MemoryFiles()["short.wav"] = CanonicalWav({1, 8000, 16, 1}, Bytes(200, 0));
  const std::string lines = RunInMemory({"--lines=7", "short.wav", "0", "1"}).out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1 + 6 + 2);
  Surroundings terminal;
  terminal.rows = 8;  // less the banner, threshold and peak lines: 5
  const std::string fitted = RunInMemory({"--lines=auto", "short.wav", "0", "1"}, terminal).out;
  EXPECT_EQ(std::count(fitted.begin(), fitted.end(), '\n'), 1 + 5 + 2);
}

TEST(Bars, SplitShowsADeadChannel) {
  // Left constant at -0.5 (RMS 0.5: 64 units), right silent.
  MemoryFiles()["dead.wav"] = CanonicalWav({2, 8000, 16, 1}, Repeat({0x00, 0xC0, 0, 0}, 800));
  const testing::RunResult r =
      RunInMemory({"--split", "--level=rms", "dead.wav", "0", "0.1", "400"});
  EXPECT_EQ(r.out, std::string(kBanner) + "\n0.03\t1\t" + Dots(64) + "\n0.03\t2\t\n0.08\t1\t" +
                       Dots(64) + "\n0.08\t2\t\nShowing values above -48 dB\n" +
                       "Peaks over interval -6.0 L -inf R\n");
  // --split alone measures RMS too; the mean cannot be split.
  EXPECT_EQ(RunInMemory({"--split", "dead.wav", "0", "0.1", "400"}).out, r.out);
  EXPECT_EQ(RunInMemory({"--split", "--level=mean", "dead.wav", "0", "0.1", "400"}).status, 1);
}

TEST(Bars, EighthBlocksOnlyInAUtf8Locale) {
  // A peak of 8288/32768: 32.375 units, 32 full blocks and three eighths.
  MemoryFiles()["eighths.wav"] = CanonicalWav({1, 8000, 16, 1}, Repeat({0x60, 0x20}, 400));
  Surroundings utf8;
  utf8.utf8 = true;
  std::string bar;
  for (int i = 0; i < 32; ++i) bar += "\u2588";
  bar += "\u258D";
  const testing::RunResult r =
      RunInMemory({"--unicode", "--level=peak", "eighths.wav", "0", "0.05", "400"}, utf8);
  EXPECT_EQ(r.out.substr(0, r.out.find("Showing")), std::string(kBanner) + "\n0.03\t" + bar + "\n");
  const testing::RunResult refused =
      RunInMemory({"--unicode", "--level=peak", "eighths.wav", "0", "0.05", "400"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "ampdots: --unicode needs a UTF-8 locale\nTry 'ampdots --help'.\n");
  EXPECT_TRUE(LocaleIsUtf8(nullptr, nullptr, "en_GB.UTF-8"));
  EXPECT_TRUE(LocaleIsUtf8("", "C.utf8", "C"));
  EXPECT_FALSE(LocaleIsUtf8("C", "en_GB.UTF-8", "en_GB.UTF-8"));  // LC_ALL decides
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, nullptr));
}

TEST(Bars, ClippedBlocksAndRunsFromAFileAndAStream) {
  // 16-bit mono at 8000 Hz: 0.5 s of -0.5, with the top rail in frames
  // 2000-2002; then 2.5 s of digital silence; then 0.5 s of -0.5 ending on
  // the bottom rail (the last two frames).
  Bytes frames = Repeat({0x00, 0xC0}, 4000);
  for (std::size_t f = 2000; f < 2003; ++f) {
    frames[2 * f] = 0xFF;
    frames[2 * f + 1] = 0x7F;
  }
  const Bytes silence(2 * 20000, 0);
  frames.insert(frames.end(), silence.begin(), silence.end());
  const Bytes tail = Repeat({0x00, 0xC0}, 3998);
  frames.insert(frames.end(), tail.begin(), tail.end());
  for (int i = 0; i < 2; ++i) {
    frames.push_back(0x00);
    frames.push_back(0x80);
  }
  MemoryFiles()["takes.wav"] = CanonicalWav({1, 8000, 16, 1}, frames);
  const std::vector<std::string> args{"--clips", "--silence", "takes.wav", "0", "4", "4000"};
  const testing::RunResult file = RunInMemory(args);
  EXPECT_EQ(file.status, 0);
  const std::string expected =
      "0.25\t" + Dots(64) + "!\n0.75\t\n1.25\t\n1.75\t\n2.25\t\n2.75\t\n" + "3.25\t" + Dots(64) +
      "!\n" + "Silence 0.500000 to 3.000000 s (2.500000 s)\n" +
      "Clipped channel 1 at 0.250000 s: 3 samples\n" +
      "Clipped channel 1 at 3.499750 s: 2 samples\n" + "Showing values above -48 dB\n";
  EXPECT_EQ(file.out.substr(0, std::string(kBanner).size() + 1 + expected.size()),
            std::string(kBanner) + "\n" + expected);
  const std::vector<std::string> shaped{"--db",    "--width=60", "--split", "--lines=3",
                                        "--clips", "takes.wav",  "0",       "4"};
  const testing::RunResult shapedFile = RunInMemory(shaped);
  EXPECT_NE(shapedFile.out.find("!\n"), std::string::npos);
  testing::StreamPiece() = 1000;
  const testing::RunResult stream = RunInMemory(args);
  const testing::RunResult shapedStream = RunInMemory(shaped);
  testing::StreamPiece() = 0;
  EXPECT_EQ(stream.out, file.out);
  EXPECT_EQ(shapedStream.out, shapedFile.out);
  // A stretch a frame shorter than asked is none: 2.5 s is 20000 frames.
  EXPECT_NE(RunInMemory({"--silence=-60:2.5", "takes.wav", "0", "4", "4000"}).out.find("Silence"),
            std::string::npos);
  EXPECT_EQ(
      RunInMemory({"--silence=-60:2.500125", "takes.wav", "0", "4", "4000"}).out.find("Silence"),
      std::string::npos);
}

TEST(Bars, TheMeanFromRecordsIsThePlainPicture) {
  // A rising ramp at lines of several lengths, some of them past a chunk:
  // listing silences must not change a dot of the picture.
  Bytes frames;
  for (int i = 0; i < 60000; ++i) PutLe16(frames, static_cast<std::uint32_t>(i % 65536) ^ 0x8000);
  MemoryFiles()["ramp.wav"] = CanonicalWav({1, 8000, 16, 1}, frames);
  // (Intervals short enough that the text fits a memory output.)
  const std::pair<const char*, const char*> runs[] = {
      {"1", "0.05"}, {"7", "0.5"}, {"400", "7.5"}, {"8000", "7.5"}};
  for (const auto& [resolution, stop] : runs) {
    const testing::RunResult plain = RunInMemory({"ramp.wav", "0", stop, resolution});
    const testing::RunResult drawn =
        RunInMemory({"--silence=-200:1000", "ramp.wav", "0", stop, resolution});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(drawn.out, plain.out) << resolution;
  }
}

TEST(Bars, OptionsThatCannotBeRun) {
  MemoryFiles()["square.wav"] = SquareAtMinus50();
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--json", "--db", "square.wav", "0", "1"},
       "this option shapes the picture, not --json or --csv: '--db'"},
      {{"--csv", "--split", "square.wav", "0", "1"},
       "this option shapes the picture, not --json or --csv: '--split'"},
      {{"--csv", "--silence", "square.wav", "0", "1"},
       "this option cannot be combined with --csv: '--silence'"},
      {{"--lines=5", "square.wav", "0", "1", "400"},
       "--lines and a RESOLUTION argument cannot be combined"},
      {{"--db=-201", "square.wav", "0", "1"}, "invalid value: '--db=-201'"},
      {{"--db=0", "square.wav", "0", "1"}, "invalid value: '--db=0'"},
      {{"--width=19", "square.wav", "0", "1"}, "invalid value: '--width=19'"},
      {{"--lines=0", "square.wav", "0", "1"}, "invalid value: '--lines=0'"},
      {{"--level=loud", "square.wav", "0", "1"}, "invalid value: '--level=loud'"},
      {{"--silence=-60:0", "square.wav", "0", "1"}, "invalid value: '--silence=-60:0'"},
      {{"--width", "square.wav", "0", "1"}, "this option needs a value: '--width'"},
      {{"--clips=1", "square.wav", "0", "1"}, "this option takes no value: '--clips=1'"},
  };
  for (const auto& c : cases) {
    const testing::RunResult r = RunInMemory(c.args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ampdots: " + c.message + "\nTry 'ampdots --help'.\n");
  }
}

TEST(Bars, WidthAutoAsksTheTerminalThenColumnsThen80) {
  MemoryFiles()["square.wav"] = SquareAtMinus50();
  const auto widest = [](const Surroundings& around) {
    const std::string out =
        RunInMemory({"--width=auto", "--level=peak", "square.wav", "0", "0.5", "4000"}, around).out;
    // The one bar: peak 104/32768 of full scale, in the columns after 8.
    const std::size_t start = out.find("0.25\t") + 5;
    return out.find('\n', start) - start;
  };
  const auto cells = [](double columns) {
    return static_cast<std::size_t>(104.0 / 32768.0 * (columns - 8));
  };
  Surroundings around;
  EXPECT_EQ(widest(around), cells(80));
  around.columnsVariable = "1000";
  EXPECT_EQ(widest(around), cells(1000));
  around.columns = 600;
  EXPECT_EQ(widest(around), cells(600));
}

// Every layout the tool reads, at -0.5 of full scale in every channel:
// peaks of -6.02 dBFS, 53 dots above a -60 dB floor, on each channel's
// line; and a stretch of silence after it, listed alike.
TEST(Bars, EveryLayout) {
  struct Layout {
    const char* name;
    testing::Format format;
    Bytes sample;  // -0.5
  };
  const Layout layouts[] = {
      {"8-bit", {1, 8000, 8, 1}, {0x40}},
      {"16-bit", {1, 8000, 16, 1}, {0x00, 0xC0}},
      {"24-bit", {2, 8000, 24, 1}, {0x00, 0x00, 0xC0}},
      {"32-bit", {1, 8000, 32, 1}, {0x00, 0x00, 0x00, 0xC0}},
      {"float", {2, 8000, 32, 3}, {0x00, 0x00, 0x00, 0xBF}},
      {"double", {1, 8000, 64, 3}, {0, 0, 0, 0, 0, 0, 0xE0, 0xBF}},
      {"16-bit x6", {6, 8000, 16, 1}, {0x00, 0xC0}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::uint32_t channels = layout.format.channels;
    Bytes frames = Repeat(layout.sample, 4000 * channels);
    const Bytes quiet(layout.sample.size() * 4000 * channels,
                      layout.format.bitsPerSample == 8 ? 0x80 : 0x00);
    frames.insert(frames.end(), quiet.begin(), quiet.end());
    MemoryFiles()["layout.wav"] = CanonicalWav(layout.format, frames);
    const testing::RunResult r = RunInMemory(
        {"--db", "--level=peak", "--split", "--silence=-60:0.5", "layout.wav", "0", "1", "4000"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string lines;
    for (std::uint32_t c = 1; c <= channels; ++c) {
      lines += "0.25\t" + std::to_string(c) + "\t" + Dots(53) + "\n";
    }
    for (std::uint32_t c = 1; c <= channels; ++c) lines += "0.75\t" + std::to_string(c) + "\t\n";
    EXPECT_EQ(
        r.out.substr(0, r.out.find("Showing")),
        std::string(kBanner) + "\n" + lines + "Silence 0.500000 to 1.000000 s (0.500000 s)\n");
  }
}

// A line longer than a chunk of float frames, all -0.5: its mean draws 64
// dots, its peak in dB 53 (the peak's bar needs no sum of the line).
TEST(Bars, OneLongFloatLine) {
  Bytes frames;
  for (int i = 0; i < 300000; ++i) testing::PutFloat(frames, -0.5f);
  MemoryFiles()["long.wav"] = CanonicalWav({1, 8000, 32, 3}, frames);
  const std::string tail = "Peak over interval -6.0 dB\n";
  EXPECT_EQ(
      RunInMemory({"--lines=1", "long.wav", "0", "100"}).out,
      std::string(kBanner) + "\n18.75\t" + Dots(64) + "\nShowing values above -48 dB\n" + tail);
  EXPECT_EQ(
      RunInMemory({"--lines=1", "--db", "--level=peak", "long.wav", "0", "100"}).out,
      std::string(kBanner) + "\n18.75\t" + Dots(53) + "\nShowing values above -60 dB\n" + tail);
}

TEST(Bars, CellsAndColumns) {
  ScanPlan plan;
  plan.magnification = 1.0f;
  BarStyle style;
  style.db = true;
  // 0.1 of full scale is 20 log10(0.1) dBFS, a hair off -20: still 40 dots.
  EXPECT_EQ(CellsOf(style, plan, 0.1 * 128, 0).steps, 40u);
  EXPECT_EQ(CellsOf(style, plan, 0.0, 0).steps, 0u);
  EXPECT_EQ(CellsOf(style, plan, std::nan(""), 0).steps, 0u);
  style.unicode = true;
  EXPECT_EQ(CellsOf(style, plan, 0.1 * 128, 0).steps, 320u);
  EXPECT_EQ(Columns("1.00\t", 5), 8u);
  EXPECT_EQ(Columns("0.001\t4\t", 8), 16u);
  EXPECT_EQ(Columns("10000000.00\t", 12), 16u);
}

}  // namespace
}  // namespace ampdots
