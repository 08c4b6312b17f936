// The pool's threads and its bounded queue. Standard library only.
#include "authoring/editor/worker_pool.h"

cWorkerPool::cWorkerPool(std::size_t threads, std::size_t max_queued) : size_(threads), max_queued_(max_queued) {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

cWorkerPool::~cWorkerPool() { stop(); }

bool cWorkerPool::try_post(Job& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Counted against the threads that are running jobs, not those waiting for one: a thread
        // just made, on a busy machine, may not have started waiting yet, and a page that opens
        // the editor at once would be refused for it.
        if (stopping_ || busy_ + queue_.size() >= size_ + max_queued_) return false;
        queue_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
}

void cWorkerPool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        job(true);
        job = nullptr;  // what the job holds goes before the thread waits again
        lock.lock();
        --busy_;
    }
}

void cWorkerPool::stop() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        dropped.swap(queue_);
    }
    ready_.notify_all();
    for (Job& job : dropped) job(false);
    for (std::thread& thread : threads_) thread.join();
}
