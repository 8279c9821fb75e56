// Data and settings shared by the benchmarks.
#ifndef SPLIT_BENCH_BENCH_DATA_H
#define SPLIT_BENCH_BENCH_DATA_H

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "refhost/table.h"

namespace bench {

// Number of records of the distribution benchmarks (--records=N on the
// command line; default ten million).
size_t recordCount();
void setRecordCount(size_t records);

// The grouped table the distribution benchmarks read: columns grp (string
// "g%04d" of k/10), sub (integer k%10), x1..x5 and y (reals), with group k
// holding records [k*N/G, (k+1)*N/G). The pair (grp, sub) tells the groups
// apart. Built once per (records, groups) and kept for the process.
const refhost::Table& groupedTable(size_t records, size_t groups);
// The number of records of each group of that table, in order.
std::vector<size_t> groupSizes(size_t records, size_t groups);
// Its data model document: grp and sub marked as split fields, y as the
// target, x1..x5 as inputs; categories listed for grp.
std::string groupedDataModel(const refhost::Table& table);

// Wall and thread CPU time of timed sections. The CPU time does not count
// the time the thread waited for a core, so it stays meaningful on a loaded
// machine.
class Stopwatch {
public:
    void start() {
        wallStart_ = std::chrono::steady_clock::now();
        cpuStart_ = threadCpu();
    }
    void stop() {
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
        cpu_ += threadCpu() - cpuStart_;
    }
    double wall() const { return wall_; }  // seconds
    double cpu() const { return cpu_; }    // seconds

private:
    static double threadCpu() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    std::chrono::steady_clock::time_point wallStart_;
    double cpuStart_ = 0;
    double wall_ = 0;
    double cpu_ = 0;
};

}  // namespace bench

#endif
