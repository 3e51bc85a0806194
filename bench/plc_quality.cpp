// How well the receiver conceals lost frames, on real recorded speech, beside
// zero fill and spandsp's plc run on the same decoded G.711 signal.
//
// For each loss condition (20 ms frames, fixed seeds): the log-spectral
// distance between the concealed frames and the loss-free decode (Hann
// window, frames whose reference RMS is below 100 left out), and the 99th
// percentile of the jump between neighbouring samples at both edges of every
// lost frame. Then the cost of concealing a 20 ms frame, ours against
// spandsp's plc_fillin in the same run, and the recovery of the two ADPCM
// codecs after a single lost frame.
//
//   plc_quality              all of it
//   plc_quality --quick      fewer timing rounds
//   plc_quality --quick X    the figures alone, no timing (any second argument)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "concealment_measures.h"
#include "frame_bytes.h"
#include "loss_models.h"
#include "plc_peer.h"
#include "speech_corpus.h"
#include "zelk_voice_engine.h"
#include "zelk_voice_rtp.h"

namespace {

using zelk::bench::Recording;
using zelk::bench::SpandspPlc;

constexpr int FRAME = 160;  // 20 ms

// --- streams and losses ----------------------------------------------------

// A recording cut to whole frames and encoded frame by frame.
struct Stream {
  int codec;
  std::vector<int16_t> original;
  std::vector<std::vector<uint16_t>> frames;
  std::vector<int16_t> reference;  // the loss-free decode
};

Stream Encode(const std::vector<int16_t>& pcm, int codec) {
  Stream s;
  s.codec = codec;
  const size_t count = pcm.size() / FRAME;
  s.original.assign(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(count * FRAME));
  VoiceCodecState enc, dec;
  ZELK_VOICE_EncReset(&enc, codec);
  ZELK_VOICE_DecReset(&dec, codec);
  s.reference.resize(s.original.size());
  for (size_t f = 0; f < count; ++f) {
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    ZELK_VOICE_EncodeFrame(&enc, &s.original[f * FRAME], frame, FRAME, codec);
    s.frames.emplace_back(frame, frame + 2 + (zelk::testing::LoadWireWord(&frame[1]) & 0xFF));
    int16_t n = 0;
    ZELK_VOICE_DecodeFrame(&dec, frame, &s.reference[f * FRAME], codec, &n);
  }
  return s;
}

using LossMask = std::vector<bool>;  // true: the frame is lost

// The first `frames` decisions of a loss model.
template <class Model>
LossMask Mask(size_t frames, Model model) {
  LossMask m(frames);
  for (size_t f = 0; f < frames; ++f) m[f] = model.Next();
  return m;
}

struct Condition {
  const char* name;
  double rate;
  double meanBurst;  // 0: independent losses
};

constexpr Condition CONDITIONS[] = {
    {"5% random", 0.05, 0}, {"10% bursty (mean 3)", 0.10, 3}, {"20% random", 0.20, 0}};

LossMask MakeLoss(const Condition& c, size_t frames, uint32_t seed) {
  // Bursty: a two-state (Gilbert) model, bursts of mean length meanBurst at
  // the stationary loss rate `rate`.
  return c.meanBurst > 0 ? Mask(frames, zelk::quality::GilbertLoss(c.rate, c.meanBurst, seed))
                         : Mask(frames, zelk::quality::RandomLoss(c.rate, seed));
}

// --- the three receivers ----------------------------------------------------

std::vector<int16_t> ZeroFill(const Stream& s, const LossMask& lost) {
  std::vector<int16_t> out(s.reference.size(), 0);
  VoiceCodecState dec;
  ZELK_VOICE_DecReset(&dec, s.codec);
  for (size_t f = 0; f < s.frames.size(); ++f) {
    int16_t n = 0;
    if (!lost[f]) ZELK_VOICE_DecodeFrame(&dec, s.frames[f].data(), &out[f * FRAME], s.codec, &n);
  }
  return out;
}

std::vector<int16_t> Ours(const Stream& s, const LossMask& lost) {
  std::vector<int16_t> out(s.reference.size());
  ZelkRtpReceiver rx;
  ZELK_RTP_ReceiverReset(&rx, sizeof rx, s.codec);
  for (size_t f = 0; f < s.frames.size(); ++f) {
    int16_t* pcm = &out[f * FRAME];
    if (lost[f]) {
      ZELK_RTP_ConcealLoss(&rx, sizeof rx, FRAME, pcm, FRAME);
    } else {
      size_t n = 0;
      ZELK_RTP_ReceiveFrame(&rx, sizeof rx, s.frames[f].data(), 2 * s.frames[f].size(), pcm, FRAME,
                            &n);
    }
  }
  return out;
}

std::vector<int16_t> Spandsp(const Stream& s, const LossMask& lost) {
  std::vector<int16_t> out(s.reference.size());
  SpandspPlc plc;
  VoiceCodecState dec;
  ZELK_VOICE_DecReset(&dec, s.codec);
  for (size_t f = 0; f < s.frames.size(); ++f) {
    int16_t* pcm = &out[f * FRAME];
    if (lost[f]) {
      plc.FillIn(pcm, FRAME);
    } else {
      int16_t n = 0;
      ZELK_VOICE_DecodeFrame(&dec, s.frames[f].data(), pcm, s.codec, &n);
      plc.Receive(pcm, FRAME);
    }
  }
  return out;
}

// --- measures ----------------------------------------------------------------

// The log-spectral distance and the edge jumps of every lost frame
// (quality/concealment_measures.h, as `zelk-voice conceal` measures them).
struct Tally {
  zelk::quality::SpectralDistanceTally lsd;
  zelk::quality::JumpTally jumps;

