#include "wav/probe.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::Format;
using testing::WavBuilder;

ProbeResult Probe(std::span<const std::uint8_t> file) {
  Source source = MemorySource(file);
  return ProbeSource(source);
}

const Format kStereo16{2, 44100, 16, 1};
const Bytes kTenFrames(40, 0x11);

TEST(Probe, CanonicalHeader) {
  const ProbeResult r = Probe(testing::CanonicalWav(kStereo16, kTenFrames));
  EXPECT_EQ(r.status, ProbeStatus::kOk);
  EXPECT_FALSE(r.formatTagMissing);
  EXPECT_EQ(r.attributes.sampleRate, 44100u);
  EXPECT_EQ(r.attributes.bytesPerSample, 2u);
  EXPECT_EQ(r.attributes.channels, 2u);
  EXPECT_EQ(r.attributes.dataOffset, 44u);
  EXPECT_EQ(r.attributes.frameCount, 10u);
}

TEST(Probe, TagsFoundPastOtherChunks) {
  // LIST after fmt: data at 36 + 8 + 26 = 70.
  const Bytes list =
      WavBuilder().Fmt(kStereo16).Chunk("LIST", Bytes(26, 'x')).Data(kTenFrames).Finish();
  EXPECT_EQ(Probe(list).attributes.dataOffset, 78u);
  EXPECT_EQ(Probe(list).attributes.frameCount, 10u);
  // Extensible fmt chunk of 40 bytes: data at 12 + 8 + 40 = 60.
  const Bytes ext = WavBuilder().Fmt({1, 48000, 24, 1}, true).Data(Bytes(9, 0)).Finish();
  EXPECT_EQ(Probe(ext).attributes.dataOffset, 68u);
  EXPECT_EQ(Probe(ext).attributes.bytesPerSample, 3u);
  EXPECT_EQ(Probe(ext).attributes.frameCount, 3u);
  EXPECT_EQ(Probe(ext).attributes.channelMask, 4u);
  // The channel mask is the extensible header's alone.
  const Bytes surround =
      WavBuilder().Fmt({6, 48000, 16, 1, 0x60F}, true).Data(Bytes(12, 0)).Finish();
  EXPECT_EQ(Probe(surround).attributes.channelMask, 0x60Fu);
  EXPECT_EQ(Probe(list).attributes.channelMask, 0u);
  // Where the chunks cannot be walked (here: no RIFF header), the first
  // even match wins, even inside another chunk's text.
  Bytes decoy = WavBuilder()
                    .Fmt(kStereo16)
                    .Chunk("LIST", {'d', 'a', 't', 'a', 0, 0, 0, 0})
                    .Data(kTenFrames)
                    .Finish();
  std::memcpy(decoy.data(), "RIFX", 4);
  EXPECT_EQ(Probe(decoy).attributes.dataOffset, 44u + 8);
}

// A canonical file whose data tag is moved to `at`, the gap filled with 'x'.
Bytes DataTagAt(std::size_t at) {
  Bytes file = WavBuilder().Fmt(kStereo16).Finish();
  file.resize(at, 'x');
  testing::PutTag(file, "data");
  testing::PutLe32(file, 8);
  file.insert(file.end(), 8, 0);
  return file;
}

TEST(Probe, OnlyEvenCandidatesUpTo15000) {
  EXPECT_EQ(Probe(DataTagAt(15000)).attributes.dataOffset, 15008u);
  EXPECT_EQ(Probe(DataTagAt(15000)).attributes.frameCount, 2u);
  EXPECT_EQ(Probe(DataTagAt(15002)).status, ProbeStatus::kNoDataTag);
  EXPECT_EQ(Probe(DataTagAt(37)).status, ProbeStatus::kNoDataTag);
  Bytes fmtAtZero = testing::CanonicalWav(kStereo16, kTenFrames);
  std::memcpy(fmtAtZero.data(), "fmt ", 4);             // offset 0 is never a candidate...
  EXPECT_EQ(Probe(fmtAtZero).attributes.channels, 2u);  // ...so fmt at 12 still wins
}

TEST(Probe, MissingFormatTagReadsFieldsAt15000) {
  Bytes file = DataTagAt(100);
  std::memcpy(file.data() + 12, "FMT ", 4);
  file.resize(15024, 0);
  file[15010] = 1;     // channels
  file[15012] = 0x40;  // sample rate 8000
  file[15013] = 0x1F;
  file[15022] = 16;  // bits per sample
  const ProbeResult r = Probe(file);
  EXPECT_TRUE(r.formatTagMissing);
  EXPECT_EQ(r.status, ProbeStatus::kOk);
  EXPECT_EQ(r.attributes.sampleRate, 8000u);
  EXPECT_EQ(r.attributes.channels, 1u);
  EXPECT_EQ(r.attributes.bytesPerSample, 2u);
  // In a short file those fields lie past the end and read as zero.
  file.resize(200);
  EXPECT_EQ(Probe(file).status, ProbeStatus::kZeroWidthFrame);
}

