// Playout of one stream: packets come in capture order and leave in sequence
// order, each placed on the stream's time line by its RTP timestamp.
//
// The window: a packet waits in the playout buffer until PLAYOUT_WINDOW of
// capture time has passed since it arrived (or the buffer holds
// MAX_BUFFERED_PACKETS), then it and every packet before it in sequence order
// are played. A packet that arrives after its place has been played (later than
// the window after a packet that follows it) is late and dropped; its time is
// concealed like a lost packet's.
//
// Between two packets played one after the other:
//  - sequence numbers missing between them are losses: their time (the number
//    missing times the last packet's duration, at most the timestamp gap) is
//    concealed;
//  - the rest of a timestamp gap, with no sequence number missing, is the
//    sender's silence (silence suppression, a marker bit on the next packet,
//    comfort noise, telephone events): it is filled with silence, not concealed;
//  - a timestamp that jumps backwards, or forwards by more than a second beyond
//    the capture time that passed, is a sender restarting its clock: the gap is
//    taken from the capture time instead;
//  - a packet that overlaps the one before it plays only its samples past the
//    overlap.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "payload_types.h"

namespace zv::extract {

inline constexpr int64_t PLAYOUT_WINDOW_NS = 100'000'000;  // 100 ms
inline constexpr size_t MAX_BUFFERED_PACKETS = 256;
inline constexpr int PLAYOUT_RATE = 8000;  // every codec here runs an 8 kHz RTP clock

struct PlayoutPacket {
  int64_t seq = 0;  // unwrapped sequence number
  int64_t ts = 0;   // unwrapped timestamp
  int64_t arrivalNs = 0;
  uint64_t number = 0;  // packet number in its capture file
  int fileIndex = 0;
  PayloadKind kind = PayloadKind::UNKNOWN;
  long samples = 0;  // samples the payload carries (0 for non-speech)
  std::vector<uint8_t> payload;
};

// Where playout sends the stream, in time order.
class PlayoutSink {
 public:
  virtual ~PlayoutSink() = default;
  // Plays a speech packet from its sample `skip` on; false when it could not be
  // decoded (its time is then concealed when the next packet is placed).
  virtual bool Play(const PlayoutPacket& packet, long skip) = 0;
  virtual void Conceal(int64_t samples) = 0;
  virtual void Silence(int64_t samples) = 0;
};

struct PlayoutCounts {
  uint64_t late = 0;        // arrived after their place was played
  uint64_t duplicates = 0;  // a second copy still in the buffer
  int64_t concealed = 0;    // samples
  int64_t silence = 0;      // samples
  int64_t played = 0;       // samples
  uint64_t clockJumps = 0;  // timestamp jumps taken from capture time
};

class Playout {
 public:
  explicit Playout(PlayoutSink& sink) : sink_(sink) {}

  void Push(PlayoutPacket packet);
  void Flush();  // the end of the stream: play what is left

  const PlayoutCounts& Counts() const { return counts_; }
  bool Started() const { return started_; }
  int64_t StartNs() const { return startNs_; }  // capture time of the first sample
  int64_t Samples() const { return counts_.played + counts_.concealed + counts_.silence; }

 private:
  void Release(int64_t nowNs);
  void Place(const PlayoutPacket& p);

  PlayoutSink& sink_;
  std::map<int64_t, PlayoutPacket> buffer_;  // by sequence number
  int64_t latestNs_ = 0;
  bool started_ = false;
  int64_t startNs_ = 0;
  int64_t nextSeq_ = 0;
  int64_t nextTs_ = 0;
  int64_t lastArrivalNs_ = 0;  // of the last packet placed
  long lastSamples_ = 0;       // duration of the last speech packet
  uint64_t unplayable_ = 0;    // packets placed but not decoded since the last good one
  PlayoutCounts counts_;
};

}  // namespace zv::extract
