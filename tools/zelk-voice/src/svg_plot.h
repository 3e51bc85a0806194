// A plain SVG picture of segmental SNR over time per codec, above it the
// waveform of the input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zv {

struct PlotSeries {
  std::string label;
  std::vector<double> segmentsDb;  // one value per 20 ms segment
};

std::string SegmentalSnrSvg(const std::string& title, std::span<const int16_t> input, int rate,
                            const std::vector<PlotSeries>& series);

}  // namespace zv