TEST(Probe, SamplesAreReadInTheWholeBytesThatHoldThem) {
  const std::uint32_t bits[] = {32, 24, 20, 16, 12, 8, 7};
  const std::uint32_t bytes[] = {4, 3, 3, 2, 2, 1, 0};
  for (int i = 0; i < 7; ++i) {
    const Bytes file = testing::CanonicalWav({1, 8000, bits[i], 1}, Bytes(8, 0));
    EXPECT_EQ(Probe(file).attributes.bytesPerSample, bytes[i]) << bits[i];
  }
  EXPECT_EQ(Probe(testing::CanonicalWav({0, 8000, 16, 1}, {})).status,
            ProbeStatus::kZeroWidthFrame);
}

TEST(Probe, DeclaredSizeNeverTrustedOverTheFile) {
  const Bytes zero = WavBuilder().Fmt(kStereo16).Data(kTenFrames, 0).Finish();
  EXPECT_EQ(Probe(zero).attributes.frameCount, 0u);
  const Bytes huge = WavBuilder().Fmt(kStereo16).Data(kTenFrames, 0xFFFFFFFF).Finish();
  EXPECT_EQ(Probe(huge).attributes.frameCount, 10u);
  // A data tag in the last bytes puts the frames past the end: none.
  Bytes atEnd = WavBuilder().Fmt(kStereo16).Finish();
  testing::PutTag(atEnd, "data");
  atEnd.push_back(0xFF);
  EXPECT_EQ(Probe(atEnd).attributes.dataOffset, 44u);
  EXPECT_EQ(Probe(atEnd).attributes.frameCount, 0u);
}

TEST(Probe, TruncationSweepNeverGrowsTheFrameCount) {
  const Bytes file = testing::CanonicalWav({2, 48000, 24, 1}, Bytes(6 * 50, 0x22));
  std::uint32_t previous = 50;
  for (std::size_t length = file.size(); length-- > 0;) {
    const ProbeResult r = Probe(std::span(file.data(), length));
    if (length < 40) {  // the data tag itself is cut
      EXPECT_EQ(r.status, ProbeStatus::kNoDataTag) << length;
      continue;
    }
    ASSERT_EQ(r.status, ProbeStatus::kOk) << length;
    EXPECT_EQ(r.attributes.frameCount, length > 44 ? (length - 44) / 6 : 0) << length;
    EXPECT_LE(r.attributes.frameCount, previous);
    previous = r.attributes.frameCount;
  }
}

// Headers as real writers lay them out: the chunks are walked, so text
// inside metadata never passes for a tag, and the data may lie anywhere.
TEST(ProbeWalk, ChunksBeforeTheData) {
  // A LIST/INFO comment holding "data" and "fmt " at even offsets.
  Bytes info = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 14, 0, 0, 0};
  for (char c : std::string("fmt data xyzw")) info.push_back(static_cast<std::uint8_t>(c));
  info.push_back(0);
  Bytes junk(20000, 0);
  const struct {
    const char* name;
    Bytes file;
    std::uint64_t dataOffset;
  } rows[] = {
      // 12 fmt (24), 36 LIST (8 + 26), 70 data.
      {"list_info", WavBuilder().Fmt(kStereo16).Chunk("LIST", info).Data(kTenFrames).Finish(), 78},
      // bext and iXML before fmt, as broadcast recorders write them.
      {"bext_ixml",
       WavBuilder()
           .Chunk("bext", Bytes(602, 'd'))
           .Chunk("iXML", Bytes(31, 'f'))  // odd: one pad byte follows
           .Fmt(kStereo16)
           .Data(kTenFrames)
           .Finish(),
       12 + 610 + 40 + 24 + 8},
      {"junk_past_15000", WavBuilder().Chunk("JUNK", junk).Fmt(kStereo16).Data(kTenFrames).Finish(),
       12 + 20008 + 24 + 8},
      {"fmt_after_junk_data_far",
       WavBuilder()
           .Fmt(kStereo16)
           .Chunk("JUNK", junk)
           .Chunk("JUNK", junk)
           .Data(kTenFrames)
           .Finish(),
       36 + 2 * 20008 + 8},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProbeResult r = Probe(row.file);
    EXPECT_EQ(r.status, ProbeStatus::kOk);
    EXPECT_FALSE(r.formatTagMissing);
    EXPECT_EQ(r.attributes.dataOffset, row.dataOffset);
    EXPECT_EQ(r.attributes.frameCount, 10u);
    EXPECT_EQ(r.attributes.channels, 2u);
    EXPECT_EQ(r.attributes.sampleRate, 44100u);
  }
}

TEST(ProbeWalk, Rf64AndBw64AreWalkedToo) {
  for (const char* riff : {"RF64", "BW64"}) {
    // ds64 claims 2^33 bytes of data, far more than the file holds.
    Bytes ds64(28, 0);
    ds64[8 + 4] = 0x02;
    Bytes file =
        WavBuilder().Chunk("ds64", ds64).Fmt(kStereo16).Data(kTenFrames, 0xFFFFFFFF).Finish();
    std::memcpy(file.data(), riff, 4);
    const ProbeResult r = Probe(file);
    EXPECT_EQ(r.attributes.dataOffset, 12u + 36 + 24 + 8) << riff;
    EXPECT_EQ(r.attributes.frameCount, 10u) << riff;  // as many as the file holds
  }
}

