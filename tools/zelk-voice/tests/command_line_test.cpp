// The command line as a daily user meets it: codec lists that do not swallow
// the file, aliases, JSON, help texts with examples, clear refusals.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_signals.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using zvtest::ReadBytes;
using zvtest::WritePcmWav;

namespace {

using CommandLineTest = zvtest::ToolDirTest;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<int16_t> Speech() {
  return zelk::testing::MakeSignal(zelk::testing::Signal::kSpeechLike, 4000, 5);
}

TEST_F(CommandLineTest, ACodecListDoesNotSwallowTheInput) {
  WritePcmWav(Path("in.wav"), Speech(), 8000);
  for (const std::string list : {"alaw", "alaw,ima"}) {
    SCOPED_TRACE(list);
    const auto r = Run({"roundtrip", "-c", list, "in.wav", "--csv", "--time", "0.001"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), list == "alaw" ? 2u : 3u) << r.out;
    EXPECT_TRUE(lines[1].starts_with("alaw,"));
    if (lines.size() == 3) {
      EXPECT_TRUE(lines[2].starts_with("ima,"));
    }
  }
  const auto r = Run({"bench", "-c", "ima", "--frame", "20", "-q", "--time", "0.001"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;  // -q keeps the header row
  EXPECT_TRUE(lines[0].starts_with("codec")) << r.out;
}

TEST_F(CommandLineTest, AliasesNameTheSameCodecs) {
  WritePcmWav(Path("in.wav"), Speech(), 8000);
  const std::pair<const char*, const char*> aliases[] = {
      {"mulaw", "ulaw"}, {"pcmu", "ulaw"}, {"pcma", "alaw"}, {"dvi", "ima"}};
  for (const auto& [alias, name] : aliases) {
    SCOPED_TRACE(alias);
    ASSERT_EQ(Run({"encode", "-q", "-c", alias, "in.wav", "-o", "a.zvf"}).status, 0);
    ASSERT_EQ(Run({"encode", "-q", "-c", name, "in.wav", "-o", "n.zvf"}).status, 0);
    EXPECT_EQ(ReadBytes(Path("a.zvf")), ReadBytes(Path("n.zvf")));
  }
}

TEST_F(CommandLineTest, InfoSpeaksJson) {
  if (!zvtest::HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
  WritePcmWav(Path("in \"quoted\".wav"), Speech(), 8000);
  ASSERT_EQ(Run({"encode", "-q", "-c", "ima", "in \"quoted\".wav", "-o", "x \"y\".zvf"}).status, 0);
  const auto r = Shell(
      "\"$ZV\" info --json 'x \"y\".zvf' | python3 -c '"
      "import json, sys; d = json.load(sys.stdin); "
      "assert d[\"file\"] == \"x \\\"y\\\".zvf\", d; assert d[\"codec\"] == \"ima\"; "
      "assert d[\"total_samples\"] == 4000; assert d[\"frames\"] == 25; "
      "assert d[\"frame_bytes\"] == 84; assert d[\"file_bytes\"] == 24 + 25 * 84; "
      "assert d[\"valid\"] is True; print(\"ok\")'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

TEST_F(CommandLineTest, EveryHelpEndsWithExamples) {
  for (const char* sub : {"encode", "decode", "conceal", "roundtrip", "info", "bench"}) {
    SCOPED_TRACE(sub);
    const auto r = Run({sub, "--help"});
    ASSERT_EQ(r.status, 0);
    auto lines = Lines(r.out);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    size_t examples = 0;
    while (examples < lines.size() &&
           lines[lines.size() - 1 - examples].find("zelk-voice ") != std::string::npos &&
           lines[lines.size() - 1 - examples].starts_with("  ")) {
      ++examples;
    }
    EXPECT_GE(examples, 2u) << r.out;
    EXPECT_LE(examples, 3u) << r.out;
    ASSERT_GT(lines.size(), examples);
    EXPECT_EQ(lines[lines.size() - 1 - examples], "Examples:") << r.out;
  }
}

TEST_F(CommandLineTest, AnUnknownSubcommandIsNamedWithTheValidOnes) {
  const auto r = Run({"-q", "encdoe", "-c", "ima", "x.wav"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "zelk-voice: unknown subcommand 'encdoe'; the subcommands are encode, decode, "
            "conceal, roundtrip, info, bench, extract (see zelk-voice --help)\n");
}

TEST_F(CommandLineTest, SpeedsOfAnInputShorterThanAFrameAreDashes) {
  WritePcmWav(Path("tiny.wav"), std::vector<int16_t>(100, 500), 8000);
  const auto r = Run({"roundtrip", "tiny.wav", "--csv", "--time", "0.001"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("inf"), std::string::npos) << r.out;
  for (const std::string& line : Lines(r.out)) {
    if (line.starts_with("codec")) continue;
    EXPECT_TRUE(line.ends_with(",-,-,-,-")) << line;
  }
}

TEST_F(CommandLineTest, ThePlotMustBeAnSvg) {
  WritePcmWav(Path("in.wav"), Speech(), 8000);
  const auto r = Run({"roundtrip", "in.wav", "--plot", "snr.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--plot snr.png: the plot is an SVG picture"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("snr.png")));
}

TEST_F(CommandLineTest, NoProgressBarWhenStderrIsNotATerminal) {
  WritePcmWav(Path("in.wav"), std::vector<int16_t>(8000 * 30, 100), 48000);
  const auto r = Run({"encode", "-c", "ima", "in.wav", "-o", "x.zvf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

}  // namespace
