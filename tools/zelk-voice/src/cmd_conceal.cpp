// conceal: what a lossy network does to a coded stream, and how much of it
// the receiver hides. The input is encoded frame by frame; the frames that
// --lose names are dropped; what arrives goes through the RTP component's
// concealing receiver (or, with --plc off, the plain decoder, silence in the
// gaps); the result is written and measured against the loss-free decode of
// the same stream. One frame at a time: memory does not grow with the input.
#include <fmt/format.h>
#include <zelk_voice_rtp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "audio_reader.h"
#include "audio_writer.h"
#include "codec.h"
#include "commands.h"
#include "concealment_measures.h"
#include "failure.h"
#include "files.h"
#include "input_stream.h"
#include "jobs.h"
#include "loss_plan.h"
#include "metrics.h"
#include "text_fields.h"

namespace zv {

namespace {

void Check(uint32_t status, const char* what, uint64_t frame) {
  if (status != ZELK_RTP_OK) {
    throw Failure(
        fmt::format("library refused to {} frame {} ({})", what, frame, StatusText(status)));
  }
}

std::string TransportLabel(const Codec& codec, bool rtp) {
  if (!rtp) return "VoiceFrames";
  switch (codec.type) {
    case G711_ALAW:
      return fmt::format("RTP PCMA (payload type {})", ZELK_RTP_PT_PCMA);
    case G711_ULAW:
      return fmt::format("RTP PCMU (payload type {})", ZELK_RTP_PT_PCMU);
    case IMA_ADPCM:
      return fmt::format("RTP DVI4 (payload type {})", ZELK_RTP_PT_DVI4);
    default:
      return "RTP " ZELK_RTP_ADPCM2_ENCODING_NAME " (dynamic payload type)";
  }
}

// The sending side: one VoiceFrame, or one RTP payload, per block of samples
// (the last block padded with zero samples, as `encode` pads it).
class Sender {
 public:
  Sender(const Codec& codec, int samplesPerFrame, bool rtp)
      : codec_(codec), spf_(samplesPerFrame), rtp_(rtp), frames_(codec, samplesPerFrame) {
    if (rtp_) ResetOrThrow(ZELK_VOICE_EncReset, state_, codec);
  }

  std::span<const uint8_t> Send(std::span<const int16_t> samples) {
    if (!rtp_) return frames_.Encode(samples);
    std::array<int16_t, ZELK_VOICE_MAX_SAMPLES> block{};
    std::copy(samples.begin(), samples.end(), block.begin());
    size_t bytes = 0;
    Check(ZELK_RTP_EncodePayload(&state_, block.data(), spf_, codec_.type, payload_.data(),
                                 payload_.size(), &bytes),
          "encode", sent_);
    ++sent_;
    return std::span(payload_).first(bytes);
  }

 private:
  const Codec& codec_;
  int spf_;
  bool rtp_;
  FrameEncoder frames_;
  VoiceCodecState state_{};
  std::array<uint8_t, ZELK_RTP_MAX_PAYLOAD_BYTES> payload_{};
  uint64_t sent_ = 0;
};

// The receiving side, over the same transport: the concealing receiver, or
// the plain decoder (ZELK_VOICE_DecodeFrame, or ZELK_RTP_DecodePayload, which
// loads a DVI4 header) that leaves silence where a frame is missing. After a
// gap the plain ADPCM decoders go on from the state the last frame that
// arrived left them in.
class Receiver {
 public:
  Receiver(const Codec& codec, int samplesPerFrame, bool rtp, bool conceal)
      : codec_(codec), spf_(samplesPerFrame), rtp_(rtp), conceal_(conceal), frames_(codec) {
    if (conceal_) {
      Check(ZELK_RTP_ReceiverReset(&rx_, sizeof rx_, codec.type), "start the receiver for", 0);
    } else if (rtp_) {
      ResetOrThrow(ZELK_VOICE_DecReset, state_, codec);
    }
  }

