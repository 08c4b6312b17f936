// Decoding image files on a thread of its own, so that the frame loop never waits for a
// decoder: the file is read whole, its header checked against the sizes GL can hold (an image
// too large is refused before its pixels are decoded), then it is decoded with FreeImage. A
// file asked for again before its decode is done has that decode cancelled and starts anew.
// Every decode under way is cancelled when the decoder goes or the process ends (exit), so
// neither waits for one. No GL; the results are taken on the thread that asked.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gfx/textures/image_file.h"
#include "gfx/textures/texture_limits.h"

class cTextureDecoder {
public:
    struct cDecoded {
        std::string path;
        cImage image;         // no bitmap: image.problem or refused says why
        std::string refused;  // the reason an image too large for GL was not decoded
    };

    explicit cTextureDecoder(const cTextureLimits& limits);
    ~cTextureDecoder();
    cTextureDecoder(const cTextureDecoder&) = delete;
    cTextureDecoder& operator=(const cTextureDecoder&) = delete;

    // Queues the file at path (the thread starts on the first call).
    void decode(const std::string& path);
    // The files decoded (or refused) since the last call, in the order they were finished;
    // the caller owns their bitmaps.
    std::vector<cDecoded> take_decoded();
    // Whether a file is waiting or being decoded.
    bool busy();
    // Cancels every decode, running or waiting, and ends the thread; decode() starts it again.
    void stop();

private:
    struct cJob {
        std::string path;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    void run();
    cDecoded decode_file(const cJob& job) const;

    const cTextureLimits limits_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<cJob> waiting_;
    std::vector<cJob> running_;  // at most one
    std::vector<cDecoded> decoded_;
    bool quit_ = false;
    std::thread thread_;
};
