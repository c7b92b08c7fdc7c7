// Builds WAV files byte by byte for tests and the bundled example: every
// header byte is written explicitly, so a test can also build the broken
// headers a real file may have.
#ifndef AMPDOTS_TESTS_SUPPORT_WAV_BUILDER_H_
#define AMPDOTS_TESTS_SUPPORT_WAV_BUILDER_H_

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace ampdots::testing {

using Bytes = std::vector<std::uint8_t>;

inline void PutLe16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutLe24(Bytes& b, std::uint32_t v) {
  PutLe16(b, v);
  b.push_back(static_cast<std::uint8_t>(v >> 16));
}

inline void PutLe32(Bytes& b, std::uint32_t v) {
  PutLe16(b, v);
  PutLe16(b, v >> 16);
}

inline void PutTag(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}

inline void PutFloat(Bytes& b, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  PutLe32(b, bits);
}

struct Format {
  std::uint32_t channels = 1;
  std::uint32_t sampleRate = 8000;
  std::uint32_t bitsPerSample = 16;
  std::uint32_t formatCode = 1;   // 1 PCM, 3 float
  std::uint32_t channelMask = 0;  // extensible only; 0: the front pair for stereo, else the centre
};

/// "RIFF" size "WAVE" then chunks as they are added. The RIFF size is
/// filled in by Finish.
class WavBuilder {
 public:
  WavBuilder() {
    PutTag(bytes_, "RIFF");
    PutLe32(bytes_, 0);
    PutTag(bytes_, "WAVE");
  }

  /// A 16-byte "fmt " chunk (or 40 bytes for the extensible layout).
  WavBuilder& Fmt(const Format& f, bool extensible = false) {
    PutTag(bytes_, "fmt ");
    PutLe32(bytes_, extensible ? 40 : 16);
    PutLe16(bytes_, extensible ? 0xFFFE : f.formatCode);
    PutLe16(bytes_, f.channels);
    PutLe32(bytes_, f.sampleRate);
    const std::uint32_t align = f.channels * (f.bitsPerSample / 8);
    PutLe32(bytes_, f.sampleRate * align);
    PutLe16(bytes_, align);
    PutLe16(bytes_, f.bitsPerSample);
    if (extensible) {
      PutLe16(bytes_, 22);
      PutLe16(bytes_, f.bitsPerSample);
      PutLe32(bytes_, f.channelMask != 0 ? f.channelMask : f.channels == 2 ? 3 : 4);
      PutLe16(bytes_, f.formatCode);  // the subformat GUID's first two bytes
      const std::uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
      bytes_.insert(bytes_.end(), guidTail, guidTail + 14);
    }
    return *this;
  }

  /// Any chunk, padded to an even length as RIFF asks.
  WavBuilder& Chunk(const char* tag, const Bytes& body) {
    PutTag(bytes_, tag);
    PutLe32(bytes_, static_cast<std::uint32_t>(body.size()));
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) bytes_.push_back(0);
    return *this;
  }

  /// The "data" chunk; `declaredSize` overrides the size field.
  WavBuilder& Data(const Bytes& frames, std::int64_t declaredSize = -1) {
    PutTag(bytes_, "data");
    PutLe32(bytes_, declaredSize < 0 ? static_cast<std::uint32_t>(frames.size())
                                     : static_cast<std::uint32_t>(declaredSize));
    bytes_.insert(bytes_.end(), frames.begin(), frames.end());
    return *this;
  }

  Bytes Finish() {
    Bytes out = bytes_;
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
      out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    return out;
  }

 private:
  Bytes bytes_;
};

/// A canonical 44-byte header followed by `frames`.
inline Bytes CanonicalWav(const Format& f, const Bytes& frames) {
  return WavBuilder().Fmt(f).Data(frames).Finish();
}

/// `count` frames, each holding `frame` (all channels' bytes).
inline Bytes Repeat(const Bytes& frame, std::size_t count) {
  Bytes out;
  out.reserve(frame.size() * count);
  for (std::size_t i = 0; i < count; ++i) out.insert(out.end(), frame.begin(), frame.end());
  return out;
}

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_WAV_BUILDER_H_
