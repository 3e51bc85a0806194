// zelk-voice: encode, decode and measure speech with zelk_voice_engine.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <new>

#include "codec.h"
#include "commands.h"
#include "failure.h"
#include "output_file.h"

namespace {

const std::vector<int> FRAME_MS = {10, 20, 30, 40, 50, 60};

void AddRawOptions(CLI::App* cmd, zv::RawInput& raw) {
  cmd->add_option("--raw-rate", raw.rate,
                  "read inputs as headerless 16-bit little-endian PCM at this rate (Hz)")
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--raw-channels", raw.channels, "channels of headerless input")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
}

CLI::Option* AddFrameOption(CLI::App* cmd, int& frameMs) {
  return cmd->add_option("--frame", frameMs, "frame length in ms: 10, 20, 30, 40, 50 or 60")
      ->check(CLI::IsMember(FRAME_MS))
      ->capture_default_str();
}

}  // namespace

int main(int argc, char** argv) {
  zv::InstallOutputCleanup();
  CLI::App app{"Encode, decode and measure telephone speech with the zelk_voice_engine codecs.",
               "zelk-voice"};
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(
      "Exit status: 0 success, 1 an input could not be processed or an output written, "
      "2 bad command line.");
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "no progress bar or summary lines, only errors");
  app.add_flag_callback(
      "--version",
      [] {
        fmt::print("zelk-voice 1.0.0, library version 0x{:08X}\n", zv::LibraryVersion());
        throw CLI::Success();
      },
      "print the version and exit");
  const std::vector<std::string> codecNames = zv::CodecNames();

  zv::EncodeOptions enc;
  CLI::App* encode = app.add_subcommand(
      "encode",
      "Encode audio files (anything libsndfile reads; mixed to mono, resampled to 8 kHz) into "
      ".zvf streams, or for A-law/u-law into G.711 WAVs.");
  encode->add_option("-c,--codec", enc.codec, "alaw, ulaw, ima or adpcm2")
      ->required()
      ->check(CLI::IsMember(codecNames));
  AddFrameOption(encode, enc.frameMs);
  encode->add_option("inputs", enc.inputs, "input audio files")->required();
  encode
      ->add_option("-o,--output", enc.output,
                   "output file (.zvf or .wav) for one input, else a directory")
      ->required();
  encode->add_option("-t,--type", enc.type, "output type when -o is a directory: zvf or wav")
      ->check(CLI::IsMember({"zvf", "wav"}));
  AddRawOptions(encode, enc.raw);

  zv::DecodeOptions dec;
  CLI::App* decode = app.add_subcommand(
      "decode", "Decode .zvf streams or A-law/u-law files to PCM (format by extension).");
  decode->add_option("inputs", dec.inputs, ".zvf streams or A-law/u-law files")->required();
  decode
      ->add_option("-o,--output", dec.output,
                   "output file for one input (.wav, .flac, .aiff, .au, .raw, ...), else a "
                   "directory")
      ->required();
  decode->add_option("-t,--type", dec.type, "output extension when -o is a directory (wav)");
  decode->add_option("--rate", dec.rate, "resample the output to this rate (Hz)")
      ->check(CLI::Range(1000, 384000));

  zv::RoundtripOptions rt;
  CLI::App* roundtrip = app.add_subcommand(
      "roundtrip",
      "Encode and decode one input with every selected codec and print bit rate, SNR, segmental "
      "SNR and speed. Without IN: the bundled speech sample.");
  roundtrip->add_option("input", rt.input, "input audio file (default: bundled speech sample)");
  roundtrip->add_option("-c,--codec", rt.codecs, "codecs, comma-separated (default: all)")
      ->delimiter(',')
      ->check(CLI::IsMember(codecNames));
  roundtrip->add_option("-o,--output", rt.outputDir, "write the decoded WAVs into this directory");
  roundtrip->add_option("--plot", rt.plot, "draw segmental SNR over time into this SVG file");
  AddFrameOption(roundtrip, rt.frameMs);
  roundtrip->add_option("--time", rt.minSeconds, "seconds spent timing each figure")
      ->check(CLI::Range(0.001, 60.0))
      ->capture_default_str();
  roundtrip->add_flag("--csv", rt.csv, "print the table as CSV");
  AddRawOptions(roundtrip, rt.raw);

  zv::InfoOptions inf;
  CLI::App* info = app.add_subcommand("info", "Show a .zvf stream's header and check every frame.");
  info->add_option("file", inf.input, ".zvf stream")->required();

  zv::BenchOptions bo;
  CLI::App* bench = app.add_subcommand(
      "bench",
      "Measure the library's speed per codec and frame size, and the 8 kHz channels (encoder "
      "plus decoder) one core sustains.");
  bench->add_option("-c,--codec", bo.codecs, "codecs, comma-separated (default: all)")
      ->delimiter(',')
      ->check(CLI::IsMember(codecNames));
  bench->add_option("--frame", bo.frameMs, "frame lengths in ms, comma-separated (default: all)")
      ->delimiter(',')
      ->check(CLI::IsMember(FRAME_MS));
  bench->add_option("--time", bo.minSeconds, "seconds spent timing each figure")
      ->check(CLI::Range(0.001, 60.0))
      ->capture_default_str();
  bench->add_flag("--csv", bo.csv, "print CSV");

  zv::ExtractOptions ex;
  CLI::App* extract = app.add_subcommand(
      "extract",
      "Write every RTP stream of pcap/pcapng captures as an 8 kHz WAV (losses concealed) and "
      "print each stream's packets, losses and jitter.");
  extract->add_option("captures", ex.inputs, "capture files, read in order as one capture")
      ->required();
  extract->add_option("-o,--output", ex.output, "directory for DIR/<ssrc>-<codec>.wav")->required();
  extract->add_option("--pt", ex.payloadTypes,
                      "map a payload type to a codec, e.g. --pt 97=ulaw (repeatable)");
  extract->add_flag("--mix", ex.mix, "also write both directions of each call as a stereo WAV");
  extract->add_flag("--json", ex.json, "print the streams as JSON");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help or --version
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    fmt::print(stderr, "zelk-voice: {} (see zelk-voice --help)\n", e.what());
    return zv::EXIT_USAGE;
  }

  try {
    if (*encode) return zv::RunEncode(enc, quiet);
    if (*decode) return zv::RunDecode(dec, quiet);
    if (*roundtrip) return zv::RunRoundtrip(rt, quiet);
    if (*info) return zv::RunInfo(inf, quiet);
    if (*bench) return zv::RunBench(bo, quiet);
    if (*extract) return zv::RunExtract(ex, quiet);
  } catch (const zv::Failure& f) {
    fmt::print(stderr, "zelk-voice: {}\n", f.what());
    return f.ExitStatus();
  } catch (const std::bad_alloc&) {
    fmt::print(stderr, "zelk-voice: out of memory\n");
    return zv::EXIT_FILE_FAILURE;
  } catch (const std::exception& e) {
    fmt::print(stderr, "zelk-voice: {}\n", e.what());
    return zv::EXIT_FILE_FAILURE;
  }
  return zv::EXIT_USAGE;
}
