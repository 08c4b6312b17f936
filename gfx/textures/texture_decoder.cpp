// The decoding thread, and the process's end waiting for none of its decodes. Depends on the
// memory decoder of image_file.h, the size check of texture_limits.h and the file reader of
// base/files; never calls GL.
#include "gfx/textures/texture_decoder.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/files/file_read.h"
#include "gfx/textures/textures_config.h"

namespace {

// The decoders alive, so that the end of the process can cancel theirs: a decode of a huge
// image takes seconds, and the decoder's own tables are torn down at exit under it.
std::mutex g_live_lock;
std::vector<cTextureDecoder*> g_live;

void stop_live_decoders() {
    std::vector<cTextureDecoder*> live;
    {
        std::lock_guard<std::mutex> guard(g_live_lock);
        live = g_live;
    }
    for (cTextureDecoder* decoder : live) decoder->stop();
}

void add_live(cTextureDecoder* decoder) {
    static const bool registered = [] { return std::atexit(stop_live_decoders) == 0; }();
    (void)registered;
    std::lock_guard<std::mutex> guard(g_live_lock);
    g_live.push_back(decoder);
}

void remove_live(cTextureDecoder* decoder) {
    std::lock_guard<std::mutex> guard(g_live_lock);
    std::erase(g_live, decoder);
}

// Reads the file, looking at the cancel between slices so a huge file does not hold it up. A
// pipe or a device is refused: it would hold the thread, and with it the end of the process,
// for as long as it likes.
bool read_whole(const std::string& path, const std::atomic<bool>& cancelled, std::string& bytes,
                std::string& problem) {
    cReadOptions options;
    options.cancelled = &cancelled;
    const cReadOutcome read = read_whole_file(path, bytes, options);
    switch (read.failure) {
        case cReadOutcome::none: return true;
        case cReadOutcome::directory:
        case cReadOutcome::not_regular: problem = "it is not a regular file"; break;
        case cReadOutcome::cannot_read: problem = "the file cannot be read"; break;
        case cReadOutcome::cancelled: problem = "cancelled"; break;
        default: problem = std::string("the file cannot be opened (") + std::strerror(read.code) + ")"; break;
    }
    return false;
}

}  // namespace

cTextureDecoder::cTextureDecoder(const cTextureLimits& limits) : limits_(limits) { add_live(this); }

cTextureDecoder::~cTextureDecoder() {
    remove_live(this);
    stop();
    for (cDecoded& decoded : decoded_) unload_image(decoded.image);
}

void cTextureDecoder::decode(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    // The newest content wins: what was asked before for this file is not worth finishing.
    std::erase_if(waiting_, [&](const cJob& job) { return job.path == path; });
    for (cJob& job : running_)
        if (job.path == path) *job.cancelled = true;
    waiting_.push_back({path, std::make_shared<std::atomic<bool>>(false)});
    if (!thread_.joinable()) {
        quit_ = false;
        thread_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

std::vector<cTextureDecoder::cDecoded> cTextureDecoder::take_decoded() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<cDecoded> out;
    out.swap(decoded_);
    return out;
}

bool cTextureDecoder::busy() {
    std::lock_guard<std::mutex> guard(lock_);
    return !waiting_.empty() || !running_.empty();
}

void cTextureDecoder::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        waiting_.clear();
        for (cJob& job : running_) *job.cancelled = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void cTextureDecoder::run() {
    // The show playing comes first: on a machine without a core to spare, the decode waits for
    // the frames, not the other way round. (On Linux a thread has a priority of its own.)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), textures_config::kDecoderNiceness);
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return quit_ || !waiting_.empty(); });
        if (quit_) return;
        running_.push_back(waiting_.front());
        waiting_.pop_front();
        const cJob job = running_.back();
        guard.unlock();
        cDecoded decoded = decode_file(job);
        guard.lock();
        running_.clear();
        if (*job.cancelled) {
            unload_image(decoded.image);  // a newer decode of the file follows, or the end
        } else {
            decoded_.push_back(std::move(decoded));
        }
    }
}

cTextureDecoder::cDecoded cTextureDecoder::decode_file(const cJob& job) const {
    cDecoded out;
    out.path = job.path;
    out.image.path = job.path;
    std::string bytes;
    if (!read_whole(job.path, *job.cancelled, bytes, out.image.problem)) return out;
    // A size GL cannot hold is refused before seconds go into decoding it (kind 0: the
    // rectangle limit for sizes that are not powers of two, which is what a file gets unless
    // it was asked for as another kind; the uploading side checks the exact kind again).
    const cImageHeader header = read_image_header(bytes);
    if (header.known) {
        out.refused = size_problem(limits_, 0, header.width, header.height);
        if (!out.refused.empty()) return out;
    }
    out.image = decode_image(job.path, bytes, job.cancelled.get());
    return out;
}
