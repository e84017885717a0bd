// Feeds arbitrary bytes to the libavformat source as a file and makes every
// call a caller makes: open with the timing scan, pictures on the grid in
// and out of order, the audio stream opened at the video's origin and read
// from the start, the middle and the end, and its packets read as stored.
// A refusal must say why; anything
// else but a result is a finding.
#include "media/lav/audio.h"
#include "media/lav/audio_packets.h"
#include "media/lav/video.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace {

void ExerciseVideo(LavVideo* v, const LavVideoInfo& info) {
    Check(info.width > 0 && info.height > 0 && info.length > 0 && info.pictures > 0, "video description");
    Check(info.rate.num > 0 && info.rate.den > 0, "grid rate");
    const std::size_t bytes = std::size_t((3 * info.width + 3) & ~3) * std::size_t(info.height);
    const std::int64_t last = info.length - 1;
    for (std::int64_t n : {0L, 1L, 2L, 3L, 4L, 5L, 6L, 7L, 2L, 0L, last / 2, last, last + 1, -1L}) {
        if (const std::uint8_t* picture = LavVideoPicture(v, n)) {
            Check(n >= 0 && n <= last, "a picture outside the grid");
            // Touch the last byte: the picture must be all there.
            volatile std::uint8_t end = picture[bytes - 1];
            (void)end;
        }
    }
}

void ExerciseAudio(const char* path, Ratio origin) {
    for (int which = 0; which < 2; ++which) {
        LavAudioInfo info;
        std::string why;
        LavAudio* a = OpenLavAudio(path, which, origin, &info, &why);
        Check(a != nullptr || !why.empty(), "an audio refusal without a cause");
        if (!a) continue;
        Check(info.channels > 0 && info.channels <= 8 && info.sampleRate > 0 && info.length >= 0, "audio description");
        static std::uint8_t buffer[3000 * 8 * 2];
        constexpr std::int64_t count = 3000;
        for (std::int64_t from :
             {std::int64_t{0}, std::int64_t{count}, info.length / 2, info.length - 1, info.length}) {
            const std::int64_t got = ReadLavAudio(a, from, count, buffer);
            Check(got >= -1 && got <= count, "audio read count");
            if (got > 0) Check(from + got <= info.length, "audio past the stream's end");
        }
        CloseLavAudio(a);
    }
}

// The packets as a destination carrying them reads them: in order, on a
// millisecond clock and on a sample clock.
void ExercisePackets(const char* path, Ratio origin) {
    std::string why;
    LavAudioPackets* p = OpenLavAudioPackets(path, 0, origin, &why);
    Check(p != nullptr || !why.empty(), "a packet reader's refusal without a cause");
    if (!p) return;
    AVPacket* packet = av_packet_alloc();
    if (!packet) std::abort();
    for (int n = 0; n < 4000 && NextLavAudioPacket(p, Ratio{1, n % 2 ? 1000 : 48000}, packet); ++n) {
        Check(packet->size > 0 && packet->duration >= 0, "a packet without sound or with a negative duration");
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    CloseLavAudioPackets(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = InputAsFile(data, size);

    LavVideoInfo info;
    std::string why;
    LavVideo* v = OpenLavVideo(path, Ratio{}, &info, &why);
    Check(v != nullptr || !why.empty(), "a video refusal without a cause");
    Ratio origin{0, 1};
    if (v) {
        ExerciseVideo(v, info);
        origin = info.origin;
        CloseLavVideo(v);
    }
    ExerciseAudio(path, origin);
    ExercisePackets(path, origin);
    return 0;
}
