// CSV parse throughput: split-run's quick loader reading the file named by
// the environment variable SPLIT_BENCH_CSV into typed columns on 1 and on 2
// threads (the benchmarks are skipped without it), and the floor it is
// measured against: one pass of memchr over the file as pread hands it over
// in blocks, on one thread. The file is read once before the timed runs, so
// that it comes from the page cache. Figures: MB (10^6 bytes) of CSV per CPU
// second of the process, and per wall second; their ratio to the floor's
// MB per CPU second is the parse's throughput per core against reading the
// file once.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "plain_csv_loader.h"

namespace {

double processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Reads the file in 8 MiB blocks, calling eachBlock(data, size) on each; the
// bytes read.
template <class EachBlock>
double readBlocks(const char* path, EachBlock&& eachBlock) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<char> block(std::size_t{8} << 20);
    double bytes = 0;
    for (ssize_t got; (got = ::read(fd, block.data(), block.size())) > 0;) {
        eachBlock(block.data(), static_cast<std::size_t>(got));
        bytes += static_cast<double>(got);
    }
    ::close(fd);
    return bytes;
}

const char* benchFile(benchmark::State& state) {
    const char* path = std::getenv("SPLIT_BENCH_CSV");
    if (path == nullptr || *path == '\0') state.SkipWithError("SPLIT_BENCH_CSV names no file");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

// Times every run of `body` and reports the throughput over `bytes`.
template <class Body>
void timeRuns(benchmark::State& state, double bytes, Body&& body) {
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double before = processCpu();
        const double started = wallSeconds();
        body();
        cpu += processCpu() - before;
        wall += wallSeconds() - started;
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = cpu / runs * 1e3;
    state.counters["mb_per_cpu_second"] = bytes / 1e6 / (cpu / runs);
    state.counters["mb_per_wall_second"] = bytes / 1e6 / (wall / runs);
}

void BM_LoadCsv(benchmark::State& state) {
    const char* path = benchFile(state);
    if (path == nullptr) return;
    const double bytes = readBlocks(path, [](const char*, std::size_t) {});
    const auto threads = static_cast<std::size_t>(state.range(0));
    std::size_t rows = 0;
    bool loaded = true;
    timeRuns(state, bytes, [&] {
        std::optional<splitrun::PlainCsv> csv = splitrun::loadPlainCsv(path, {}, threads, splitrun::CsvFormat{});
        loaded = loaded && csv;
        if (csv) rows = csv->values.empty() ? 0 : csv->values[0].size();
    });
    if (!loaded) state.SkipWithError("the file needs the full reader");
    state.counters["records"] = static_cast<double>(rows);
}
BENCHMARK(BM_LoadCsv)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the cached file read once, one memchr over every block for a
// byte the file does not hold.
void BM_ReadFloor(benchmark::State& state) {
    const char* path = benchFile(state);
    if (path == nullptr) return;
    const double bytes = readBlocks(path, [](const char*, std::size_t) {});
    std::size_t found = 0;
    timeRuns(state, bytes, [&] {
        readBlocks(path, [&found](const char* data, std::size_t size) {
            found += std::memchr(data, '\x01', size) != nullptr;
        });
    });
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_ReadFloor)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
