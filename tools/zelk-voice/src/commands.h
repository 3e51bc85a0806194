// The subcommands. Each returns the process exit status or throws a Failure.
#pragma once

#include <string>
#include <vector>

#include "audio_reader.h"

namespace zv {

struct EncodeOptions {
  std::string codec;
  int frameMs = 20;
  std::vector<std::string> inputs;
  std::string output;
  std::string type;  // zvf, wav, au, alaw, ulaw; empty: from the output's name
  int channel = 0;   // 0: the mix of all channels
  bool split = false;
  RawInput raw;
};

struct DecodeOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::vector<std::string> types;  // alaw/ulaw name headerless input, anything else the output
  int rate = 0;                    // 0: keep the stream's rate
};

struct RoundtripOptions {
  std::string input;  // empty: the bundled speech sample
  std::vector<std::string> codecs;
  std::string outputDir;
  std::string plot;
  int frameMs = 20;
  double minSeconds = 0.1;
  bool csv = false;
  int channel = 0;
  RawInput raw;
};

struct ConcealOptions {
  std::string input;
  std::string codec;
  int frameMs = 20;
  std::string lose;                 // the loss LOSSES
  std::string plc = "on";           // on: the concealing receiver; off: silence in the gaps
  std::string transport = "frame";  // frame: VoiceFrames; rtp: RTP payloads
  std::string output;
  std::string type;  // the output type where -o cannot name it
  int channel = 0;
  RawInput raw;
  bool csv = false;
  bool json = false;
};

struct InfoOptions {
  std::string input;
  bool json = false;
};

struct BenchOptions {
  std::vector<std::string> codecs;
  std::vector<int> frameMs;
  double minSeconds = 0.1;
  bool csv = false;
};

struct ExtractOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::vector<std::string> payloadTypes;  // "N=CODEC"
  bool mix = false;
  bool json = false;
};

int RunEncode(const EncodeOptions& options, bool quiet);
int RunDecode(const DecodeOptions& options, bool quiet);
int RunRoundtrip(const RoundtripOptions& options, bool quiet);
int RunConceal(const ConcealOptions& options, bool quiet);
int RunInfo(const InfoOptions& options, bool quiet);
int RunBench(const BenchOptions& options, bool quiet);
int RunExtract(const ExtractOptions& options, bool quiet);

// Warnings about what reading an input cost: size fields that disagree with
// the file, clipped samples, and for the two-bit codec a peak close to the
// level where it wraps around.
std::vector<std::string> ReadWarnings(const AudioReader& reader, bool twoBitCodec);

}  // namespace zv