TEST(ProbeWalk, WhereTheWalkFailsTheTagSearchDecides) {
  // data at 36 with a LIST whose size runs past the end after it: the walk
  // stops at data first, so this one still walks.
  const Bytes fine = WavBuilder().Fmt(kStereo16).Data(kTenFrames).Finish();
  EXPECT_EQ(Probe(fine).attributes.dataOffset, 44u);

  // A LIST claiming more than the file holds, with "data" in its text: the
  // walk fails and the first even "data" (inside the LIST) wins.
  Bytes broken = WavBuilder()
                     .Fmt(kStereo16)
                     .Chunk("LIST", {'d', 'a', 't', 'a', 4, 0, 0, 0})
                     .Data(kTenFrames)
                     .Finish();
  broken[40] = 0xFF;  // the LIST's size
  EXPECT_EQ(Probe(broken).attributes.dataOffset, 52u);
  EXPECT_EQ(Probe(broken).attributes.frameCount, 1u);

  // Data before fmt: the walk fails; the search finds fmt at 12 and the
  // first "data" at 36 whatever the chunk order.
  Bytes dataFirst = WavBuilder().Data(kTenFrames).Fmt(kStereo16).Finish();
  const ProbeResult r = Probe(dataFirst);
  EXPECT_EQ(r.status, ProbeStatus::kOk);
  EXPECT_FALSE(r.formatTagMissing);
  EXPECT_EQ(r.attributes.dataOffset, 20u);
  // fmt's fields now lie at 12 + 8 + 40 = 60: read as the search finds them.
  EXPECT_EQ(r.attributes.channels, 2u);

  // A chunk header cut by the end of the file before any data: the search
  // finds no "data" at all.
  Bytes cut = WavBuilder().Fmt(kStereo16).Finish();
  cut.insert(cut.end(), {'J', 'U', 'N'});
  EXPECT_EQ(Probe(cut).status, ProbeStatus::kNoDataTag);
  // A fmt chunk shorter than 16 bytes is not the format: walk fails, and
  // the search takes the "fmt" tag anyway.
  Bytes shortFmt = WavBuilder().Chunk("fmt ", Bytes(14, 1)).Data(kTenFrames).Finish();
  EXPECT_EQ(Probe(shortFmt).attributes.dataOffset, 12u + 22 + 8);
}

TEST(ProbeWalk, FormatCodeAndExtensibleSubFormat) {
  const struct {
    const char* name;
    Bytes file;
    std::uint32_t code;
    std::uint32_t bytesPerSample;
  } rows[] = {
      {"pcm", testing::CanonicalWav({1, 8000, 8, 1}, Bytes(4, 0)), 1, 1},
      {"alaw", testing::CanonicalWav({1, 8000, 8, 6}, Bytes(4, 0)), 6, 1},
      {"mulaw", testing::CanonicalWav({1, 8000, 8, 7}, Bytes(4, 0)), 7, 1},
      {"float", testing::CanonicalWav({1, 8000, 32, 3}, Bytes(4, 0)), 3, 4},
      {"ext_pcm32", WavBuilder().Fmt({2, 48000, 32, 1}, true).Data(Bytes(8, 0)).Finish(), 1, 4},
      {"ext_float", WavBuilder().Fmt({2, 48000, 32, 3}, true).Data(Bytes(8, 0)).Finish(), 3, 4},
      {"ext_20bit", WavBuilder().Fmt({2, 48000, 20, 1}, true).Data(Bytes(6, 0)).Finish(), 1, 3},
      // Extensible code in a 16-byte chunk: the sub-format is read at +32
      // whatever the size, here the first two bytes of the data.
      {"ext_short",
       WavBuilder()
           .Chunk("fmt ", {0xFE, 0xFF, 1, 0, 0x40, 0x1F, 0, 0, 0, 0, 0, 0, 4, 0, 32, 0})
           .Data({0x07, 0x00, 0, 0})
           .Finish(),
       7, 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProbeResult r = Probe(row.file);
    EXPECT_EQ(r.status, ProbeStatus::kOk);
    EXPECT_EQ(r.attributes.formatCode, row.code);
    EXPECT_EQ(r.attributes.bytesPerSample, row.bytesPerSample);
  }
  // Past the end of a cut file the sub-format reads as zero.
  Bytes cut = WavBuilder()
                  .Chunk("fmt ", {0xFE, 0xFF, 1, 0, 0x40, 0x1F, 0, 0, 0, 0, 0, 0, 4, 0, 32, 0})
                  .Data({})
                  .Finish();
  EXPECT_EQ(Probe(cut).attributes.formatCode, 0u);
}

}  // namespace
}  // namespace ampdots
