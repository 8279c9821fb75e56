// A small fixed-size thread pool.
#ifndef REFHOST_THREAD_POOL_H
#define REFHOST_THREAD_POOL_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace refhost {

// Runs submitted jobs on a fixed number of threads (at least one). wait()
// blocks until every job submitted so far has finished and rethrows the
// first exception a job raised. The destructor finishes the queued jobs and
// joins every thread; no thread is detached.
class ThreadPool {
public:
    // Starts a thread running the given body; the system may refuse with
    // std::system_error. Replaceable so that tests can refuse threads.
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    // Starts up to `threads` threads (at least one is asked for). When the
    // system refuses one part-way, the pool runs on those it got; a pool
    // that got none rethrows the refusal.
    explicit ThreadPool(size_t threads, const ThreadStarter& start = {});
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    size_t size() const { return threads_.size(); }
    void submit(std::function<void()> job);
    void wait();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    size_t busy_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace refhost

#endif
