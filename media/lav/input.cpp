#include "media/lav/input.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "media/vfw/ffmpeg_log.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace {

// Demuxers of single files holding video. Playlists, concatenation lists,
// image sequences and anything else that names other files or URLs are
// not here, so such a file is refused at the probe.
constexpr char allowedDemuxers[] =
    "avi,mov,matroska,webm,mpegts,mpeg,mpegvideo,m4v,h264,hevc,flv,asf,dv,mxf,nut,ogg,yuv4mpegpipe,ivf,obu";

// Probing reads at most this much, and stream information looks this far.
constexpr std::int64_t probeBytes = 10'000'000;
constexpr std::int64_t analyseMicroseconds = 10'000'000;
constexpr double openSeconds = 30;

std::int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    LavInput& in = *static_cast<LavInput*>(opaque);
    ssize_t got;
    do got = pread(in.fd, buffer, static_cast<size_t>(size), in.position);
    while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(EIO);
    if (got == 0) return AVERROR_EOF;
    in.position += got;
    return static_cast<int>(got);
}

int64_t SeekTo(void* opaque, int64_t offset, int whence) {
    LavInput& in = *static_cast<LavInput*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return in.size;
        case SEEK_SET: break;
        case SEEK_CUR: offset += in.position; break;
        case SEEK_END: offset += in.size; break;
        default: return AVERROR(EINVAL);
    }
    if (offset < 0) return AVERROR(EINVAL);
    in.position = offset;
    return offset;
}

// Any file or URL other than the one we opened is refused.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

int PastDeadline(void* opaque) {
    const LavInput& in = *static_cast<const LavInput*>(opaque);
    return in.deadlineNs != 0 && NowNs() > in.deadlineNs;
}

}  // namespace

std::string LavErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void SetLavDeadline(LavInput& in, double seconds) {
    in.deadlineNs = NowNs() + static_cast<std::int64_t>(seconds * 1e9);
}

bool OpenLavInput(LavInput& in, const char* path, std::string* why) {
    QuietFfmpegLog();
    const auto fail = [&](const std::string& text) {
        if (why) *why = text;
        CloseLavInput(in);
        return false;
    };
    in.fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (in.fd < 0 || fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a readable file");
    if (flock(in.fd, LOCK_SH | LOCK_NB) != 0) return fail("the file is being written by another program");
    in.size = st.st_size;
    in.position = 0;
    constexpr int bufferBytes = 1 << 16;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferBytes));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, bufferBytes, 0, &in, ReadPacket, nullptr, SeekTo) : nullptr;
    if (!io) {
        av_free(buffer);
        return fail("out of memory");
    }
    AVFormatContext* f = avformat_alloc_context();
    if (!f) {
        av_freep(&io->buffer);
        avio_context_free(&io);
        return fail("out of memory");
    }
    f->pb = io;
    f->flags |= AVFMT_FLAG_CUSTOM_IO;
    f->io_open = RefuseOpen;
    f->interrupt_callback = AVIOInterruptCB{PastDeadline, &in};
    f->probesize = probeBytes;
    f->max_analyze_duration = analyseMicroseconds;
    f->format_probesize = 1 << 20;
    f->max_streams = 64;
    f->format_whitelist = av_strdup(allowedDemuxers);
    f->protocol_whitelist = av_strdup("file");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "enable_drefs", "0", 0);  // MOV: no references to other files
    SetLavDeadline(in, openSeconds);
    in.format = f;
    // A file that says it is an AVI is read as one, even where DV frames inside
    // would make the DV demuxer's probe score as high.
    unsigned char head[12] = {};
    const bool riffAvi = pread(in.fd, head, sizeof head, 0) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
                         std::memcmp(head + 8, "AVI ", 4) == 0;
    int r = avformat_open_input(&in.format, nullptr, riffAvi ? av_find_input_format("avi") : nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        // avformat_open_input frees the context on failure, not our I/O.
        in.format = nullptr;
        av_freep(&io->buffer);
        avio_context_free(&io);
        return fail(r == AVERROR_EXIT ? "probing took too long"
                                      : "not a video file Tavrick reads (" + LavErrorText(r) + ")");
    }
    r = avformat_find_stream_info(in.format, nullptr);
    if (r < 0) return fail("no stream information (" + LavErrorText(r) + ")");
    in.deadlineNs = 0;
    return true;
}

void CloseLavInput(LavInput& in) {
    if (in.format) {
        AVIOContext* io = in.format->pb;
        avformat_close_input(&in.format);
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
    if (in.fd >= 0) close(in.fd);
    in.fd = -1;
}
