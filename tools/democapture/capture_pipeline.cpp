// The compressor pool and the in-order writer of a capture. Standard threads, one mutex and
// three condition variables; the only shared state is the frame bookkeeping below the mutex.
#include "tools/democapture/capture_pipeline.h"

#include <time.h>

#include <algorithm>

namespace {

double thread_cpu_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void add(std::atomic<double>& sum, double value) {
    double old = sum.load();
    while (!sum.compare_exchange_weak(old, old + value)) {
    }
}

}  // namespace

cCapturePipeline::cCapturePipeline(size_t frame_bytes, int32_t frames, int32_t threads, cCompressorFactory make,
                                   iFrameSink& sink)
    : sink_(sink) {
    if (!make) threads = 0;
    // One frame more than the compressors at least, or the main thread could never fill one.
    const int32_t count = std::max(frames, threads + 1);
    for (int32_t i = 0; i < count; ++i) {
        frames_.push_back(std::make_unique<cFrame>());
        // Zeroed once: where the picture does not reach (the bars) stays black for good.
        frames_.back()->pixels.assign(frame_bytes, 0);
        free_.push_back(frames_.back().get());
    }
    for (int32_t i = 0; i < threads; ++i) compressors_.emplace_back(&cCapturePipeline::compressor_loop, this, make);
    writer_ = std::thread(&cCapturePipeline::writer_loop, this);
}

cCapturePipeline::~cCapturePipeline() { stop(); }

cFrame* cCapturePipeline::take_free() {
    std::unique_lock<std::mutex> lock(mutex_);
    frame_freed_.wait(lock, [this] { return !free_.empty() || failed_.load(); });
    if (failed_.load()) return nullptr;
    cFrame* frame = free_.back();
    free_.pop_back();
    return frame;
}

void cCapturePipeline::submit(cFrame* frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    frame->sequence = submitted_++;
    if (compressors_.empty()) {
        compressed_[frame->sequence] = frame;
        write_ready_.notify_one();
    } else {
        queued_.push_back(frame);
        work_ready_.notify_one();
    }
}

bool cCapturePipeline::finish(std::string& error) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        frame_freed_.wait(lock, [this] { return written_ == submitted_ || failed_.load(); });
    }
    stop();
    if (failed_.load()) {
        error = error_;
        return false;
    }
    return true;
}

void cCapturePipeline::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    write_ready_.notify_all();
    for (auto& t : compressors_)
        if (t.joinable()) t.join();
    if (writer_.joinable()) writer_.join();
}

void cCapturePipeline::fail(const std::string& message) {
    if (!failed_.load()) error_ = message;
    failed_.store(true);
    frame_freed_.notify_all();
    write_ready_.notify_all();
    work_ready_.notify_all();
}

void cCapturePipeline::compressor_loop(cCompressorFactory make) {
    std::unique_ptr<iFrameCompressor> compressor = make();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return !queued_.empty() || stopping_ || failed_.load(); });
        if (stopping_ || failed_.load()) break;
        cFrame* frame = queued_.front();
        queued_.erase(queued_.begin());
        lock.unlock();
        std::string error;
        const bool done = compressor->compress(*frame, error);
        lock.lock();
        if (!done) {
            fail(error);
            break;
        }
        compressed_[frame->sequence] = frame;
        write_ready_.notify_one();
    }
    lock.unlock();
    add(compress_cpu_, thread_cpu_seconds());
}

void cCapturePipeline::writer_loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        write_ready_.wait(lock, [this] {
            return compressed_.count(written_) != 0 || stopping_ || failed_.load();
        });
        // finish() stops only once everything is written; any other stop drops what is left.
        if (failed_.load() || stopping_) break;
        const auto next = compressed_.find(written_);
        cFrame* frame = next->second;
        compressed_.erase(next);
        lock.unlock();
        std::string error;
        const bool done = sink_.put(*frame, error);
        lock.lock();
        if (!done) {
            fail(error);
            break;
        }
        ++written_;
        free_.push_back(frame);
        frame_freed_.notify_all();
    }
    lock.unlock();
    add(write_cpu_, thread_cpu_seconds());
}
