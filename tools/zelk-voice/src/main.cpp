// zelk-voice: encode, decode and measure speech with zelk_voice_engine.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>

#include "codec.h"
#include "commands.h"
#include "concealment_measures.h"
#include "failure.h"
#include "loss_plan.h"
#include "output_file.h"

namespace {

const std::vector<int> FRAME_MS = {10, 20, 30, 40, 50, 60};
const std::vector<std::string> SUBCOMMANDS = {"encode", "decode", "conceal", "roundtrip",
                                              "info",   "bench",  "extract"};

constexpr const char* WRAP_NOTE =
    "adpcm2 keeps its arithmetic in 16 bits without saturating: input that peaks near full scale "
    "can wrap around (loud samples come out with the opposite sign). On recorded speech this "
    "starts at about -0.6 dBFS, on pure high tones from about -7 dBFS; inputs peaking at -1 dBFS "
    "or above get a warning.";

// Accepts codec names and their aliases and turns an alias into the name.
CLI::Validator CodecName() {
  return CLI::Validator(
      [](std::string& name) -> std::string {
        const zv::Codec* codec = zv::FindCodec(name);
        if (codec == nullptr)
          return fmt::format("unknown codec '{}': {}", name, zv::CodecNameList());
        name = codec->name;
        return {};
      },
      "CODEC");
}

void AddRawOptions(CLI::App* cmd, zv::RawInput& raw) {
  cmd->add_option("--raw-rate", raw.rate,
                  "read inputs as headerless 16-bit little-endian PCM at this rate (Hz)")
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--raw-channels", raw.channels, "channels of headerless input")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
}

// One codec, required (encode, conceal).
CLI::Option* AddCodecOption(CLI::App* cmd, std::string& codec) {
  return cmd
      ->add_option("-c,--codec", codec, "alaw, ulaw, ima or adpcm2 (or mulaw, pcmu, pcma, dvi)")
      ->required()
      ->transform(CodecName());
}

CLI::Option* AddFrameOption(CLI::App* cmd, int& frameMs) {
  return cmd->add_option("--frame", frameMs, "frame length in ms: 10, 20, 30, 40, 50 or 60")
      ->check(CLI::IsMember(FRAME_MS))
      ->capture_default_str();
}

CLI::Option* AddChannelOption(CLI::App* cmd, int& channel) {
  return cmd
      ->add_option("--channel", channel,
                   "code this channel alone (1 = the first) instead of the mix of all")
      ->check(CLI::Range(1, 1024));
}

// The first word that is not an option must name a subcommand.
bool CheckSubcommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with("-")) continue;
    if (std::find(SUBCOMMANDS.begin(), SUBCOMMANDS.end(), arg) != SUBCOMMANDS.end()) return true;
    fmt::print(
        stderr,
        "zelk-voice: unknown subcommand '{}'; the subcommands are {} (see zelk-voice --help)\n",
        arg, fmt::join(SUBCOMMANDS, ", "));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  zv::InstallOutputCleanup();
  if (!CheckSubcommand(argc, argv)) return zv::EXIT_USAGE;
  CLI::App app{"Encode, decode and measure telephone speech with the zelk_voice_engine codecs.",
               "zelk-voice"};
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(
      fmt::format("A file name of - reads standard input or writes standard output.\n{}\n"
                  "Exit status: 0 success, 1 an input could not be processed or an output written, "
                  "2 bad command line.\n\nExamples:\n"
                  "  zelk-voice roundtrip\n"
                  "  zelk-voice encode -c ima call.flac -o call.zvf\n"
                  "  zelk-voice decode call.zvf -o call.wav",
                  WRAP_NOTE));
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "no progress bar, summary lines or warnings, only errors");
  app.add_flag_callback(
      "--version",
      [] {
        fmt::print("zelk-voice 1.0.0, library version 0x{:08X}\n", zv::LibraryVersion());
        throw CLI::Success();
      },
      "print the version and exit");

  zv::EncodeOptions enc;
  CLI::App* encode = app.add_subcommand(
      "encode",
      "Encode audio (anything libsndfile reads; mixed to mono or one channel picked, resampled to "
      "8 kHz) into .zvf streams, or for A-law/u-law into G.711 WAV, AU or headerless .al/.ul "
      "files. Reads and writes as it goes, in constant memory.");
  AddCodecOption(encode, enc.codec);
  AddFrameOption(encode, enc.frameMs);
  encode->add_option("inputs", enc.inputs, "input audio files, - for standard input")->required();
  encode
      ->add_option("-o,--output", enc.output,
                   "output file (.zvf, .wav, .au, .al, .ul) or - for standard output, for one "
                   "input; else a directory (a name ending in / is one, created if needed)")
      ->required();
  encode
      ->add_option("-t,--type", enc.type,
                   "output type where -o cannot name it (standard output, a directory): zvf, wav, "
                   "au, alaw, ulaw")
      ->check(CLI::IsMember({"zvf", "wav", "au", "alaw", "ulaw", "al", "ul"}));
  CLI::Option* encChannel = AddChannelOption(encode, enc.channel);
  encode
      ->add_flag("--split", enc.split,
                 "write each channel to its own output, NAME.ch1.zvf, NAME.ch2.zvf, ...")
      ->excludes(encChannel);
  AddRawOptions(encode, enc.raw);
  encode->footer(
      fmt::format("{}\n\nExamples:\n"
                  "  zelk-voice encode -c ima call.flac -o call.zvf\n"
                  "  zelk-voice encode -c alaw --split two-party-call.wav -o calls/\n"
                  "  sox talk.mp3 -t wav - | zelk-voice encode -c ulaw - -t au -o - > talk.au",
                  WRAP_NOTE));

  zv::DecodeOptions dec;
  CLI::App* decode = app.add_subcommand(
      "decode",
      "Decode .zvf streams or A-law/u-law files (WAV, AU, headerless .al/.ul) to PCM, format by "
      "extension. Reads and writes as it goes, in constant memory.");
  decode
      ->add_option("inputs", dec.inputs, ".zvf streams or A-law/u-law files, - for standard input")
      ->required();
  decode
      ->add_option("-o,--output", dec.output,
                   "output file for one input (.wav, .flac, .aiff, .au, .raw, ...) or - for "
                   "standard output (wav, au, raw); else a directory")
      ->required();
  decode
      ->add_option("-t,--type", dec.types,
                   "alaw or ulaw: the input is headerless codes; any other: the output type where "
                   "-o cannot name it (wav by default). May be given twice.")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  decode->add_option("--rate", dec.rate, "resample the output to this rate (Hz)")
      ->check(CLI::Range(1000, 384000));
  decode->footer(
      "Examples:\n"
      "  zelk-voice decode call.zvf -o call.flac --rate 16000\n"
      "  zelk-voice decode -t alaw capture.raw -o capture.wav\n"
      "  zelk-voice decode call.zvf -o - | sox -t wav - call.mp3");

  zv::ConcealOptions con;
  CLI::App* conceal = app.add_subcommand(
      "conceal",
      "Encode audio, drop the frames --lose names, decode with concealment (or silence in the gaps "
      "with --plc off), write the result (8 kHz mono) and print how close it comes to the "
      "loss-free decode. Reads and writes as it goes, in constant memory.");
  conceal->add_option("input", con.input, "input audio file (anything encode reads), - for stdin")
      ->required();
  AddCodecOption(conceal, con.codec);
  AddFrameOption(conceal, con.frameMs);
  conceal
      ->add_option("--lose", con.lose,
                   "the frames to drop: a list of zero-based indices and ranges (3,7-9; '' or none "
                   "for none), random:PERCENT[:SEED] or bursty:PERCENT:MEANBURST[:SEED]")
      ->type_name("LOSSES")
      ->required();
  conceal->add_option("--plc", con.plc, "on: conceal the gaps; off: silence in them")
      ->check(CLI::IsMember({"on", "off"}))
      ->capture_default_str();
  conceal
      ->add_option("--transport", con.transport,
                   "frame: VoiceFrames; rtp: RTP payloads (PCMA, PCMU, DVI4, the two-bit payload)")
      ->check(CLI::IsMember({"frame", "rtp"}))
      ->capture_default_str();
  conceal
      ->add_option("-o,--output", con.output,
                   "output file (.wav, .flac, .au, .raw, ...) or - for standard output (wav, au, "
                   "raw); a directory takes <name>.wav")
      ->required();
  conceal->add_option("-t,--type", con.type,
                      "output type where -o cannot name it (standard output, a directory)");
  AddChannelOption(conceal, con.channel);
  AddRawOptions(conceal, con.raw);
  CLI::Option* concealCsv = conceal->add_flag("--csv", con.csv, "print the figures as CSV");
  conceal->add_flag("--json", con.json, "print the figures as one JSON object")
      ->excludes(concealCsv);
  conceal->footer(fmt::format(
      "Loss models, seeded with SEED (default {}) so that a run is the same every time:\n"
      "  random:PERCENT[:SEED]   each frame lost independently with chance PERCENT/100\n"
      "  bursty:PERCENT:MEANBURST[:SEED]\n"
      "                          two-state Gilbert model: from receiving, start losing with "
      "chance q;\n"
      "                          while losing, stop with chance p = 1/MEANBURST; q = p * P / "
      "(1 - P) with\n"
      "                          P = PERCENT/100, so bursts average MEANBURST frames and P of "
      "the frames\n"
      "                          are lost in the long run (P can be at most MEANBURST / "
      "(MEANBURST + 1))\n"
      "Indices past the end of the input are a warning. Figures against the loss-free decode: "
      "SNR and\nsegmental SNR for the whole signal and the lost frames alone, the "
      "log-spectral distance of the\nlost frames (Hann window, frames with RMS below {} "
      "left out), the 99th percentile of the step\nbetween neighbouring samples at their "
      "edges. With -o - they go to stderr.\n\n"
      "Examples:\n"
      "  zelk-voice conceal call.wav -c ulaw --lose random:5 -o concealed.wav\n"
      "  zelk-voice conceal call.wav -c ima --transport rtp --lose bursty:10:3:7 -o out.wav\n"
      "  sox talk.mp3 -t wav - | zelk-voice conceal - -c alaw --lose 50-52 --plc off --csv -o "
      "gaps.wav",
      zv::DEFAULT_LOSS_SEED, zelk::quality::LSD_MIN_REFERENCE_RMS));

  zv::RoundtripOptions rt;
  CLI::App* roundtrip = app.add_subcommand(
      "roundtrip",
      "Encode and decode one input with every selected codec and print bit rate, SNR, segmental "
      "SNR and speed. Without IN: the bundled speech sample.");
  roundtrip->add_option("input", rt.input, "input audio file (default: bundled speech sample)");
  roundtrip->add_option("-c,--codec", rt.codecs, "codecs, comma-separated (default: all)")
      ->allow_extra_args(false)
      ->delimiter(',')
      ->transform(CodecName());
  roundtrip->add_option("-o,--output", rt.outputDir, "write the decoded WAVs into this directory");
  roundtrip->add_option("--plot", rt.plot, "draw segmental SNR over time into this .svg file");
  AddFrameOption(roundtrip, rt.frameMs);
  AddChannelOption(roundtrip, rt.channel);
  roundtrip->add_option("--time", rt.minSeconds, "seconds spent timing each figure")
      ->check(CLI::Range(0.001, 60.0))
      ->capture_default_str();
  roundtrip->add_flag("--csv", rt.csv, "print the table as CSV");
  AddRawOptions(roundtrip, rt.raw);
  roundtrip->footer(
      "Examples:\n"
      "  zelk-voice roundtrip\n"
      "  zelk-voice roundtrip -c alaw,ima interview.wav\n"
      "  zelk-voice roundtrip call.wav --channel 2 --plot snr.svg -o decoded/");

  zv::InfoOptions inf;
  CLI::App* info = app.add_subcommand("info", "Show a .zvf stream's header and check every frame.");
  info->add_option("file", inf.input, ".zvf stream, - for standard input")->required();
  info->add_flag("--json", inf.json, "print the facts as one JSON object");
  info->footer(
      "Examples:\n"
      "  zelk-voice info call.zvf\n"
      "  zelk-voice info --json call.zvf");

  zv::BenchOptions bo;
  CLI::App* bench = app.add_subcommand(
      "bench",
      "Measure the library's speed per codec and frame size, and the 8 kHz channels (encoder "
      "plus decoder) one core sustains.");
  bench->add_option("-c,--codec", bo.codecs, "codecs, comma-separated (default: all)")
      ->allow_extra_args(false)
      ->delimiter(',')
      ->transform(CodecName());
  bench->add_option("--frame", bo.frameMs, "frame lengths in ms, comma-separated (default: all)")
      ->allow_extra_args(false)
      ->delimiter(',')
      ->check(CLI::IsMember(FRAME_MS));
  bench->add_option("--time", bo.minSeconds, "seconds spent timing each figure")
      ->check(CLI::Range(0.001, 60.0))
      ->capture_default_str();
  bench->add_flag("--csv", bo.csv, "print CSV");
  bench->footer(
      "Examples:\n"
      "  zelk-voice bench\n"
      "  zelk-voice bench -c ima,adpcm2 --frame 20,60 --csv");

  zv::ExtractOptions ex;
  CLI::App* extract = app.add_subcommand(
      "extract",
      "Write every RTP stream of pcap/pcapng captures as an 8 kHz WAV (losses concealed) and "
      "print each stream's packets, losses and jitter.");
  extract->add_option("captures", ex.inputs, "capture files, read in order as one capture")
      ->required();
  extract->add_option("-o,--output", ex.output, "directory for DIR/<ssrc>-<codec>.wav")->required();
  extract
      ->add_option(
          "--pt", ex.payloadTypes,
          "map a payload type to a codec, e.g. --pt 97=ulaw (repeatable; codecs ulaw/PCMU, "
          "alaw/PCMA, ima/DVI4, adpcm2/ZELK-ADPCM2)")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  extract->add_flag("--mix", ex.mix, "also write both directions of each call as a stereo WAV");
  extract->add_flag("--json", ex.json, "print the streams as JSON");
  extract->footer(
      "Examples:\n"
      "  zelk-voice extract call.pcapng -o calls/ --mix\n"
      "  zelk-voice extract --pt 97=ZELK-ADPCM2 trunk.pcap -o calls/ --json\n"
      "  tcpdump -i eth0 -w - udp | zelk-voice extract - -o calls/");

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
    if (*conceal) return zv::RunConceal(con, quiet);
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
