// The frame getter: every video frame as a packed 24-bit DIB. Uncompressed
// 24-bit frames are copied; everything else is decoded with libavcodec and
// converted with libswscale.
#include "frames/geometry.h"
#include "media/vfw/avifile.h"
#include "media/vfw/bgr_convert.h"
#include "media/vfw/ffmpeg_log.h"
#include "platform/helper_thread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

struct AviGetFrame {
    AviStream* stream;  // holds a stream reference
    int32_t width;
    int32_t height;
    bool topDown;  // rows of the delivered picture run top to bottom
    uint32_t stride;
    // Header then pixels; the pixels start on a 64-byte boundary.
    std::unique_ptr<uint8_t[]> storage;
    uint8_t* dib = nullptr;
    uint8_t* pixels = nullptr;
    // Pictures are numbered in display order. Per position: the picture it
    // shows (placeholders repeat the one before), or -1 when there is none.
    std::vector<int32_t> pictureOf;
    std::vector<int32_t> pictureOfEntry;  // per entry: its own picture, -1 for none
    std::vector<int32_t> entryOf;         // per picture: the entry that stores it (or its slot)
    std::vector<uint8_t> fed;             // per entry: the decoder gets this chunk
    std::vector<uint8_t> key;
    // Per key entry: the display number of its picture once decoding from a
    // known point has shown it, or -1.
    std::vector<int32_t> keyPicture;
    bool learnKeys;  // the file said nothing about key frames; note what the decoder finds
    bool mpeg4 = false;
    // MPEG-4 "packed bitstream": a chunk may hold a reference picture and the
    // B-picture after it, and an empty placeholder chunk follows. Every position
    // is then a display slot of its own.
    bool packed = false;
    // Packed, with empty chunks that no packed chunk owes: frames a recorder
    // repeated. Those repeat the picture before and take no display slot, so
    // a key entry's picture is its slot (pictureOf) rather than its position.
    bool repeats = false;
    // The decoder returns pictures in an order other than the chunks'; pictures
    // are then numbered by counting from a key picture of known number.
    bool reorders = false;
    int32_t shown = -1;  // picture the buffer holds

    // Uncompressed 24-bit.
    bool copy = false;
    bool sourceTopDown = false;
    std::vector<uint8_t> scratch;

    // Decoded.
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;    // the decoder's latest picture
    AVFrame* picture = nullptr;  // the one being converted
    BgrConverter convert;
    std::vector<uint8_t> packetData;
    std::vector<uint8_t> palette;  // AVPALETTE_SIZE bytes when the format has one
    int32_t nextFeed = 0;
    int32_t secondAt = -1;  // packed: where the chunk's second picture starts, still to be sent
    int32_t secondEntry = -1;
    int32_t lastDecoded = -1;  // number of the last picture taken from the decoder
    int32_t anchorEntry = -1;  // after a seek: the key entry whose picture starts the count
    int32_t anchorPicture = 0;
    bool anchorExact = false;  // that number is known, not estimated
    int32_t discarded = 0;
    int32_t firstEntry = 0;  // the first chunk with a picture: picture 0
    bool held = false;       // frame holds a decoded picture not yet delivered
    bool draining = false;
    bool needFlush = false;
    bool needPalette = true;
    bool unconvertible = false;  // the decoder's pictures have no conversion to 24-bit

    // Reading ahead; the helper touches the decoder only between a post and
    // the wait for it.
    HelperThread ahead;
};

