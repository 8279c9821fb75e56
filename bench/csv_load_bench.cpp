// CSV parse throughput: split-run's quick loader reading the file named by
// the environment variable SPLIT_BENCH_CSV into typed columns on one thread
// (the benchmark is skipped without it). The file is read once before the
// timed runs, so that it comes from the page cache; the figure is the
// process's CPU time, in megabytes (10^6 bytes) of CSV per CPU second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "plain_csv_loader.h"

namespace {

double processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_LoadCsv(benchmark::State& state) {
    const char* path = std::getenv("SPLIT_BENCH_CSV");
    if (path == nullptr || *path == '\0') {
        state.SkipWithError("SPLIT_BENCH_CSV names no file");
        return;
    }
    std::ifstream warm(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    double bytes = 0;
    while (warm.read(block.data(), static_cast<std::streamsize>(block.size())) || warm.gcount() > 0)
        bytes += static_cast<double>(warm.gcount());
    double cpu = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const double before = processCpu();
        std::optional<splitrun::PlainCsv> csv = splitrun::loadPlainCsv(path, {}, 1, splitrun::CsvFormat{});
        cpu += processCpu() - before;
        if (!csv) {
            state.SkipWithError("the file needs the full reader");
            return;
        }
        rows = csv->values.empty() ? 0 : csv->values[0].size();
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = cpu / runs * 1e3;
    state.counters["records"] = static_cast<double>(rows);
    state.counters["mb_per_cpu_second"] = bytes / 1e6 / (cpu / runs);
}
BENCHMARK(BM_LoadCsv)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
