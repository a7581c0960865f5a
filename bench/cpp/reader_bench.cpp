// The readers alone (file → columns, file → row matrix) on generated plot files, next to the same
// loop parsing each field with strtof. Sizes: QUORVEL_BENCH_PARAMETERS × QUORVEL_BENCH_BLOCKS
// (default 2000 × 5000). QUORVEL_BENCH_FILE_W12 and QUORVEL_BENCH_FILE_W15 name files to read
// instead of generated ones (the Python benchmark passes its own, so both time the same bytes).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <cstring>
#include <span>

#include "platform/platform.h"
#include "reader/readers/array_reader.h"
#include "reader/readers/list_reader.h"
#include "reader/lines/line_reader.h"
#include "reader/targets/column.h"
#include "text/tokens.h"

namespace {

std::size_t setting(const char* name, std::size_t fallback) {
  const char* value = std::getenv(name);
  return value ? std::strtoull(value, nullptr, 10) : fallback;
}

// Writes (once) a plot file with increasing time, mixed magnitudes and signs, and zero columns.
std::string plot_file(std::size_t width) {
  if (const char* given = std::getenv(width == 15 ? "QUORVEL_BENCH_FILE_W15" : "QUORVEL_BENCH_FILE_W12")) {
    if (*given != '\0') return given;
  }
  const std::size_t parameters = setting("QUORVEL_BENCH_PARAMETERS", 2000);
  const std::size_t blocks = setting("QUORVEL_BENCH_BLOCKS", 5000);
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvel-bench-" + std::to_string(parameters) + "x" + std::to_string(blocks) + "-w" +
                     std::to_string(width) + ".plt");
  if (std::filesystem::exists(path)) return path.string();
  const auto partial = path.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    const char* format = width == 15 ? "%15.8E" : "%12.5E";
    char text[64];
    out << "  KAVRINE PLOT FILE          " << parameters << "\n";
    for (std::size_t i = 0; i < parameters; ++i) out << "  PARAMETER_" << i << "\n";
    std::string line;
    for (std::size_t b = 0; b < blocks; ++b) {
      out << " TIME STEP  " << b << "\n";
      line.clear();
      for (std::size_t j = 0; j < parameters; ++j) {
        double value = 0.0;
        if (j == 0) value = 0.5 * double(b);
        else if (j % 17 != 0) value = (random() & 1 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random));
        std::snprintf(text, sizeof text, format, value);
        line += text;
        if (j % 10 == 9 || j + 1 == parameters) {
          out << line << "\n";
          line.clear();
        }
      }
    }
  }
  std::filesystem::rename(partial, path);
  return path.string();
}

void report(benchmark::State& state, const std::string& path, std::size_t values) {
  const auto bytes = std::filesystem::file_size(path);
  state.counters["MB/s"] = benchmark::Counter(double(bytes) * double(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["values/s"] =
      benchmark::Counter(double(values) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Reader(benchmark::State& state) {
  const std::string path = plot_file(static_cast<std::size_t>(state.range(0)));
  std::size_t values = 0;
  for (auto _ : state) {
    quorvel::ColumnData columns = quorvel::read_plot_file(path, static_cast<std::uint64_t>(state.range(0)));
    values = columns.first.size() * (columns.others.size() + 1);
    benchmark::DoNotOptimize(columns);
  }
  report(state, path, values);
}

// The reader behind quorvel_arrays: every value into one row-major float32 matrix.
void BM_ArrayReader(benchmark::State& state) {
  const std::string path = plot_file(static_cast<std::size_t>(state.range(0)));
  std::size_t values = 0;
  for (auto _ : state) {
    quorvel::ArrayRead read =
        quorvel::read_plot_arrays({.path = path, .n_digits = static_cast<std::uint64_t>(state.range(0))});
    values = read.values.rows() * read.names.size();
    benchmark::DoNotOptimize(read);
  }
  report(state, path, values);
}

// The same pass with the C library's strtof on each trimmed field, for comparison.
void BM_ReaderLoopWithStrtof(benchmark::State& state) {
  const auto width = static_cast<std::size_t>(state.range(0));
  const std::string path = plot_file(width);
  std::size_t values = 0;
  for (auto _ : state) {
    auto file = quorvel::platform::File::open_for_reading(path);
    quorvel::BasicLineReader<quorvel::platform::File> lines(std::move(*file));
    std::string spill;
    std::string_view line;
    (void)lines.read_line(spill, line);
    const std::size_t parameters = std::strtoull(std::string(quorvel::whitespace_tokens(line).back()).c_str(), nullptr, 10);
    for (std::size_t i = 0; i < parameters; ++i) (void)lines.read_line(spill, line);
    std::vector<std::vector<float>> columns(parameters);
    char field[64];
    while (*lines.read_line(spill, line) == quorvel::LineOutcome::Line) {
      for (std::size_t j = 0; j < parameters; ++j) {
        if (j % 10 == 0) (void)lines.read_line(spill, line);
        const std::string_view text = quorvel::trim(line.substr((j % 10) * width, width));
        text.copy(field, text.size());
        field[text.size()] = '\0';
        columns[j].push_back(std::strtof(field, nullptr));
      }
    }
    values = columns[0].size() * parameters;
    benchmark::DoNotOptimize(columns);
  }
  report(state, path, values);
}

// The list reader's floor: its file read 8 KiB at a time as its reader reads it, each line's end
// found, and a value pushed onto its column for every field of a value line (the next column
// walked to, as the reader does), with no parse: what the list reader's core could gain if its
// parse cost nothing.
void BM_ReaderFloor(benchmark::State& state) {
  const std::string path = plot_file(static_cast<std::size_t>(state.range(0)));
  const std::size_t parameters = setting("QUORVEL_BENCH_PARAMETERS", 2000);
  std::size_t values = 0;
  for (auto _ : state) {
    auto file = quorvel::platform::File::open_for_reading(path);
    quorvel::ColumnData columns(parameters - 1);
    quorvel::Column* column = &columns.first;
    std::size_t lines = 0, j = parameters, line_length = 0;  // the first line after the names is a separator
    char buffer[8192];
    for (;;) {
      const auto got = file->read(std::span<char>(buffer, sizeof buffer));
      if (!got || *got == 0) break;
      for (const char* p = buffer; p < buffer + *got;) {
        const char* end = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(buffer + *got - p)));
        if (end == nullptr) {
          line_length += static_cast<std::size_t>(buffer + *got - p);
          break;
        }
        line_length += static_cast<std::size_t>(end - p);
        p = end + 1;
        if (++lines > parameters + 1) {  // past the header and the names: a separator or a value line
          if (j == parameters) j = 0, column = &columns.first;
          else if (line_length >= 10) {
            for (std::size_t k = 0; k < 10 && j < parameters; ++k) {
              column->push_back(static_cast<float>(line_length));
              column = columns.others.data() + j++;
            }
          }
        }
        line_length = 0;
      }
    }
    values = columns.first.size() * parameters;
    benchmark::DoNotOptimize(columns);
  }
  report(state, path, values);
}

BENCHMARK(BM_Reader)->Arg(12)->Arg(15)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ArrayReader)->Arg(12)->Arg(15)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReaderLoopWithStrtof)->Arg(12)->Arg(15)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReaderFloor)->Arg(12)->Arg(15)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