namespace {

constexpr int kMaxDecodeErrors = 16;

bool SaneSize(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kAviMaxFrameSide && h <= kAviMaxFrameSide &&
           static_cast<uint64_t>(w * h) <= kAviMaxFramePixels;
}

void Destroy(AviGetFrame* g) {
    if (!g) return;
    g->ahead.Stop();
    FreeBgrConverter(g->convert);
    av_frame_free(&g->frame);
    av_frame_free(&g->picture);
    av_packet_free(&g->packet);
    avcodec_free_context(&g->ctx);
    if (g->stream) AVIStreamRelease(g->stream);
    delete g;
}

// The picture buffer, made when the first picture is ready rather than at
// open, so a header that merely claims a huge frame costs nothing.
void EnsureBuffer(AviGetFrame* g) {
    if (g->storage) return;
    const size_t image = size_t{g->stride} * g->height;
    g->storage.reset(new uint8_t[image + 128]());  // row padding stays zero
    const auto base = reinterpret_cast<uintptr_t>(g->storage.get());
    g->pixels = g->storage.get() + ((64 - (base + 40) % 64) % 64) + 40;
    g->dib = g->pixels - 40;
    BITMAPINFOHEADER out{};
    out.biSize = 40;
    out.biWidth = g->width;
    out.biHeight = g->topDown ? -g->height : g->height;
    out.biPlanes = 1;
    out.biBitCount = 24;
    out.biCompression = BI_RGB;
    out.biSizeImage = static_cast<uint32_t>(image);
    std::memcpy(g->dib, &out, sizeof out);
}

// VOP coding types (0 I, 1 P, 2 B, 3 S) of the MPEG-4 pictures in a chunk.
std::vector<int> VopTypes(const uint8_t* d, size_t n) {
    std::vector<int> types;
    for (size_t i = 0; i + 4 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB6) {
            types.push_back(d[i + 4] >> 6);
            i += 3;
        }
    return types;
}

// A chunk's bytes for looking into, the first 4 MiB at most.
std::vector<uint8_t> ReadChunk(const AviGetFrame* g, int32_t i) {
    const AviIndexEntry& e = g->stream->entries[i];
    std::vector<uint8_t> data(std::min<uint32_t>(e.size, 1u << 22));
    if (!AviReadAt(g->stream->file, e.offset, data.data(), data.size())) data.clear();
    return data;
}

// Display number of the picture stored at key entry k. Pictures stored before
// a key picture are shown before it; only B-pictures stored right after it
// can be shown before it as well (an open group), and MPEG-4 says which
// those are. Other formats are taken to have closed groups.
int32_t KeyPictureNumber(const AviGetFrame* g, int32_t k) {
    if (g->keyPicture[k] >= 0 || !g->reorders) return g->keyPicture[k] >= 0 ? g->keyPicture[k] : g->pictureOfEntry[k];
    const int32_t base = g->packed ? (g->repeats ? g->pictureOf[k] : k) : g->pictureOfEntry[k];
    if (!g->mpeg4) return base;
    int32_t leading = 0;
    const int32_t n = static_cast<int32_t>(g->fed.size());
    for (int32_t i = k, looked = 0; i < n && looked < 8; ++i) {
        if (!g->fed[i]) continue;
        ++looked;
        const auto data = ReadChunk(g, i);
        auto types = VopTypes(data.data(), data.size());
        if (i == k && !types.empty()) types.erase(types.begin());  // the key picture itself
        for (const int type : types) {
            if (type != 2) return base + leading;
            ++leading;
        }
    }
    return base + leading;
}

// The latest key entry at or after floor whose picture is shown no later than
// picture t, or -1.
int32_t KeyBefore(const AviGetFrame* g, int32_t floor, int32_t t) {
    for (int32_t i = g->entryOf[t]; i >= floor; --i)
        if (g->key[i] && g->fed[i] && (g->packed ? (g->repeats ? g->pictureOf[i] : i) : g->pictureOfEntry[i]) <= t &&
            KeyPictureNumber(g, i) <= t)
            return i;
    return -1;
}

void Seek(AviGetFrame* g, int32_t k) {
    avcodec_flush_buffers(g->ctx);
    g->nextFeed = k;
    g->secondEntry = -1;
    g->anchorEntry = k;
    g->anchorExact = g->keyPicture[k] >= 0;
    g->anchorPicture = KeyPictureNumber(g, k);
    g->discarded = 0;
    g->lastDecoded = g->anchorPicture - 1;
    g->held = false;
    g->draining = false;
    g->needFlush = false;
    g->needPalette = true;
}

// Sends the next chunk with data, or the end of the stream. False when the
// decoder is in a state we can only leave by seeking.
bool Feed(AviGetFrame* g) {
    const auto& entries = g->stream->entries;
    const int32_t n = static_cast<int32_t>(entries.size());
    AVPacket* p = g->packet;
    int32_t i;
    if (g->secondEntry >= 0) {
        // The second picture of a packed chunk, sent as a chunk of its own.
        i = g->secondEntry;
        p->data = g->packetData.data() + g->secondAt;
        p->size = static_cast<int>(entries[i].size) - g->secondAt;
        p->pts = p->dts = int64_t{i} * 2 + 1;
        g->secondEntry = -1;
    } else {
        while (g->nextFeed < n && !g->fed[g->nextFeed]) ++g->nextFeed;
        if (g->nextFeed >= n) {
            if (g->draining) return false;
            g->draining = true;
            return avcodec_send_packet(g->ctx, nullptr) == 0;
        }
        i = g->nextFeed++;
        const AviIndexEntry& e = entries[i];
        g->packetData.resize(size_t{e.size} + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!AviReadAt(g->stream->file, e.offset, g->packetData.data(), e.size)) return true;  // lost chunk
        std::memset(g->packetData.data() + e.size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        p->data = g->packetData.data();
        p->size = static_cast<int>(e.size);
        p->pts = p->dts = int64_t{i} * 2;
        if (g->packed) {
            // The decoder gets one picture per packet, as in any other stream.
            int vops = 0;
            for (int32_t at = 0; at + 3 < p->size; ++at)
                if (p->data[at] == 0 && p->data[at + 1] == 0 && p->data[at + 2] == 1 && p->data[at + 3] == 0xB6 &&
                    ++vops == 2) {
                    g->secondAt = at;
                    g->secondEntry = i;
                    p->size = at;
                    break;
                }
        }
    }
    p->flags = g->key[i] ? AV_PKT_FLAG_KEY : 0;
    if (g->needPalette && !g->palette.empty()) {
        if (uint8_t* side = av_packet_new_side_data(p, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
            std::memcpy(side, g->palette.data(), AVPALETTE_SIZE);
        g->needPalette = false;
    }
    const int r = avcodec_send_packet(g->ctx, p);
    av_packet_unref(p);
    if (r == AVERROR(EAGAIN)) {
        // Try this packet again once a picture has been taken out.
        if (p->pts & 1) {
            g->secondEntry = i;
        } else {
            --g->nextFeed;
            g->secondEntry = -1;
        }
        return true;
    }
    return r == 0 || r == AVERROR_INVALIDDATA || r == AVERROR(EINVAL) || r == AVERROR_PATCHWELCOME;
}

bool Convert(AviGetFrame* g) {
    if (!BgrConvertible(g->picture)) return false;
    EnsureBuffer(g);
    return ConvertToBgr(g->convert, g->picture, g->pixels, g->width, g->height, g->stride, g->topDown);
}

// Takes the decoder's next picture into frame, feeding chunks as it asks for
// them; false when no picture can come without a seek.
bool ReceiveOne(AviGetFrame* g) {
    int errors = 0;
    for (;;) {
        const int r = avcodec_receive_frame(g->ctx, g->frame);
        if (r == AVERROR(EAGAIN)) {
            if (!Feed(g) && ++errors > kMaxDecodeErrors) break;
            continue;
        }
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            if (++errors > kMaxDecodeErrors) break;
            continue;
        }
        const int64_t entries = static_cast<int64_t>(g->key.size());
        const int64_t stamp = g->frame->pts != AV_NOPTS_VALUE ? g->frame->pts : g->frame->pkt_dts;
        const int64_t entry = stamp >= 0 && stamp / 2 < entries ? stamp / 2 : -1;
        const bool firstOfChunk = entry >= 0 && stamp % 2 == 0;
        g->reorders = g->reorders || g->ctx->has_b_frames > 0;
        int64_t number;
        if (!g->reorders) {
            // Pictures come out in the order of their chunks: each one's own chunk names it.
            number = entry >= 0 ? g->pictureOfEntry[entry] : -1;
            if (number <= g->lastDecoded) number = g->lastDecoded + 1;
            g->anchorEntry = -1;
        } else if (g->anchorEntry >= 0) {
            // Display order: count on from the key picture the seek went to. What
            // comes out before it belongs to the group before and is dropped.
            if (!(firstOfChunk && entry == g->anchorEntry)) {
                av_frame_unref(g->frame);
                if (++g->discarded > kMaxDecodeErrors) break;
                continue;
            }
            g->anchorEntry = -1;
            number = g->anchorPicture;
        } else {
            number = g->lastDecoded + 1;
        }
        g->lastDecoded = static_cast<int32_t>(std::min<int64_t>(number, INT32_MAX));
        if (firstOfChunk && g->learnKeys && g->frame->key_frame) g->key[entry] = 1;
        if (firstOfChunk && g->anchorExact && g->key[entry] && g->keyPicture[entry] < 0)
            g->keyPicture[entry] = g->lastDecoded;
        g->held = true;
        return true;
    }
    g->needFlush = true;
    return false;
}

void StartAhead(AviGetFrame* g);

bool DecodePicture(AviGetFrame* g, int32_t t) {
    const bool passed = t < g->lastDecoded || (t == g->lastDecoded && !g->held);
    if (g->needFlush || passed) {
        // Back to the key frame before t, or to the start when none is known.
        const int32_t k = KeyBefore(g, 0, t);
        Seek(g, k >= 0 ? k : g->firstEntry);
    } else if (const int32_t k = KeyBefore(g, g->nextFeed + 1, t); k >= 0) {
        // A key frame ahead of what was fed: skip the frames before it. The search
        // stops at the decoder's position, so reading in order costs nothing here.
        Seek(g, k);
    }
    for (;;) {
        if (!g->held && !ReceiveOne(g)) return false;
        if (g->lastDecoded < t) {
            av_frame_unref(g->frame);
            g->held = false;
            continue;
        }
        if (g->lastDecoded > t) return false;  // t itself didn't decode; keep this one for later
        g->held = false;
        g->shown = -1;  // a failed conversion may leave part of a picture behind
        // The picture moves aside so the next one can be decoded while this one
        // is converted.
        av_frame_move_ref(g->picture, g->frame);
        StartAhead(g);
        const auto format = static_cast<AVPixelFormat>(g->picture->format);
        const bool ok = Convert(g);
        if (!ok && !sws_isSupportedInput(format)) g->unconvertible = true;
        av_frame_unref(g->picture);
        return ok;
    }
}

// Reading ahead: while the caller works on one picture, a helper thread
// decodes the next, so decoding and the conversion to 24-bit overlap.
void DecodeAhead(void* context) {
    AviGetFrame* g = static_cast<AviGetFrame*>(context);
    try {
        if (!g->held && !g->needFlush) ReceiveOne(g);
    } catch (const std::bad_alloc&) {
        g->needFlush = true;  // the request itself will try again
    }
}

void WaitForAhead(AviGetFrame* g) { g->ahead.Wait(); }

void StartAhead(AviGetFrame* g) {
    if (g->held || g->needFlush) return;
    if (!g->ahead.Start(DecodeAhead, g)) return;  // no thread: decode on request only
    g->ahead.Post();
}

bool CopyPicture(AviGetFrame* g, int32_t t) {
    const AviIndexEntry& e = g->stream->entries[g->entryOf[t]];
    const size_t image = size_t{g->stride} * g->height;
    if (e.size < image) return false;
    EnsureBuffer(g);
    if (g->sourceTopDown == g->topDown) return AviReadAt(g->stream->file, e.offset, g->pixels, image);
    if (!AviReadAt(g->stream->file, e.offset, g->scratch.data(), image)) return false;
    for (int32_t row = 0; row < g->height; ++row)
        std::memcpy(g->pixels + size_t{g->stride} * row, g->scratch.data() + size_t{g->stride} * (g->height - 1 - row),
                    g->stride);
    return true;
}

// Palette of an 8-bit-or-less format, as FFmpeg takes it (opaque ARGB words).
std::vector<uint8_t> PaletteOf(const AviStream* s, const BITMAPINFOHEADER& bi) {
    if (bi.biBitCount == 0 || bi.biBitCount > 8) return {};
    uint32_t colours = bi.biClrUsed ? bi.biClrUsed : (1u << bi.biBitCount);
    colours = std::min(colours, 256u);
    size_t at = bi.biSize >= 40 && bi.biSize <= s->format.size() ? bi.biSize : 40;
    std::vector<uint8_t> pal(AVPALETTE_SIZE, 0);
    for (uint32_t i = 0; i < colours && at + 4 <= s->format.size(); ++i, at += 4) {
        uint32_t v;
        std::memcpy(&v, s->format.data() + at, 4);
        v |= 0xff000000u;
        std::memcpy(pal.data() + 4 * i, &v, 4);
    }
    return pal;
}

bool OpenDecoder(AviGetFrame* g, const BITMAPINFOHEADER& bi) {
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    uint32_t tag = bi.biCompression;
    AVCodecID id = av_codec_get_id(tables, tag);
    if (id == AV_CODEC_ID_NONE) {
        tag = g->stream->header.fccHandler;
        id = av_codec_get_id(tables, tag);
    }
    if (id == AV_CODEC_ID_NONE) return false;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;
    g->ctx = avcodec_alloc_context3(codec);
    g->packet = av_packet_alloc();
    g->frame = av_frame_alloc();
    g->picture = av_frame_alloc();
    if (!g->ctx || !g->packet || !g->frame || !g->picture) return false;
    AVCodecContext* c = g->ctx;
    c->width = bi.biWidth;
    c->height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    c->bits_per_coded_sample = bi.biBitCount;
    c->codec_tag = tag;
    c->max_pixels = kAviMaxFramePixels;
    c->thread_count = 0;
    c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;

    const auto& fmt = g->stream->format;
    std::vector<uint8_t> extra(fmt.begin() + 40, fmt.end());
    // Uncompressed bitmaps with a positive height are stored bottom-up.
    // (libavcodec's raw decoder reads that from a trailing marker.)
    static constexpr char kBottomUp[] = "BottomUp";
    if (id == AV_CODEC_ID_RAWVIDEO && tag == BI_RGB && bi.biHeight > 0)
        extra.insert(extra.end(), kBottomUp, kBottomUp + sizeof kBottomUp);
    if (!extra.empty()) {
        c->extradata = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c->extradata) return false;
        std::memcpy(c->extradata, extra.data(), extra.size());
        c->extradata_size = static_cast<int>(extra.size());
    }
    g->palette = PaletteOf(g->stream, bi);
    if (avcodec_open2(c, codec, nullptr) < 0) return false;
    if (c->pix_fmt != AV_PIX_FMT_NONE && !sws_isSupportedInput(c->pix_fmt)) return false;

    g->mpeg4 = id == AV_CODEC_ID_MPEG4;
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    const bool intraOnly = d && (d->props & AV_CODEC_PROP_INTRA_ONLY);
    const auto& entries = g->stream->entries;
    bool anyKey = false;
    for (const auto& e : entries) anyKey = anyKey || (e.flags & kAviEntryKey);
    g->key.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) g->key[i] = intraOnly || (entries[i].flags & kAviEntryKey);
    g->learnKeys = !anyKey && !intraOnly;
    return true;
}

// A chunk too small to hold a coded MPEG-4 picture: a placeholder ("not
// coded") that shows the picture before it.
bool IsPlaceholder(const AviGetFrame* g, int32_t i) {
    const uint32_t size = g->stream->entries[i].size;
    if (size == 0) return true;
    if (!g->mpeg4 || size > 8) return false;
    const auto data = ReadChunk(g, i);
    return VopTypes(data.data(), data.size()).size() == 1;
}

// Numbers the pictures in display order and maps positions onto them. False
// when no chunk holds a picture.
bool NumberPictures(AviGetFrame* g) {
    const auto& entries = g->stream->entries;
    const int32_t n = static_cast<int32_t>(entries.size());
    g->fed.assign(n, 0);
    for (int32_t i = 0; i < n; ++i) g->fed[i] = !(entries[i].flags & kAviEntryBad) && !IsPlaceholder(g, i);
    if (g->mpeg4) {
        // Packing shows in the first chunks that hold pictures.
        for (int32_t i = 0, looked = 0; i < n && looked < 16 && !g->packed; ++i) {
            if (!g->fed[i]) continue;
            ++looked;
            const auto data = ReadChunk(g, i);
            g->packed = VopTypes(data.data(), data.size()).size() >= 2;
        }
    }
    g->reorders = g->packed;
    // A stream whose placeholders are "not coded" pictures has no empty ones:
    // its empty chunks are frames a recorder repeated. Otherwise every packed
    // chunk owes one placeholder after it, and an empty chunk when nothing is
    // owed is a repeat. Telling them apart reads every chunk, so only packed
    // streams with empty chunks pay for it.
    std::vector<uint8_t> repeated(n, 0);
    if (g->packed && std::any_of(entries.begin(), entries.end(), [](const AviIndexEntry& e) { return e.size == 0; })) {
        bool codedPlaceholders = false;
        for (int32_t i = 0; i < n && !codedPlaceholders; ++i)
            codedPlaceholders = !g->fed[i] && entries[i].size > 0 && !(entries[i].flags & kAviEntryBad);
        int64_t owed = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (entries[i].flags & kAviEntryBad) continue;
            if (g->fed[i]) {
                if (codedPlaceholders) continue;
                const auto data = ReadChunk(g, i);
                if (VopTypes(data.data(), data.size()).size() >= 2) ++owed;
            } else if (entries[i].size == 0 && (codedPlaceholders || owed == 0)) {
                repeated[i] = 1;
                g->repeats = true;
            } else if (owed > 0) {
                --owed;
            }
        }
    }
    g->pictureOf.assign(n, -1);
    g->pictureOfEntry.assign(n, -1);
    g->entryOf.clear();
    g->keyPicture.assign(n, -1);
    int32_t last = -1;
    bool lastBad = false;
    for (int32_t i = 0; i < n; ++i) {
        if (entries[i].flags & kAviEntryBad) {
            lastBad = true;
        } else if (g->fed[i] || (g->packed && !repeated[i])) {
            if (last < 0 && !g->fed[i]) continue;  // nothing shown before the first picture
            last = static_cast<int32_t>(g->entryOf.size());
            lastBad = false;
            if (g->fed[i]) g->pictureOfEntry[i] = last;
            g->entryOf.push_back(i);
        }
        if (!lastBad) g->pictureOf[i] = last;
    }
    if (last < 0) return false;
    g->firstEntry = g->entryOf[0];
    g->keyPicture[g->firstEntry] = 0;
    return true;
}

