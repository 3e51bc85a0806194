// Frames as the bytes they are. The library's frames are 16-bit words with
// the low byte first in memory on every host, so tests build and read them
// byte by byte, never as host words: the same test then holds on little- and
// big-endian machines. Written from the byte layout alone, without the
// library's own word helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace zelk::testing {

// The value of the frame word at `word`: its first byte is the low byte.
inline uint16_t LoadWireWord(const uint16_t* word) {
  unsigned char b[2];
  std::memcpy(b, word, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

// Stores `value` at `word`, low byte first.
inline void StoreWireWord(uint16_t* word, uint16_t value) {
  const unsigned char b[2] = {static_cast<unsigned char>(value & 0xFF),
                              static_cast<unsigned char>(value >> 8)};
  std::memcpy(word, b, 2);
}

// The host word that holds `value` as a frame word (and, applied to a word
// read from a frame, its value): a swap of the bytes on big-endian hosts.
inline uint16_t WireWord(uint16_t value) {
  uint16_t word;
  StoreWireWord(&word, value);
  return word;
}

// The first `words` words of a frame as bytes, in memory order.
inline std::vector<uint8_t> WireBytes(const uint16_t* frame, size_t words) {
  std::vector<uint8_t> bytes(words * 2);
  std::memcpy(bytes.data(), frame, bytes.size());
  return bytes;
}

// A frame from its bytes (an even number of them), as it arrives off the wire.
inline std::vector<uint16_t> FrameFromBytes(std::initializer_list<uint8_t> bytes) {
  std::vector<uint16_t> frame((bytes.size() + 1) / 2);
  std::memcpy(frame.data(), std::data(bytes), bytes.size());
  return frame;
}

// A frame of `payloadWords` words whose header and length words have the
// given values (stored low byte first); the payload words are zero.
inline std::vector<uint16_t> FrameWithHeader(uint16_t header, uint16_t length,
                                             size_t payloadWords) {
  std::vector<uint16_t> frame(2 + payloadWords, 0);
  StoreWireWord(&frame[0], header);
  StoreWireWord(&frame[1], length);
  return frame;
}

}  // namespace zelk::testing
