// FFmpeg's own log, set once for the reader, the compressors and the muxers.
#pragma once

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

// Damaged frames are expected input and encoders chat about their settings;
// neither means anything to the user. TAVRICK_FFMPEG_LOG keeps FFmpeg's
// messages, for finding out what a file or a compressor does.
inline void QuietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("TAVRICK_FFMPEG_LOG")) av_log_set_level(AV_LOG_QUIET);
    });
}

inline thread_local std::string* ffmpegComplaint = nullptr;

inline void KeepFfmpegComplaint(void* object, int level, const char* format, va_list args) {
    if (ffmpegComplaint && level <= AV_LOG_ERROR) {
        va_list copy;
        va_copy(copy, args);
        char line[512];
        int prefix = 0;
        av_log_format_line2(object, level, format, copy, line, sizeof line, &prefix);
        va_end(copy);
        std::string text = line;
        while (!text.empty() && std::strchr("\n .:", text.back())) text.pop_back();
        if (const size_t bracket = text.find("] "); !text.empty() && text[0] == '[' && bracket != std::string::npos)
            text.erase(0, bracket + 2);
        if (!text.empty() && ffmpegComplaint->empty()) *ffmpegComplaint = text;  // the first says why
    }
    av_log_default_callback(object, level, format, args);
}

// While one lives, the first error FFmpeg logs on this thread (an encoder or
// a muxer refusing something) is kept in `text`, so a refusal can say why;
// FFmpeg's log goes on as before for everything else.
struct FfmpegComplaint {
    std::string text;
    std::string* outer = ffmpegComplaint;
    FfmpegComplaint() {
        QuietFfmpegLog();
        static std::once_flag hooked;
        std::call_once(hooked, [] { av_log_set_callback(KeepFfmpegComplaint); });
        ffmpegComplaint = &text;
    }
    ~FfmpegComplaint() { ffmpegComplaint = outer; }
    FfmpegComplaint(const FfmpegComplaint&) = delete;
    FfmpegComplaint& operator=(const FfmpegComplaint&) = delete;
};