  void Add(const Stream& s, const LossMask& lost, const std::vector<int16_t>& out) {
    const size_t total = out.size();
    for (size_t f = 0; f < s.frames.size(); ++f) {
      if (!lost[f]) continue;
      const size_t start = f * FRAME, end = start + FRAME;
      lsd.AddFrame(std::span(s.reference).subspan(start, FRAME),
                   std::span(out).subspan(start, FRAME));
      if (start > 0) jumps.Add(out[start - 1], out[start]);
      if (end < total) jumps.Add(out[end - 1], out[end]);
    }
  }
  double Lsd() const { return lsd.MeanDb(); }
  size_t LsdFrames() const { return lsd.Frames(); }
  int Jump99() const { return jumps.Percentile(99); }
};

void QualityTable(const std::vector<Recording>& speech, int codec, const char* codecName) {
  std::printf("\nConcealment of lost 20 ms frames, %s, %zu recordings\n", codecName, speech.size());
  std::printf("%-21s %-10s %8s %10s %8s\n", "condition", "receiver", "LSD dB", "jump p99",
              "frames");
  std::vector<Stream> streams;
  for (const auto& r : speech) streams.push_back(Encode(r.pcm, codec));

  for (const auto& c : CONDITIONS) {
    Tally zero, ours, peer, natural;
    size_t lostFrames = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
      const Stream& s = streams[i];
      const LossMask lost = MakeLoss(c, s.frames.size(), 1000 + static_cast<uint32_t>(i));
      for (bool l : lost) lostFrames += l;
      zero.Add(s, lost, ZeroFill(s, lost));
      ours.Add(s, lost, Ours(s, lost));
      peer.Add(s, lost, Spandsp(s, lost));
      natural.Add(s, lost, s.reference);
    }
    std::printf("%-21s %-10s %8.2f %10d %8zu\n", c.name, "zero fill", zero.Lsd(), zero.Jump99(),
                zero.LsdFrames());
    std::printf("%-21s %-10s %8.2f %10d %8zu\n", "", "zelk", ours.Lsd(), ours.Jump99(),
                ours.LsdFrames());
    std::printf("%-21s %-10s %8.2f %10d %8zu\n", "", "spandsp", peer.Lsd(), peer.Jump99(),
                peer.LsdFrames());
    std::printf("%-21s %-10s %8s %10d   (%zu frames lost)\n", "", "(no loss)", "", natural.Jump99(),
                lostFrames);
  }
}

