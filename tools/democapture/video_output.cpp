// The segmenting H.264 sink, the master sink and the mux of pieces. Depends on the encoder
// processes (video_encoder.h) and capture_paths for the concat list; never calls GL.
#include "tools/democapture/video_output.h"

#include <cstdio>
#include <deque>

#include "tools/democapture/capture_config.h"
#include "tools/democapture/capture_options.h"
#include "tools/democapture/capture_paths.h"

namespace {

// The music's sample rate, read once where the caller did not know it.
bool know_music_rate(cVideoSettings& settings, std::string& error) {
    if (settings.music.empty() || settings.music_rate > 0) return true;
    return probe_music_rate(settings.music, settings.music_rate, error);
}

class cH264Sink final : public cVideoSink {
public:
    cH264Sink(const cVideoSettings& settings, std::string work_folder, std::string output)
        : settings_(settings), work_folder_(std::move(work_folder)), output_(std::move(output)),
          segment_frames_(video_segment_frames(settings.fps)) {}

    bool put(cFrame& frame, std::string& error) override {
        const int64_t segment = frame.grid_frame / segment_frames_;
        if (!current_ || segment != segment_) {
            if (current_) {
                // The encoder flushes its last frames while the next one starts.
                current_->close_input();
                closing_.push_back(std::move(current_));
                if (!reap(1, error)) return false;
            }
            char name[64];
            std::snprintf(name, sizeof name, "/segment_%06lld.mp4", static_cast<long long>(segment));
            pieces_.push_back({work_folder_ + name, 0});
            current_ = std::make_unique<cVideoEncoder>();
            if (!current_->start(h264_segment_command(settings_, pieces_.back().path), error)) return false;
            segment_ = segment;
        }
        if (!current_->write(frame.pixels.data(), frame.pixels.size())) {
            // The encoder has gone; finishing it says how it ended.
            current_->finish(error);
            current_.reset();
            if (error.empty()) error = "the encoder stopped taking frames";
            return false;
        }
        ++pieces_.back().frames;
        return true;
    }

    bool close(std::string& error) override {
        if (current_) {
            current_->close_input();
            closing_.push_back(std::move(current_));
        }
        if (!reap(0, error)) return false;
        if (pieces_.empty()) {
            error = "no frame was encoded";
            return false;
        }
        return mux_pieces(settings_, pieces_, false, work_folder_ + "/segments.txt", output_, error);
    }

    void abandon() override {
        if (current_) current_->abort();
        for (auto& e : closing_) e->abort();
        closing_.clear();
    }

private:
    // Waits for closing encoders, oldest first, until at most keep are left.
    bool reap(size_t keep, std::string& error) {
        while (closing_.size() > keep) {
            std::unique_ptr<cVideoEncoder> oldest = std::move(closing_.front());
            closing_.pop_front();
            if (!oldest->finish(error)) return false;
        }
        return true;
    }

    cVideoSettings settings_;
    std::string work_folder_;
    std::string output_;
    int64_t segment_frames_;
    int64_t segment_ = -1;
    std::unique_ptr<cVideoEncoder> current_;
    std::deque<std::unique_ptr<cVideoEncoder>> closing_;
    std::vector<cConcatEntry> pieces_;
};

class cMasterSink final : public cVideoSink {
public:
    cMasterSink(const cVideoSettings& settings, std::string output) : settings_(settings), output_(std::move(output)) {}

    bool put(cFrame& frame, std::string& error) override {
        if (!started_) {
            started_ = true;
            if (!know_music_rate(settings_, error)) return false;
            if (!encoder_.start(master_command(settings_, output_), error)) return false;
        }
        if (encoder_.write(frame.pixels.data(), frame.pixels.size())) return true;
        encoder_.finish(error);
        if (error.empty()) error = "the encoder stopped taking frames";
        return false;
    }

    bool close(std::string& error) override {
        if (!started_) {
            error = "no frame was encoded";
            return false;
        }
        return encoder_.finish(error);
    }

    void abandon() override { encoder_.abort(); }

private:
    cVideoSettings settings_;
    std::string output_;
    bool started_ = false;
    cVideoEncoder encoder_;
};

}  // namespace

std::unique_ptr<cVideoSink> make_h264_sink(const cVideoSettings& settings, const std::string& work_folder,
                                           const std::string& output) {
    return std::make_unique<cH264Sink>(settings, work_folder, output);
}

std::unique_ptr<cVideoSink> make_master_sink(const cVideoSettings& settings, const std::string& output) {
    return std::make_unique<cMasterSink>(settings, output);
}

bool mux_pieces(const cVideoSettings& given, const std::vector<cConcatEntry>& pieces, bool mkv,
                const std::string& list_path, const std::string& output, std::string& error) {
    cVideoSettings settings = given;
    if (!know_music_rate(settings, error)) return false;
    // Matroska numbers no tracks for the demuxer, and its FLAC has no priming to skip.
    const std::string list = concat_list_text(pieces, settings.fps, !mkv);
    if (!write_file_in_place(list_path, reinterpret_cast<const uint8_t*>(list.data()), list.size(), error)) return false;
    std::string ignored;
    return run_to_end(mux_command(settings, list_path, mkv, output), ignored, error);
}
