// A fixed-size pool of joined threads.
#include "refhost/thread_pool.h"

#include <system_error>

namespace refhost {

ThreadPool::ThreadPool(size_t threads, const ThreadStarter& start) {
    const size_t count = threads == 0 ? 1 : threads;
    threads_.reserve(count);
    // The system may refuse threads long before `count` (a process limit,
    // little address space). The pool then runs on those it got; only a
    // pool without a single thread cannot run and reports the reason.
    for (size_t i = 0; i < count; ++i) {
        try {
            if (start)
                threads_.push_back(start([this] { run(); }));
            else
                threads_.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            if (threads_.empty()) throw;
            break;
        }
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void ThreadPool::submit(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back(std::move(job));
    }
    work_.notify_one();
}

void ThreadPool::wait() {
    std::unique_lock<std::mutex> guard(mutex_);
    idle_.wait(guard, [this] { return queue_.empty() && busy_ == 0; });
    if (failure_) {
        std::exception_ptr failure = failure_;
        failure_ = nullptr;
        std::rethrow_exception(failure);
    }
}

// Queued jobs are finished even when stopping, so the destructor never
// drops work that was submitted.
void ThreadPool::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            work_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            ++busy_;
        }
        try {
            job();
        } catch (...) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            --busy_;
            if (queue_.empty() && busy_ == 0) idle_.notify_all();
        }
    }
}

}  // namespace refhost