// Loss-free output of the receiver against the plain decode, every codec.
void CheckBitIdentity(const std::vector<Recording>& speech) {
  size_t samples = 0, differ = 0;
  for (int codec = G711_ALAW; codec <= ADPCM_2BIT; ++codec) {
    for (const auto& r : speech) {
      const Stream s = Encode(r.pcm, codec);
      const auto out = Ours(s, LossMask(s.frames.size(), false));
      samples += out.size();
      for (size_t i = 0; i < out.size(); ++i) differ += out[i] != s.reference[i];
    }
  }
  std::printf("\nLoss-free receiver output against the plain decode: %zu of %zu samples differ\n",
              differ, samples);
}

// --- recovery after a single lost frame ------------------------------------------

constexpr int RECOVERY_FRAMES = 50;  // the second after the lost frame
constexpr int WINDOWS = 10;          // of 100 ms each

struct RecoveryFigures {
  std::vector<double> second;                // per position: RMS error over the second, %
  std::vector<std::vector<double>> windows;  // per 100 ms window: the same, per position
  RecoveryFigures() : windows(WINDOWS) {}
};

double Percentile(std::vector<double> v, int p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

double Median(std::vector<double> v) { return Percentile(std::move(v), 50); }

// The error of out (the second after the lost frame) against the loss-free
// decode, as % of the recording's RMS.
void AddRecovery(RecoveryFigures& fig, const int16_t* out, const int16_t* ref, double rms) {
  double total = 0;
  for (int w = 0; w < WINDOWS; ++w) {
    double sum = 0;
    const int len = RECOVERY_FRAMES * FRAME / WINDOWS;
    for (int i = w * len; i < (w + 1) * len; ++i) {
      const double d = out[i] - ref[i];
      sum += d * d;
    }
    total += sum;
    fig.windows[static_cast<size_t>(w)].push_back(100 * std::sqrt(sum / len) / rms);
  }
  fig.second.push_back(100 * std::sqrt(total / (RECOVERY_FRAMES * FRAME)) / rms);
}

// Loses every other frame in turn (one at a time) and follows the second
// after it: the plain decoder that simply goes on (playing silence for the
// lost frame), and the receiver.
void RecoveryTable(const std::vector<Recording>& speech, int codec, const char* codecName) {
  RecoveryFigures plain, ours;
  for (const auto& r : speech) {
    const Stream s = Encode(r.pcm, codec);
    const size_t count = s.frames.size();
    if (count < RECOVERY_FRAMES + 12) continue;
    const double rms = zelk::quality::Rms(s.original);
    // The decoder and the receiver as they stand before each frame.
    std::vector<VoiceCodecState> decoders(count);
    std::vector<ZelkRtpReceiver> receivers(count);
    VoiceCodecState dec;
    ZelkRtpReceiver rx;
    ZELK_VOICE_DecReset(&dec, codec);
    ZELK_RTP_ReceiverReset(&rx, sizeof rx, codec);
    std::vector<int16_t> pcm(FRAME);
    for (size_t f = 0; f < count; ++f) {
      decoders[f] = dec;
      receivers[f] = rx;
      int16_t n = 0;
      size_t got = 0;
      ZELK_VOICE_DecodeFrame(&dec, s.frames[f].data(), pcm.data(), codec, &n);
      ZELK_RTP_ReceiveFrame(&rx, sizeof rx, s.frames[f].data(), 2 * s.frames[f].size(), pcm.data(),
                            FRAME, &got);
    }
    std::vector<int16_t> out(RECOVERY_FRAMES * FRAME);
    for (size_t lost = 10; lost + 1 + RECOVERY_FRAMES <= count; lost += 2) {
      const int16_t* ref = &s.reference[(lost + 1) * FRAME];
      dec = decoders[lost];
      for (int f = 0; f < RECOVERY_FRAMES; ++f) {
        int16_t n = 0;
        ZELK_VOICE_DecodeFrame(&dec, s.frames[lost + 1 + static_cast<size_t>(f)].data(),
                               &out[static_cast<size_t>(f) * FRAME], codec, &n);
      }
      AddRecovery(plain, out.data(), ref, rms);
      rx = receivers[lost];
      ZELK_RTP_ConcealLoss(&rx, sizeof rx, FRAME, pcm.data(), FRAME);
      for (int f = 0; f < RECOVERY_FRAMES; ++f) {
        const auto& frame = s.frames[lost + 1 + static_cast<size_t>(f)];
        size_t got = 0;
        ZELK_RTP_ReceiveFrame(&rx, sizeof rx, frame.data(), 2 * frame.size(),
                              &out[static_cast<size_t>(f) * FRAME], FRAME, &got);
      }
      AddRecovery(ours, out.data(), ref, rms);
    }
  }
  std::printf("\nRecovery after one lost 20 ms frame, %s over VoiceFrames, %zu positions\n",
              codecName, ours.second.size());
  std::printf("RMS error against the loss-free decode, %% of the recording's RMS\n");
  std::printf("%-26s %8s %8s %8s %10s\n", "", "median", "p75", "p90", "below 10%");
  auto row = [](const char* name, const std::vector<double>& v) {
    size_t below = 0;
    for (double e : v) below += e < 10;
    std::printf("%-26s %8.1f %8.1f %8.1f %9.0f%%\n", name, Median(v), Percentile(v, 75),
                Percentile(v, 90),
                100.0 * static_cast<double>(below) / static_cast<double>(v.size()));
  };
  row("decoder goes on: second", plain.second);
  row("receiver: second", ours.second);
  std::printf("median per 100 ms window after the loss:\n%-14s", "");
  for (int w = 0; w < WINDOWS; ++w) std::printf(" %5d", 100 * (w + 1));
  std::printf("\n%-14s", "decoder");
  for (const auto& w : plain.windows) std::printf(" %5.1f", Median(w));
  std::printf("\n%-14s", "receiver");
  for (const auto& w : ours.windows) std::printf(" %5.1f", Median(w));
  std::printf("\n");
}

// IMA ADPCM over DVI4: every packet carries the coder's state, so after a
// lost packet the next one decodes exactly, from its first sample on.
void Dvi4Check(const std::vector<Recording>& speech) {
  size_t compared = 0, differ = 0, positions = 0;
  for (const auto& r : speech) {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int16_t> reference;
    VoiceCodecState enc, dec;
    ZELK_VOICE_EncReset(&enc, IMA_ADPCM);
    ZELK_VOICE_DecReset(&dec, IMA_ADPCM);
    for (size_t at = 0; at + FRAME <= r.pcm.size(); at += FRAME) {
      std::vector<uint8_t> p(ZELK_RTP_MAX_PAYLOAD_BYTES);
      size_t bytes = 0, n = 0;
      ZELK_RTP_EncodePayload(&enc, &r.pcm[at], FRAME, IMA_ADPCM, p.data(), p.size(), &bytes);
      p.resize(bytes);
      int16_t out[FRAME];
      ZELK_RTP_DecodePayload(&dec, p.data(), bytes, IMA_ADPCM, out, FRAME, &n);
      reference.insert(reference.end(), out, out + n);
      packets.push_back(std::move(p));
    }
    ZelkRtpReceiver rx;
    ZELK_RTP_ReceiverReset(&rx, sizeof rx, IMA_ADPCM);
    std::vector<int16_t> pcm(FRAME);
    for (size_t k = 0; k < packets.size(); ++k) {
      const bool lost = k % 7 == 3;
      if (lost) {
        ZELK_RTP_ConcealLoss(&rx, sizeof rx, FRAME, pcm.data(), FRAME);
        ++positions;
        continue;
      }
      size_t n = 0;
      ZELK_RTP_ReceivePayload(&rx, sizeof rx, packets[k].data(), packets[k].size(), pcm.data(),
                              FRAME, &n);
      for (size_t i = 0; i < n; ++i) {
        ++compared;
        differ += pcm[i] != reference[k * FRAME + i];
      }
    }
  }
  std::printf(
      "\nIMA ADPCM over DVI4, one packet in 7 lost (%zu losses): %zu of %zu samples differ "
      "from the loss-free decode\n",
      positions, differ, compared);
}

// --- speed ---------------------------------------------------------------------

// Nanoseconds for one gap of `frames` lost frames, started from each of the
// prepared receivers in turn: best of several rounds, the cost of copying a
// receiver into place (timed alone) taken off.
template <typename Receiver, typename Conceal>
double GapNanos(const std::vector<Receiver>& starts, int frames, int rounds, Conceal&& conceal) {
  using Clock = std::chrono::steady_clock;
  auto time = [&](int lost) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
      constexpr int GAPS = 4000;
      Receiver work = starts[0];
      const auto start = Clock::now();
      for (int k = 0; k < GAPS; ++k) {
        work = starts[static_cast<size_t>(k) % starts.size()];
        for (int f = 0; f < lost; ++f) conceal(work);
        asm volatile("" : : "r"(&work) : "memory");  // keep every copy and call
      }
      const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
      best = std::min(best, ns / GAPS);
    }
    return best;
  };
  return time(frames) - time(0);
}

