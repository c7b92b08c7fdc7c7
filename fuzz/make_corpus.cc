// Writes the fuzzers' seed corpus: every header shape and sample format the
// tests build, for the probe alone and, with argument lists, for whole runs.
//
//   make_corpus DIR   (writes DIR/probe/seed-* and DIR/run/seed-*)
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/wav_builder.h"

namespace {

using ampdots::testing::Bytes;
using ampdots::testing::Format;
using ampdots::testing::WavBuilder;

std::vector<Bytes> Headers() {
  std::vector<Bytes> files;
  const Format formats[] = {{1, 8000, 16, 1},  {2, 44100, 16, 1}, {1, 48000, 24, 1},
                            {2, 48000, 24, 1}, {1, 8000, 32, 3},  {2, 8000, 32, 3},
                            {1, 8000, 8, 1},   {4, 8000, 16, 1},  {0, 8000, 16, 1},
                            {2, 19, 16, 1},    {3, 8000, 24, 1}};
  Bytes frames;
  for (int i = 0; i < 96; ++i) frames.push_back(static_cast<std::uint8_t>(i * 37));
  for (const Format& f : formats) files.push_back(ampdots::testing::CanonicalWav(f, frames));
  files.push_back(WavBuilder().Fmt(formats[1]).Chunk("LIST", Bytes(26, 'x')).Data(frames).Finish());
  files.push_back(WavBuilder().Fmt(formats[3], true).Data(frames).Finish());
  files.push_back(WavBuilder().Fmt(formats[0]).Data(frames, 0xFFFFFFFF).Finish());
  files.push_back(WavBuilder().Fmt(formats[0]).Data(frames, 0).Finish());
  files.push_back(WavBuilder().Fmt(formats[0]).Finish());  // no data tag
  Bytes noFmt = ampdots::testing::CanonicalWav(formats[0], frames);
  noFmt[12] = 'F';
  files.push_back(noFmt);
  Bytes far = WavBuilder().Fmt(formats[0]).Finish();
  far.resize(15000, 'x');
  ampdots::testing::PutTag(far, "data");
  ampdots::testing::PutLe32(far, 8);
  far.insert(far.end(), 8, 1);
  files.push_back(far);
  Bytes cut = ampdots::testing::CanonicalWav(formats[3], frames);
  cut.resize(50);
  files.push_back(cut);
  // Formats read by code, and headers as real writers lay them out.
  const Format coded[] = {{2, 8000, 8, 7}, {1, 8000, 8, 6}, {2, 48000, 32, 1}, {1, 8000, 12, 1}};
  for (const Format& f : coded) files.push_back(ampdots::testing::CanonicalWav(f, frames));
  files.push_back(WavBuilder().Fmt({2, 48000, 32, 1}, true).Data(frames).Finish());
  files.push_back(WavBuilder()
                      .Chunk("bext", Bytes(31, 'b'))
                      .Fmt(formats[1])
                      .Chunk("LIST", {'I', 'N', 'F', 'O', 'd', 'a', 't', 'a', 'f', 'm', 't', ' '})
                      .Data(frames)
                      .Finish());
  files.push_back(
      WavBuilder().Chunk("JUNK", Bytes(15100, 0)).Fmt(formats[0]).Data(frames).Finish());
  Bytes rf64 =
      WavBuilder().Chunk("ds64", Bytes(28, 0)).Fmt(formats[0]).Data(frames, 0xFFFFFFFF).Finish();
  rf64[0] = 'R';
  rf64[1] = 'F';
  rf64[2] = '6';
  rf64[3] = '4';
  files.push_back(rf64);
  files.push_back(WavBuilder().Data(frames).Fmt(formats[0]).Finish());  // data before fmt
  // 64-bit float, 3 to 8 channels, and RF64 whose real data size is in ds64.
  const Format wide[] = {{1, 48000, 64, 3}, {2, 48000, 64, 3}, {6, 48000, 24, 1},
                         {8, 48000, 32, 3}, {3, 8000, 8, 7},   {5, 96000, 64, 3}};
  for (const Format& f : wide) files.push_back(ampdots::testing::CanonicalWav(f, frames));
  files.push_back(WavBuilder().Fmt(wide[1], true).Data(frames).Finish());
  Bytes ds64(28, 0);
  ds64[8] = 48;  // dataSize: half the frames; a LIST follows the audio
  Bytes sized = WavBuilder()
                    .Chunk("ds64", ds64)
                    .Fmt(formats[1])
                    .Data(frames, 0xFFFFFFFF)
                    .Chunk("LIST", Bytes(10, 'x'))
                    .Finish();
  std::copy_n("BW64", 4, sized.begin());
  files.push_back(sized);
  return files;
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_corpus DIR\n", stderr);
    return 1;
  }
  const std::string dir = argv[1];
  const std::vector<std::vector<std::string>> argLists = {{"f", "0", "1"},
                                                          {"f", "0", "9", "1"},
                                                          {"f", "-1", "1e40", "3", "nan"},
                                                          {"f", "0", "1", "0", "0.5"},
                                                          {"", "0", "1"},
                                                          {"f", "0"},
                                                          {"f", "0.001", "0.01", "2", "256"},
                                                          {"--json", "f", "0", "1", "7"},
                                                          {"--csv", "--summary", "f", "0", "9"},
                                                          {"--summary", "f", "0", "9", "1"},
                                                          {"--csv", "--", "f", "0", "1", "3"},
                                                          {"--loudness", "f", "0", "9", "100"},
                                                          {"--json", "--loudness", "f", "0", "9"},
                                                          {"--level=momentary", "f", "0", "9"}};
  int n = 0;
  bool ok = true;
  for (const Bytes& header : Headers()) {
    ok &= Write(dir + "/probe/seed-" + std::to_string(n), header);
    for (std::size_t a = 0; a < argLists.size(); a += 1 + static_cast<std::size_t>(n) % 3) {
      // Every other one as a stream, in pieces of 1 + 256 k bytes.
      const auto stream = static_cast<std::uint8_t>(a % 2 == 1 ? 0x80 | (n % 16) << 3 : 0);
      Bytes input{static_cast<std::uint8_t>(argLists[a].size() | stream)};
      for (const std::string& arg : argLists[a]) {
        input.insert(input.end(), arg.begin(), arg.end());
        input.push_back(0);
      }
      input.insert(input.end(), header.begin(), header.end());
      ok &= Write(dir + "/run/seed-" + std::to_string(n) + "-" + std::to_string(a), input);
    }
    ++n;
  }
  return ok ? 0 : 1;
}
