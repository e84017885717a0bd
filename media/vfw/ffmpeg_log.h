// FFmpeg's own log, set once for the reader and the compressors alike.
#pragma once

#include <cstdlib>
#include <mutex>

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
