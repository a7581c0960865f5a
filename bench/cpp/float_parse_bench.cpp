// The 32-bit float parse against the C library's strtof on trimmed plot-file fields: width 12
// (%12.5E, six digits) and width 15 (%15.8E, nine digits), magnitudes 1e-12 to 1e12, both signs.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "text/float_parse.h"

namespace {

constexpr std::size_t field_count = 4096;

// Trimmed fields, as the reader hands them over.
const std::vector<std::string>& fields(std::int64_t width) {
  static const auto make = [](const char* format) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::vector<std::string> out;
    char text[64];
    for (std::size_t i = 0; i < field_count; ++i) {
      const double value = (random() & 1 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random));
      std::snprintf(text, sizeof text, format, value);
      out.emplace_back(text);
    }
    return out;
  };
  static const std::vector<std::string> six_digits = make("%.5E");
  static const std::vector<std::string> nine_digits = make("%.8E");
  return width == 15 ? nine_digits : six_digits;
}

void per_field(benchmark::State& state) {
  // Seconds per field, shown with its SI prefix (n).
  state.counters["per_field"] = benchmark::Counter(
      static_cast<double>(field_count),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ParseFloat32(benchmark::State& state) {
  const auto& texts = fields(state.range(0));
  for (auto _ : state) {
    for (const std::string& text : texts) {
      auto value = quorvel::parse_float32(text);
      benchmark::DoNotOptimize(value);
    }
  }
  per_field(state);
}

void BM_Strtof(benchmark::State& state) {
  const auto& texts = fields(state.range(0));
  for (auto _ : state) {
    for (const std::string& text : texts) {
      float value = std::strtof(text.c_str(), nullptr);
      benchmark::DoNotOptimize(value);
    }
  }
  per_field(state);
}

BENCHMARK(BM_ParseFloat32)->Arg(12)->Arg(15);
BENCHMARK(BM_Strtof)->Arg(12)->Arg(15);

}  // namespace
