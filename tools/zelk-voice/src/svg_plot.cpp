#include "svg_plot.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "metrics.h"

namespace zv {

namespace {

constexpr double WIDTH = 960, LEFT = 64, RIGHT = 24, TOP = 40;
constexpr double WAVE_HEIGHT = 120, GAP = 36, SNR_HEIGHT = 300, BOTTOM = 48;
constexpr double PLOT_WIDTH = WIDTH - LEFT - RIGHT;
constexpr double SNR_TOP = TOP + WAVE_HEIGHT + GAP;
constexpr double HEIGHT = SNR_TOP + SNR_HEIGHT + BOTTOM;
constexpr const char* COLOURS[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e"};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

double SnrY(double db) {
  const double span = SEGMENT_SNR_MAX_DB - SEGMENT_SNR_MIN_DB;
  return SNR_TOP + SNR_HEIGHT * (SEGMENT_SNR_MAX_DB - db) / span;
}

// Time axis ticks at a round step that gives about ten ticks.
double TickStep(double seconds) {
  for (double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0}) {
    if (seconds / step <= 12) return step;
  }
  return 3600.0;
}

void Waveform(std::string& svg, std::span<const int16_t> input) {
  const double mid = TOP + WAVE_HEIGHT / 2;
  svg += fmt::format(R"(<rect x="{}" y="{}" width="{}" height="{}" fill="none" stroke="#999"/>)",
                     LEFT, TOP, PLOT_WIDTH, WAVE_HEIGHT);
  svg += "\n<path fill=\"none\" stroke=\"#444\" stroke-width=\"1\" d=\"";
  const auto columns = static_cast<size_t>(PLOT_WIDTH);
  for (size_t x = 0; x < columns && !input.empty(); ++x) {
    const size_t a = x * input.size() / columns;
    const size_t b = std::max(a + 1, (x + 1) * input.size() / columns);
    const auto [lo, hi] =
        std::minmax_element(input.begin() + static_cast<std::ptrdiff_t>(a),
                            input.begin() + static_cast<std::ptrdiff_t>(std::min(b, input.size())));
    const double scale = WAVE_HEIGHT / 2 / 32768.0;
    svg += fmt::format("M{:.1f} {:.1f}V{:.1f}", LEFT + static_cast<double>(x) + 0.5,
                       mid - *hi * scale, mid - *lo * scale + 0.5);
  }
  svg += "\"/>\n";
  svg += fmt::format(R"(<text x="{}" y="{}" font-size="13">input waveform</text>)", LEFT, TOP - 8);
  svg += "\n";
}

void SnrAxes(std::string& svg, double seconds) {
  svg += fmt::format(R"(<rect x="{}" y="{}" width="{}" height="{}" fill="none" stroke="#999"/>)",
                     LEFT, SNR_TOP, PLOT_WIDTH, SNR_HEIGHT);
  svg += "\n";
  for (double db = SEGMENT_SNR_MIN_DB; db <= SEGMENT_SNR_MAX_DB; db += 10) {
    svg += fmt::format(R"(<line x1="{}" x2="{}" y1="{:.1f}" y2="{:.1f}" stroke="#ddd"/>)"
                       R"(<text x="{}" y="{:.1f}" font-size="11" text-anchor="end">{:g}</text>)",
                       LEFT, LEFT + PLOT_WIDTH, SnrY(db), SnrY(db), LEFT - 6, SnrY(db) + 4, db);
    svg += "\n";
  }
  const double step = TickStep(seconds);
  for (double t = 0; t <= seconds + 1e-9; t += step) {
    const double x = LEFT + PLOT_WIDTH * t / seconds;
    svg +=
        fmt::format(R"(<line x1="{0:.1f}" x2="{0:.1f}" y1="{1}" y2="{2}" stroke="#ddd"/>)"
                    R"(<text x="{0:.1f}" y="{3}" font-size="11" text-anchor="middle">{4:g}</text>)",
                    x, SNR_TOP, SNR_TOP + SNR_HEIGHT, SNR_TOP + SNR_HEIGHT + 16, t);
    svg += "\n";
  }
  svg += fmt::format(R"(<text x="{}" y="{}" font-size="12" text-anchor="middle">time (s)</text>)",
                     LEFT + PLOT_WIDTH / 2, SNR_TOP + SNR_HEIGHT + 36);
  svg += fmt::format(
      R"~(<text x="16" y="{0}" font-size="12" text-anchor="middle" transform="rotate(-90 16 {0})">)~"
      R"~(segmental SNR (dB, 20 ms)</text>)~",
      SNR_TOP + SNR_HEIGHT / 2);
  svg += "\n";
}

}  // namespace

std::string SegmentalSnrSvg(const std::string& title, std::span<const int16_t> input, int rate,
                            const std::vector<PlotSeries>& series) {
  const double seconds = std::max(1e-3, static_cast<double>(input.size()) / rate);
  std::string svg = fmt::format(
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="{0}" height="{1}" viewBox="0 0 {0} {1}" )"
      R"(font-family="sans-serif">)"
      "\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      R"(<text x="{2}" y="20" font-size="15" font-weight="bold">{3}</text>)"
      "\n",
      WIDTH, HEIGHT, LEFT, Escape(title));
  Waveform(svg, input);
  SnrAxes(svg, seconds);
  const double segmentSeconds = static_cast<double>(SEGMENT_SAMPLES) / rate;
  for (size_t k = 0; k < series.size(); ++k) {
    const char* colour = COLOURS[k % std::size(COLOURS)];
    svg += fmt::format(R"(<polyline fill="none" stroke="{}" stroke-width="1.3" points=")", colour);
    for (size_t s = 0; s < series[k].segmentsDb.size(); ++s) {
      const double t = (static_cast<double>(s) + 0.5) * segmentSeconds;
      svg += fmt::format("{:.1f},{:.1f} ", LEFT + PLOT_WIDTH * std::min(t / seconds, 1.0),
                         SnrY(series[k].segmentsDb[s]));
    }
    svg += "\"/>\n";
    const double legendX = LEFT + 8 + 150 * static_cast<double>(k);
    const double legendY = SNR_TOP - 10;
    svg += fmt::format(
        R"(<line x1="{0}" x2="{1}" y1="{2}" y2="{2}" stroke="{3}" stroke-width="3"/>)"
        R"(<text x="{4}" y="{5}" font-size="12">{6}</text>)"
        "\n",
        legendX, legendX + 18, legendY - 4, colour, legendX + 24, legendY, Escape(series[k].label));
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace zv
