// The processor side of a capture: frames read back on the main thread are compressed on a
// pool of threads in any order and handed to one writer in frame order. Memory is bounded: a
// fixed set of frame buffers circulates, and the main thread waits for a free one.
// Never calls GL: the threads see only plain memory.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct cFrame {
    int64_t sequence = 0;            // 0, 1, 2 ... in capture order, set by submit
    int64_t grid_frame = -1;         // the frame of the show's grid (-1: a single frame)
    std::string file_name;           // where a PNG goes
    std::vector<uint8_t> pixels;     // the frame: top row first, BGR
    std::vector<uint8_t> encoded;    // what a compressor made of it
};

// Runs on a pool thread: one object per thread, so it may keep its own buffers.
class iFrameCompressor {
public:
    virtual ~iFrameCompressor() = default;
    virtual bool compress(cFrame& frame, std::string& error) = 0;
};

// Runs on the writer thread, frame after frame in capture order.
class iFrameSink {
public:
    virtual ~iFrameSink() = default;
    virtual bool put(cFrame& frame, std::string& error) = 0;
};

class cCapturePipeline {
public:
    using cCompressorFactory = std::function<std::unique_ptr<iFrameCompressor>()>;

    // frame_bytes: the size of each frame's pixels; frames: how many frame buffers circulate
    // (at least one more than the compressors). threads compressors made by make (none: frames
    // go straight to the writer).
    cCapturePipeline(size_t frame_bytes, int32_t frames, int32_t threads, cCompressorFactory make, iFrameSink& sink);
    // Stops the threads; frames not yet written are dropped.
    ~cCapturePipeline();
    cCapturePipeline(const cCapturePipeline&) = delete;
    cCapturePipeline& operator=(const cCapturePipeline&) = delete;

    // Main thread: a free frame buffer, waiting while every one is in flight. Null once a
    // compressor or the writer has failed.
    cFrame* take_free();
    // Main thread: the frame is filled; it goes to the compressors, then to the writer.
    void submit(cFrame* frame);
    // Waits until every submitted frame is written. False with the first failure's message.
    bool finish(std::string& error);
    // Stops at once; frames not yet written are dropped.
    void stop();

    bool failed() const { return failed_.load(); }
    int32_t frames_in_flight() const { return static_cast<int32_t>(frames_.size()); }
    int32_t threads() const { return static_cast<int32_t>(compressors_.size()); }
    // Seconds of processor time the compressor threads and the writer used so far (final once
    // finish or stop has returned).
    double compress_cpu_seconds() const { return compress_cpu_.load(); }
    double write_cpu_seconds() const { return write_cpu_.load(); }

private:
    void compressor_loop(cCompressorFactory make);
    void writer_loop();
    void fail(const std::string& message);  // with mutex_ held

    iFrameSink& sink_;
    std::vector<std::unique_ptr<cFrame>> frames_;
    std::vector<cFrame*> free_;
    std::vector<cFrame*> queued_;          // waiting for a compressor, oldest first
    std::map<int64_t, cFrame*> compressed_;  // ready for the writer, by sequence
    int64_t submitted_ = 0;
    int64_t written_ = 0;
    bool stopping_ = false;
    std::atomic<bool> failed_{false};
    std::string error_;
    std::atomic<double> compress_cpu_{0.0};
    std::atomic<double> write_cpu_{0.0};

    mutable std::mutex mutex_;
    std::condition_variable work_ready_;   // compressors wait for frames
    std::condition_variable write_ready_;  // the writer waits for the next frame
    std::condition_variable frame_freed_;  // the main thread waits for a buffer or the end

    std::vector<std::thread> compressors_;
    std::thread writer_;
};
