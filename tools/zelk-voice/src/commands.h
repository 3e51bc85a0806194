// The subcommands. Each returns the process exit status or throws a Failure.
#pragma once

#include <string>
#include <vector>

#include "audio_io.h"

namespace zv {

struct EncodeOptions {
  std::string codec;
  int frameMs = 20;
  std::vector<std::string> inputs;
  std::string output;
  std::string type;  // "zvf" or "wav"; empty: from the output's extension
  RawInput raw;
};

struct DecodeOptions {
  std::vector<std::string> inputs;
  std::string output;
  std::string type;  // output extension when OUT is a directory
  int rate = 0;      // 0: keep the stream's rate
};

struct RoundtripOptions {
  std::string input;  // empty: the bundled speech sample
  std::vector<std::string> codecs;
  std::string outputDir;
  std::string plot;
  int frameMs = 20;
  double minSeconds = 0.1;
  bool csv = false;
  RawInput raw;
};

struct InfoOptions {
  std::string input;
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
int RunInfo(const InfoOptions& options, bool quiet);
int RunBench(const BenchOptions& options, bool quiet);
int RunExtract(const ExtractOptions& options, bool quiet);

}  // namespace zv