void SpeedTable(const std::vector<Recording>& speech, int rounds) {
  // 64 start points spread over a recording, each with its receiver (ours
  // and spandsp's) fed every frame before it.
  const Stream s = Encode(speech.front().pcm, G711_ULAW);
  constexpr size_t POINTS = 64;
  std::vector<ZelkRtpReceiver> ours;
  std::vector<SpandspPlc> peers;
  ZelkRtpReceiver rx;
  ZELK_RTP_ReceiverReset(&rx, sizeof rx, G711_ULAW);
  SpandspPlc plc;
  std::vector<int16_t> pcm(FRAME);
  const size_t step = s.frames.size() / (POINTS + 1);
  for (size_t f = 0; f < s.frames.size() && ours.size() < POINTS; ++f) {
    size_t n = 0;
    ZELK_RTP_ReceiveFrame(&rx, sizeof rx, s.frames[f].data(), 2 * s.frames[f].size(), pcm.data(),
                          FRAME, &n);
    plc.Receive(pcm.data(), FRAME);
    if (f > 0 && f % step == 0) {
      ours.push_back(rx);
      peers.push_back(plc);
    }
  }
  auto oursConceal = [&](ZelkRtpReceiver& r) {
    ZELK_RTP_ConcealLoss(&r, sizeof r, FRAME, pcm.data(), FRAME);
  };
  auto peerConceal = [&](SpandspPlc& p) { p.FillIn(pcm.data(), FRAME); };
  std::printf("\nCost of concealment, ns per gap of 20 ms frames (best of %d rounds)\n", rounds);
  std::printf("%-28s %10s %10s %8s\n", "gap", "zelk", "spandsp", "spandsp/zelk");
  double oursPrev = 0, peerPrev = 0;
  for (int frames = 1; frames <= 4; ++frames) {
    const double o = GapNanos(ours, frames, rounds, oursConceal);
    const double p = GapNanos(peers, frames, rounds, peerConceal);
    std::printf("%d frame%s %-19s %10.0f %10.0f %7.2fx\n", frames, frames > 1 ? "s" : " ", "", o, p,
                p / o);
    if (frames > 1) {
      std::printf("  frame %d alone %-13s %10.0f %10.0f\n", frames, "", o - oursPrev, p - peerPrev);
    }
    oursPrev = o;
    peerPrev = p;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const auto speech = zelk::bench::LoadSpeech();
  if (speech.empty()) {
    std::fprintf(stderr, "plc_quality: no speech recordings found (codec2-examples)\n");
    return 1;
  }
  size_t samples = 0;
  for (const auto& r : speech) samples += r.pcm.size();
  std::printf("Speech: %zu recordings, %.1f s at 8 kHz\n", speech.size(), samples / 8000.0);
  QualityTable(speech, G711_ULAW, "G.711 mu-law");
  QualityTable(speech, G711_ALAW, "G.711 A-law");
  CheckBitIdentity(speech);
  Dvi4Check(speech);
  RecoveryTable(speech, IMA_ADPCM, "IMA ADPCM");
  RecoveryTable(speech, ADPCM_2BIT, "two-bit ADPCM");
  if (quick && argc > 2) return 0;
  SpeedTable(speech, quick ? 3 : 15);
  return 0;
}