  // Decodes what arrived into pcm (samplesPerFrame samples).
  void Receive(std::span<const uint8_t> packet, std::span<int16_t> pcm) {
    size_t got = 0;
    if (!rtp_ && !conceal_) {
      got = frames_.Decode(packet, pcm, fmt::format("frame {}", frame_));
    } else if (!rtp_) {
      std::array<uint16_t, ZELK_VOICE_MAX_FRAME_WORDS> words{};
      std::memcpy(words.data(), packet.data(), packet.size());  // little-endian bytes, as sent
      Check(ZELK_RTP_ReceiveFrame(&rx_, sizeof rx_, words.data(), packet.size(), pcm.data(),
                                  pcm.size(), &got),
            "receive", frame_);
    } else if (conceal_) {
      Check(ZELK_RTP_ReceivePayload(&rx_, sizeof rx_, packet.data(), packet.size(), pcm.data(),
                                    pcm.size(), &got),
            "receive", frame_);
    } else {
      Check(ZELK_RTP_DecodePayload(&state_, packet.data(), packet.size(), codec_.type, pcm.data(),
                                   pcm.size(), &got),
            "decode", frame_);
    }
    if (got != static_cast<size_t>(spf_)) {
      throw Failure(
          fmt::format("frame {}: the library decoded {} samples, not {}", frame_, got, spf_));
    }
    ++frame_;
  }

  // Plays samplesPerFrame samples in place of a lost frame.
  void Lose(std::span<int16_t> pcm) {
    if (conceal_) {
      Check(ZELK_RTP_ConcealLoss(&rx_, sizeof rx_, spf_, pcm.data(), pcm.size()), "conceal",
            frame_);
    } else {
      std::fill_n(pcm.begin(), spf_, int16_t{0});
    }
    ++frame_;
  }

 private:
  const Codec& codec_;
  int spf_;
  bool rtp_, conceal_;
  FrameDecoder frames_;
  VoiceCodecState state_{};
  ZelkRtpReceiver rx_{};
  uint64_t frame_ = 0;
};

// The figures, gathered frame by frame.
struct Figures {
  uint64_t samples = 0, frames = 0, lostFrames = 0, bursts = 0, longestBurst = 0;
  double snrDb = 0, segSnrDb = 0, lostSnrDb = 0, lostSegSnrDb = 0;
  double lsdDb = 0;
  size_t lsdFrames = 0;
  uint64_t edges = 0;
  int jump99 = 0, referenceJump99 = 0;
};

class LossMeter {
 public:
  // One frame of the loss-free decode and of what was played.
  void Add(std::span<const int16_t> reference, std::span<const int16_t> played, bool lost) {
    whole_.Add(reference, played);
    lostOnly_.Add(reference, played, lost);
    // Each lost frame counts the step at both of its edges (an edge between
    // two lost frames counts twice), as the quality program counts them.
    if (f_.frames > 0) {
      for (int k = 0; k < int{lost} + int{previousLost_}; ++k) {
        jumps_.Add(lastPlayed_, played.front());
        referenceJumps_.Add(lastReference_, reference.front());
      }
    }
    if (lost) {
      spectral_.AddFrame(reference, played);
      ++f_.lostFrames;
      if (!previousLost_) ++f_.bursts;
      f_.longestBurst = std::max(f_.longestBurst, ++burst_);
    } else {
      burst_ = 0;
    }
    ++f_.frames;
    f_.samples += reference.size();
    lastPlayed_ = played.back();
    lastReference_ = reference.back();
    previousLost_ = lost;
  }

  Figures Result() const {
    Figures f = f_;
    f.snrDb = whole_.SnrDb();
    f.segSnrDb = whole_.Segmental().meanDb;
    f.lostSnrDb = lostOnly_.SnrDb();
    f.lostSegSnrDb = lostOnly_.Segmental().meanDb;
    f.lsdDb = spectral_.MeanDb();
    f.lsdFrames = spectral_.Frames();
    f.edges = jumps_.Count();
    f.jump99 = jumps_.Percentile(99);
    f.referenceJump99 = referenceJumps_.Percentile(99);
    return f;
  }

