// Runs the built ampdots binary and checks its whole standard output, that
// standard error stays empty, and the exit status.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/run_tool.h"

namespace ampdots {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::CanonicalWav;
using testing::ExpectRun;
using testing::Repeat;
using testing::RunTool;
using testing::ScratchDir;

TEST(Cli, UsageTextWithFewerThanThreeArguments) {
  EXPECT_EQ(RunTool({}).status, 1);
  ExpectRun(RunTool({"only", "two"}),
            "This program will print a basic waveform image\n"
            "Run with command line argument 1 being the name of the wavefile\n"
            "Arguments 2 and 3 are the start/stop times in seconds to scan within the file.\n"
            "Argument 4 (optional) is resolution in samples.  Default = samplerate / 20 \n"
            "Argument 5 (optional) is magnification: Above 1 magnifies (256 is the max).  "
            "Between 0 and 1 zooms out.\n",
            1);
}

TEST(Cli, EverySampleFormatShowsItsLevel) {
  // One line of 400 frames at 8000 Hz, every frame alike.
  const struct {
    const char* name;
    testing::Format format;
    Bytes frame;
    std::size_t dots;
    const char* peaks;
    bool extensible = false;
  } rows[] = {
      {"pcm16_mono", {1, 8000, 16, 1}, {0x00, 0x14}, 20, "Peak over interval -16.1 dB"},
      {"pcm16_stereo",
       {2, 8000, 16, 1},
       {0x00, 0x14, 0x00, 0xEC},
       20,
       "Peaks over interval -16.1 L -16.1 R"},
      {"pcm24_mono", {1, 8000, 24, 1}, {0x00, 0x00, 0x40}, 64, "Peak over interval -6.0 dB"},
      {"pcm24_stereo",
       {2, 8000, 24, 1},
       {0x00, 0x00, 0x40, 0x00, 0x00, 0x20},
       48,
       "Peaks over interval -6.0 L -12.0 R"},
      {"float_mono", {1, 8000, 32, 3}, {0x00, 0x00, 0x80, 0x3E}, 32, "Peak over interval -12.0 dB"},
      {"float_stereo",
       {2, 8000, 32, 3},
       {0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x80, 0x3E},
       48,
       "Peaks over interval -6.0 L -12.0 R"},
      // Unsigned 8-bit: 0x94 is 148, level 20.
      {"pcm8_mono", {1, 8000, 8, 1}, {0x94}, 20, "Peak over interval -16.1 dB"},
      // mu-law 0xA0 expands to 7932 (level 30.98); A-law 0xB5 to 8448 (33).
      {"mulaw_mono", {1, 8000, 8, 7}, {0xA0}, 30, "Peak over interval -12.3 dB"},
      {"alaw_stereo", {2, 8000, 8, 6}, {0xB5, 0x35}, 33, "Peaks over interval -11.8 L -11.8 R"},
      // 32-bit integers: 2^30 is level 64, and so is -2^30.
      {"pcm32_mono", {1, 8000, 32, 1}, {0x00, 0x00, 0x00, 0x40}, 64, "Peak over interval -6.0 dB"},
      {"pcm32_stereo",
       {2, 8000, 32, 1},
       {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0},
       64,
       "Peaks over interval -6.0 L -6.0 R"},
      {"ext_float_stereo",
       {2, 8000, 32, 3},
       {0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x80, 0x3E},
       48,
       "Peaks over interval -6.0 L -12.0 R",
       true},
      {"ext_pcm32_mono",
       {1, 8000, 32, 1},
       {0x00, 0x00, 0x00, 0x40},
       64,
       "Peak over interval -6.0 dB",
       true},
      // 12 bits in 2 bytes and 20 bits in 3, as writers store them.
      {"pcm12_mono", {1, 8000, 12, 1}, {0x00, 0x14}, 20, "Peak over interval -16.1 dB"},
      {"pcm20_mono", {1, 8000, 20, 1}, {0x00, 0x00, 0x40}, 64, "Peak over interval -6.0 dB", true},
  };
  const ScratchDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes frames = Repeat(row.frame, 400);
    const std::string path = dir.Write(
        row.name, testing::WavBuilder().Fmt(row.format, row.extensible).Data(frames).Finish());
    ExpectRun(RunTool({path, "0", "1"}),
              "0.03\t" + std::string(row.dots, '.') + "\nShowing values above -48 dB\n" +
                  row.peaks + "\n",
              0);
  }
}

TEST(Cli, FilesLinksAndRedirectedStandardInput) {
  const ScratchDir dir;
  const std::string wav =
      dir.Write("regular.wav", CanonicalWav({1, 8000, 16, 1}, Repeat({0, 3}, 400)));
  const std::string result =
      "0.03\t...\nShowing values above -48 dB\nPeak over interval -32.6 dB\n";
  const std::string link = dir.Path("link.wav");
  fs::create_symlink(wav, link);
  ExpectRun(RunTool({link, "0", "1"}), result, 0);
  ExpectRun(RunTool({"/dev/stdin", "0", "1"}, wav), result, 0);
  ExpectRun(RunTool({"-", "0", "1"}, wav), result, 0);

  for (const std::string& path : {dir.Path(""), std::string("/dev/zero"), dir.Path("absent.wav")}) {
    ExpectRun(RunTool({path, "0", "1"}), "The file called " + path + " cannot be found!\n", 2);
  }
}

TEST(Cli, PathLongerThan255CharactersIsOpenedAsGiven) {
  const ScratchDir scratch;
  std::string dir = scratch.Path("long");
  while (dir.size() < 300) dir += "/" + std::string(40, 'd');
  fs::create_directories(dir);
  const std::string path = dir + "/x.wav";
  ASSERT_TRUE(testing::WriteFile(path, CanonicalWav({1, 8000, 16, 1}, Repeat({0, 3}, 400))));
  ASSERT_GT(path.size(), 300u);
  EXPECT_EQ(RunTool({path, "0", "1"}).status, 0);
}

TEST(Cli, BundledExampleDrawsTwoSeconds) {
  const testing::Ran ran = RunTool({AMPDOTS_EXAMPLE, "0", "2"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "");
  std::size_t lines = 0;
  for (char c : ran.out) lines += c == '\n';
  EXPECT_EQ(lines, 1 + 40 + 2u);  // banner, 20 lines a second, summary
  EXPECT_NE(ran.out.find("0.02\t\n0.07\t..."), std::string::npos);
}

}  // namespace
}  // namespace ampdots
