// The benchmark binary's entry: Google Benchmark's flags plus --records=N,
// the number of records of the distribution benchmarks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_data.h"

int main(int argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--records=", 10) == 0) {
            char* end = nullptr;
            const unsigned long long records = std::strtoull(argv[i] + 10, &end, 10);
            if (*end != '\0' || records < 1000) {
                std::fprintf(stderr, "--records wants a count of at least 1000\n");
                return 2;
            }
            bench::setRecordCount(records);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
