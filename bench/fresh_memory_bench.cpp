// What the machine charges for fresh memory: the first write to pages the
// process has never touched, with 4 KiB pages and with pages marked for
// transparent huge pages. A build's columns are mostly such memory, and
// virtual machines differ in its price by ten times or more, so figures
// taken on different machines are read with this one beside them. The
// second write to the same pages is the floor.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <chrono>
#include <cstring>

namespace {

constexpr std::size_t kBytes = std::size_t{128} << 20;
constexpr double kSmallPages = static_cast<double>(kBytes / 4096);

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Arg 0: 4 KiB pages (huge pages refused for the mapping); 1: marked for
// huge pages. Reports microseconds per 4 KiB of the first write and of the
// second.
void BM_FreshPages(benchmark::State& state) {
    const bool huge = state.range(0) != 0;
    double first = 0;
    double second = 0;
    for (auto _ : state) {
        void* block = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) {
            state.SkipWithError("no memory to map");
            return;
        }
        ::madvise(block, kBytes, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
        auto start = std::chrono::steady_clock::now();
        std::memset(block, 1, kBytes);
        benchmark::ClobberMemory();
        first += secondsSince(start);
        start = std::chrono::steady_clock::now();
        std::memset(block, 2, kBytes);
        benchmark::ClobberMemory();
        second += secondsSince(start);
        ::munmap(block, kBytes);
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["us_per_page_first"] = first / runs / kSmallPages * 1e6;
    state.counters["us_per_page_again"] = second / runs / kSmallPages * 1e6;
}
BENCHMARK(BM_FreshPages)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