 private:
  Figures f_;
  QualityMeter whole_{false}, lostOnly_{false};
  zelk::quality::SpectralDistanceTally spectral_;
  zelk::quality::JumpTally jumps_, referenceJumps_;
  int16_t lastPlayed_ = 0, lastReference_ = 0;
  bool previousLost_ = false;
  uint64_t burst_ = 0;
};

struct Result {
  const ConcealOptions& o;
  const Codec& codec;
  const LossPlan& plan;
  std::string input;   // for messages
  std::string output;  // for messages
  Figures f;
};

std::string Percent(uint64_t part, uint64_t whole) {
  return fmt::format("{:.2f}%",
                     whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
}

std::string Plural(uint64_t n, const char* word) {
  return fmt::format("{} {}{}", n, word, n == 1 ? "" : "s");
}

std::string Table(const Result& r) {
  const Figures& f = r.f;
  const bool any = f.lostFrames > 0;
  const auto lostDb = [&](double v) { return any ? DbText(v) : std::string("-"); };
  std::string t =
      fmt::format("{}: {:.2f} s, {} of {} ms, {} over {}, concealment {}\n", r.input,
                  static_cast<double>(f.samples) / SAMPLE_RATE, Plural(f.frames, "frame"),
                  r.o.frameMs, r.codec.label, TransportLabel(r.codec, r.o.transport == "rtp"),
                  r.o.plc == "on" ? "on" : "off (silence in the gaps)");
  t += fmt::format("loss {}: ", r.plan.Describe());
  t += any ? fmt::format("{} of {} frames lost ({}) in {}, the longest {}\n", f.lostFrames,
                         f.frames, Percent(f.lostFrames, f.frames), Plural(f.bursts, "burst"),
                         Plural(f.longestBurst, "frame"))
           : std::string("no frame lost\n");
  constexpr const char* ROW = "{:<30} {:>12} {:>12}{}\n";
  t += fmt::format(ROW, "against the loss-free decode", "whole signal", "lost frames", "");
  t += fmt::format(ROW, "SNR dB", DbText(f.snrDb), lostDb(f.lostSnrDb), "");
  t += fmt::format(ROW, "segmental SNR dB", DbText(f.segSnrDb), lostDb(f.lostSegSnrDb), "");
  t += fmt::format(ROW, "log-spectral distance dB", "", f.lsdFrames ? DbText(f.lsdDb) : "-",
                   any ? fmt::format("   over {} with RMS >= {}", Plural(f.lsdFrames, "frame"),
                                     zelk::quality::LSD_MIN_REFERENCE_RMS)
                       : "");
  t += fmt::format(ROW, "edge jump p99", "", f.edges ? fmt::format("{}", f.jump99) : "-",
                   f.edges ? fmt::format("   over {}; loss-free decode: {}",
                                         Plural(f.edges, "edge"), f.referenceJump99)
                           : "");
  t.pop_back();  // the caller ends the line
  return t;
}

std::string Csv(const Result& r) {
  const Figures& f = r.f;
  const bool any = f.lostFrames > 0;
  const auto lostDb = [&](double v) { return any ? DbText(v, 3) : std::string("-"); };
  return fmt::format(
      "input,codec,frame_ms,transport,plc,loss,samples,frames,lost_frames,bursts,longest_burst,"
      "snr_db,segmental_snr_db,lost_snr_db,lost_segmental_snr_db,lsd_db,lsd_frames,edges,"
      "edge_jump_p99,reference_edge_jump_p99\n"
      "{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}",
      CsvField(r.input), r.codec.name, r.o.frameMs, r.o.transport, r.o.plc, CsvField(r.plan.text),
      f.samples, f.frames, f.lostFrames, f.bursts, f.longestBurst, DbText(f.snrDb, 3),
      DbText(f.segSnrDb, 3), lostDb(f.lostSnrDb), lostDb(f.lostSegSnrDb),
      f.lsdFrames ? DbText(f.lsdDb, 3) : "-", f.lsdFrames, f.edges,
      f.edges ? fmt::format("{}", f.jump99) : "-",
      f.edges ? fmt::format("{}", f.referenceJump99) : "-");
}

// JSON has no infinity: identical signals (and figures without lost frames) give null.
std::string JsonNumber(double v, bool defined = true) {
  return defined && std::isfinite(v) ? fmt::format("{:.3f}", v) : "null";
}

std::string Json(const Result& r) {
  const Figures& f = r.f;
  const bool any = f.lostFrames > 0;
  return fmt::format(
      "{{\"input\": {}, \"output\": {}, \"codec\": \"{}\", \"frame_ms\": {}, \"transport\": "
      "\"{}\", "
      "\"plc\": \"{}\", \"loss\": {}, \"samples\": {}, \"frames\": {}, \"lost_frames\": {}, "
      "\"bursts\": {}, \"longest_burst\": {}, \"snr_db\": {}, \"segmental_snr_db\": {}, "
      "\"lost_snr_db\": {}, \"lost_segmental_snr_db\": {}, \"lsd_db\": {}, \"lsd_frames\": {}, "
      "\"edges\": {}, \"edge_jump_p99\": {}, \"reference_edge_jump_p99\": {}}}",
      JsonString(r.input), JsonString(r.output), r.codec.name, r.o.frameMs, r.o.transport, r.o.plc,
      JsonString(r.plan.text), f.samples, f.frames, f.lostFrames, f.bursts, f.longestBurst,
      JsonNumber(f.snrDb), JsonNumber(f.segSnrDb), JsonNumber(f.lostSnrDb, any),
      JsonNumber(f.lostSegSnrDb, any), JsonNumber(f.lsdDb, f.lsdFrames > 0), f.lsdFrames, f.edges,
      f.edges ? fmt::format("{}", f.jump99) : "null",
      f.edges ? fmt::format("{}", f.referenceJump99) : "null");
}

}  // namespace

int RunConceal(const ConcealOptions& o, bool quiet) {
  const Codec& codec = *FindCodec(o.codec);
  const int spf = SamplesPerFrameForMs(o.frameMs);
  const LossPlan plan = ParseLossPlan(o.lose);
  const std::vector<std::string> inputs = {o.input};
  const OutputFormat format = PcmOutputFormat(inputs, o.output, o.type);
  const std::vector<std::string> outputs = PlanOutputs(inputs, o.output, format.extension);
  RefuseOverwritingInputs(inputs, outputs);
  const bool toStdout = o.output == STDIO_NAME;
  const bool rtp = o.transport == "rtp";

  Figures figures;
  std::string outputName;
  Progress progress(InputWeights(inputs), "files", quiet);
  auto job = [&](size_t, ProgressSink sink) {
    ReadRequest read;
    read.channel = o.channel;
    read.raw = o.raw;
    AudioReader reader(o.input, read);
    Sender sender(codec, spf, rtp);
    Receiver reference(codec, spf, rtp, false);
    Receiver receiver(codec, spf, rtp, o.plc == "on");
    LossPattern pattern(plan);
    LossMeter meter;
    PcmWriter writer(outputs[0], format, SAMPLE_RATE, 1, reader.Frames());
    std::vector<int16_t> block(static_cast<size_t>(spf));
    std::vector<int16_t> lossFree(ZELK_VOICE_MAX_SAMPLES), played(ZELK_VOICE_MAX_SAMPLES);
    for (size_t n; (n = reader.Read(block)) > 0;) {
      const std::span<const uint8_t> packet = sender.Send(std::span(block).first(n));
      reference.Receive(packet, lossFree);
      const bool lost = pattern.Next();
      if (lost) {
        receiver.Lose(played);
      } else {
        receiver.Receive(packet, played);
      }
      // Only the input's own samples: the padding of a last frame is cut off.
      meter.Add(std::span(lossFree).first(n), std::span(played).first(n), lost);
      writer.Write(std::span(played).first(n));
      sink.Report(reader.Fraction());
    }
    writer.Finish();
    figures = meter.Result();
    outputName = writer.Name();
    JobReport report;
    report.warnings = ReadWarnings(reader, codec.type == ADPCM_2BIT);
    const std::string past = pattern.PastTheEnd(figures.frames);
    if (!past.empty()) {
      report.warnings.push_back(fmt::format(
          "{}: --lose names frames past the end of the stream ({} frames, 0-{}), which were not "
          "lost: {}",
          reader.Name(), figures.frames, figures.frames - 1, past));
    }
    return report;
  };
  const auto outcomes = RunJobs(inputs, job, progress);
  const int status = ReportOutcomes(outcomes, progress, quiet);
  if (status != 0) return status;

  // The table is the result: on standard output, or beside the audio on
  // stderr, where -q silences it as it silences every summary.
  if (toStdout && quiet) return 0;
  const Result result{o, codec, plan, DisplayName(o.input), outputName, figures};
  const std::string text = o.json ? Json(result) : o.csv ? Csv(result) : Table(result);
  fmt::print(toStdout ? stderr : stdout, "{}\n", text);
  return 0;
}

}  // namespace zv
