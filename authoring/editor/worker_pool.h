// A fixed number of threads taking jobs from a short queue: the editor's answers run here, the
// event streams in a pool of their own, so that neither can use up the other's threads.
// Never grows; a job that finds every thread busy and the queue full is refused, not kept.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class cWorkerPool {
public:
    // A job runs with true, or is dropped at stop with false (to release what it holds).
    using Job = std::function<void(bool run)>;

    cWorkerPool(std::size_t threads, std::size_t max_queued);
    ~cWorkerPool();
    cWorkerPool(const cWorkerPool&) = delete;
    cWorkerPool& operator=(const cWorkerPool&) = delete;

    // False, leaving job untouched, when every thread is busy and max_queued jobs wait.
    bool try_post(Job& job);
    // Drops the queued jobs and waits for the running ones to end. Once.
    void stop();

private:
    void work();

    // Threads count as free from the start: one not yet running takes from the queue when it starts.
    std::size_t size_;
    std::size_t max_queued_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> queue_;
    std::size_t busy_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