// A decoder that holds d pictures back to reorder them (B-frames) gives out
// picture k when the chunk d chunks after k's own is fed, so its place in time
// is that chunk's position less d, as FFmpeg times it. An empty chunk among
// them is then a gap in display order, shown as the picture before it, rather
// than the gap in storage order that the count of chunks would make it.
void PlaceReorderedPictures(AviGetFrame* g, int32_t delay) {
    const auto& entries = g->stream->entries;
    const int32_t n = static_cast<int32_t>(entries.size());
    std::vector<int32_t> fedAt;
    for (int32_t i = 0; i < n; ++i)
        if (g->fed[i]) fedAt.push_back(i);
    const auto pictures = static_cast<int64_t>(fedAt.size());
    if (pictures == 0 || pictures != static_cast<int64_t>(g->entryOf.size())) return;
    // The last d pictures follow the last chunk one position apart.
    const auto placeOf = [&](int64_t k) {
        return k + delay < pictures ? int64_t{fedAt[k + delay]} - delay
                                    : int64_t{fedAt[pictures - 1]} + k - pictures + 1;
    };
    int64_t k = 0;
    for (int32_t pos = 0; pos < n; ++pos) {
        while (k < pictures && placeOf(k) <= pos) ++k;
        if (entries[pos].flags & kAviEntryBad)
            g->pictureOf[pos] = -1;
        else if (k > 0)
            g->pictureOf[pos] = static_cast<int32_t>(k - 1);
    }
}

