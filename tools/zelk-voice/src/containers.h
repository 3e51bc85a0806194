// The byte layouts of the containers the tool writes itself (WAV and AU
// headers), and the checks of an input's own size fields that libsndfile does
// not make: it quietly reads a truncated WAV, AU or AIFF as a shorter file and
// a cut Ogg file as a complete one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv {

inline constexpr uint16_t WAV_PCM = 1;
inline constexpr uint16_t WAV_ALAW = 6;
inline constexpr uint16_t WAV_MULAW = 7;
inline constexpr uint32_t AU_MULAW = 1;
inline constexpr uint32_t AU_PCM16 = 3;
inline constexpr uint32_t AU_ALAW = 27;

// A WAV header for `frames` frames of `bitsPerSample`-bit samples, or with
// the sizes at the placeholder 0x7FFFF000 ("until the end of the stream")
// when the count is not known. Non-PCM formats get the 18-byte format chunk and the fact
// chunk they require. Its length depends only on the format tag.
std::vector<uint8_t> WavHeader(uint16_t formatTag, int channels, int rate, int bitsPerSample,
                               std::optional<uint64_t> frames);

// An AU header (big-endian, data at byte 32) with the data size, or
// 0xFFFFFFFF, AU's own "unknown", when it is not known.
std::vector<uint8_t> AuHeader(uint32_t encoding, int channels, int rate,
                              std::optional<uint64_t> dataBytes);

// The largest data chunk either format can describe.
inline constexpr uint64_t MAX_DATA_BYTES = 0xFFFFFFFFu - 64;

// Checks a regular input file of `size` bytes whose container libsndfile
// identified as `majorFormat` (SF_FORMAT_WAV, ...): a WAV, AU or AIFF whose
// audio data runs past the end of the file, or an Ogg file that does not end
// with a complete end-of-stream page, throws Failure "NAME: ..." with the byte
// positions. Size fields that disagree with the file while the audio is all
// there come back as warnings.
std::vector<std::string> CheckContainer(int fd, uint64_t size, int majorFormat,
                                        const std::string& name);

}  // namespace zv