// The picture of stream position index (0 = the stream's start), or null.
void* PictureAt(AviGetFrame* g, int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(g->pictureOf.size())) return nullptr;
    const int32_t t = g->pictureOf[static_cast<size_t>(index)];
    if (t < 0) return nullptr;
    if (t == g->shown) return g->dib;
    bool ok;
    try {
        if (g->copy) {
            g->shown = -1;
            ok = CopyPicture(g, t);
        } else {
            WaitForAhead(g);
            ok = DecodePicture(g, t);
        }
    } catch (const std::bad_alloc&) {
        g->shown = -1;
        return nullptr;
    }
    if (!ok) return nullptr;
    g->shown = t;
    return g->dib;
}

}  // namespace

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted) {
    if (!pavi || pavi->header.fccType != streamtypeVIDEO) return nullptr;
    BITMAPINFOHEADER bi;
    if (!AviBitmapFormat(pavi, &bi)) return nullptr;
    const int64_t sourceW = bi.biWidth;
    const int64_t sourceH = bi.biHeight < 0 ? -int64_t{bi.biHeight} : int64_t{bi.biHeight};
    if (!SaneSize(sourceW, sourceH)) return nullptr;
    int64_t w = sourceW, h = sourceH;
    bool topDown = false;
    if (lpbiWanted) {
        if (lpbiWanted->biBitCount != 24 || lpbiWanted->biCompression != BI_RGB) return nullptr;
        w = lpbiWanted->biWidth;
        h = lpbiWanted->biHeight < 0 ? -int64_t{lpbiWanted->biHeight} : int64_t{lpbiWanted->biHeight};
        topDown = lpbiWanted->biHeight < 0;
    }
    if (!SaneSize(w, h)) return nullptr;
    if (pavi->entries.size() > INT32_MAX) return nullptr;

    QuietFfmpegLog();
    AviGetFrame* g = nullptr;
    try {
        g = new AviGetFrame{};
        g->stream = pavi;
        ++pavi->refs;
        ++pavi->file->refs;
        g->width = static_cast<int32_t>(w);
        g->height = static_cast<int32_t>(h);
        g->topDown = topDown;
        g->stride = static_cast<uint32_t>(RowStride(g->width));
        g->copy = bi.biCompression == BI_RGB && bi.biBitCount == 24 && sourceW == w && sourceH == h;
        if (g->copy) {
            // Uncompressed pictures must be in the file: at least one chunk has to
            // hold a whole one.
            const size_t image = size_t{g->stride} * g->height;
            if (pavi->largestChunk < image) {
                Destroy(g);
                return nullptr;
            }
            g->sourceTopDown = bi.biHeight < 0;
            if (g->sourceTopDown != g->topDown) g->scratch.resize(image);
        } else if (!OpenDecoder(g, bi)) {
            Destroy(g);
            return nullptr;
        }
        if (!NumberPictures(g)) {  // no frame of its own
            Destroy(g);
            return nullptr;
        }
        // One of the first pictures must decode: it proves there is a conversion
        // to 24-bit, and a stream none of whose frames decode has nothing to
        // convert. (A damaged first frame alone doesn't refuse it.)
        bool shows = false;
        for (int32_t k = 0, tried = 0; k < static_cast<int32_t>(g->entryOf.size()) && tried < 4 && !shows; ++k) {
            const int32_t at = g->entryOf[k];
            if (!g->fed[at] && !g->copy) continue;
            ++tried;
            shows = PictureAt(g, at) != nullptr;
            if (g->unconvertible) break;
        }
        if (!shows) {
            Destroy(g);
            return nullptr;
        }
        if (!g->copy && !g->packed && g->ctx->has_b_frames > 0) PlaceReorderedPictures(g, g->ctx->has_b_frames);
    } catch (const std::bad_alloc&) {
        Destroy(g);
        return nullptr;
    }
    return g;
}

void* AVIStreamGetFrame(PGETFRAME pg, int32_t lPos) {
    if (!pg) return nullptr;
    return PictureAt(pg, int64_t{lPos} - int64_t{pg->stream->header.dwStart});
}

AVIRESULT AVIStreamGetFrameClose(PGETFRAME pg) {
    if (!pg) return AVIERR_BADHANDLE;
    Destroy(pg);
    return AVIERR_OK;
}
