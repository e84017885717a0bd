// The frame getter: every video frame as a packed 24-bit DIB. Uncompressed
// 24-bit frames are copied; everything else is decoded with libavcodec and
// converted with libswscale.
#include "media/vfw/avifile.h"
#include "media/vfw/ffmpeg_log.h"
#include "platform/helper_thread.h"
#include "frames/geometry.h"

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
  // Per position: the entry whose picture it shows (zero-length chunks repeat
  // the one before), or -1 when there is none.
  std::vector<int32_t> pictureOf;
  std::vector<uint8_t> key;
  bool learnKeys;  // the file said nothing about key frames; note what the decoder finds
  int32_t shown = -1;  // entry whose picture the buffer holds

  // Uncompressed 24-bit.
  bool copy = false;
  bool sourceTopDown = false;
  std::vector<uint8_t> scratch;

  // Decoded.
  AVCodecContext* ctx = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;    // the decoder's latest picture
  AVFrame* picture = nullptr;  // the one being converted
  SwsContext* sws = nullptr;
  int swsColorspace = -1;
  int swsRange = -1;
  std::vector<uint8_t> packetData;
  std::vector<uint8_t> convertBuffer;
  std::vector<uint8_t> palette;  // AVPALETTE_SIZE bytes when the format has one
  int32_t nextFeed = 0;
  int32_t lastDecoded = -1;
  bool held = false;  // frame holds a decoded picture not yet delivered
  bool draining = false;
  bool needFlush = false;
  bool needPalette = true;
  bool unconvertible = false;  // the decoder's pictures have no conversion to 24-bit

  // Reading ahead; the helper touches the decoder only between a post and
  // the wait for it.
  HelperThread ahead;
};

static_assert(sizeof(AVColorSpace) == sizeof(int) && sizeof(AVColorRange) == sizeof(int));

namespace {

constexpr int kMaxDecodeErrors = 16;

bool SaneSize(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kAviMaxFrameSide && h <= kAviMaxFrameSide &&
         static_cast<uint64_t>(w * h) <= kAviMaxFramePixels;
}

void Destroy(AviGetFrame* g) {
  if (!g) return;
  g->ahead.Stop();
  sws_freeContext(g->sws);
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

// The latest key entry with data in [floor, t], or -1.
int32_t KeyBetween(const AviGetFrame* g, int32_t floor, int32_t t) {
  const auto& entries = g->stream->entries;
  for (int32_t i = t; i >= floor; --i)
    if (g->key[i] && entries[i].size != 0) return i;
  return -1;
}

void Seek(AviGetFrame* g, int32_t k) {
  avcodec_flush_buffers(g->ctx);
  g->nextFeed = k;
  g->lastDecoded = k - 1;
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
  while (g->nextFeed < n && entries[g->nextFeed].size == 0) ++g->nextFeed;
  if (g->nextFeed >= n) {
    if (g->draining) return false;
    g->draining = true;
    return avcodec_send_packet(g->ctx, nullptr) == 0;
  }
  const int32_t i = g->nextFeed++;
  const AviIndexEntry& e = entries[i];
  g->packetData.resize(size_t{e.size} + AV_INPUT_BUFFER_PADDING_SIZE);
  if (!AviReadAt(g->stream->file, e.offset, g->packetData.data(), e.size)) return true;  // lost chunk
  std::memset(g->packetData.data() + e.size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  AVPacket* p = g->packet;
  p->data = g->packetData.data();
  p->size = static_cast<int>(e.size);
  p->pts = p->dts = i;
  p->flags = g->key[i] ? AV_PKT_FLAG_KEY : 0;
  if (g->needPalette && !g->palette.empty()) {
    if (uint8_t* side = av_packet_new_side_data(p, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
      std::memcpy(side, g->palette.data(), AVPALETTE_SIZE);
    g->needPalette = false;
  }
  const int r = avcodec_send_packet(g->ctx, p);
  av_packet_unref(p);
  if (r == AVERROR(EAGAIN)) {
    --g->nextFeed;  // try this chunk again once a picture has been taken out
    return true;
  }
  return r == 0 || r == AVERROR_INVALIDDATA || r == AVERROR(EINVAL) || r == AVERROR_PATCHWELCOME;
}

bool Convert(AviGetFrame* g) {
  AVFrame* f = g->picture;
  const auto format = static_cast<AVPixelFormat>(f->format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!desc || !sws_isSupportedInput(format) || f->width <= 0 || f->height <= 0) return false;
  EnsureBuffer(g);
  SwsContext* before = g->sws;
  g->sws = sws_getCachedContext(g->sws, f->width, f->height, format, g->width, g->height, AV_PIX_FMT_BGR24,
                                SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!g->sws) return false;
  if (g->sws != before) g->swsColorspace = g->swsRange = -1;  // a new context starts from the defaults
  // Decoders copy these from the bitstream unchecked; read them as plain
  // numbers, since a value outside the enumeration is not a valid enum.
  int space, range;
  std::memcpy(&space, &f->colorspace, sizeof space);
  std::memcpy(&range, &f->color_range, sizeof range);
  if (space < 0 || space == AVCOL_SPC_UNSPECIFIED || space >= AVCOL_SPC_NB) space = SWS_CS_DEFAULT;
  if (!(desc->flags & AV_PIX_FMT_FLAG_RGB) && (space != g->swsColorspace || range != g->swsRange)) {
    int *invTable, *table, srcRange, dstRange, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(g->sws, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation) >= 0) {
      if (range == AVCOL_RANGE_JPEG) srcRange = 1;
      sws_setColorspaceDetails(g->sws, sws_getCoefficients(space), srcRange, table, dstRange, brightness, contrast,
                               saturation);
    }
    g->swsColorspace = space;
    g->swsRange = range;
  }
  // libswscale's fast paths write whole groups of 8 or 16 pixels and drop a
  // narrower picture's last columns when its rows have no room to spare, so
  // such pictures go through a roomier buffer first.
  const bool direct = g->width % 16 == 0;
  const size_t rowBytes = size_t{3} * g->width;
  uint8_t* dst[4] = {g->pixels, nullptr, nullptr, nullptr};
  int dstStride[4] = {static_cast<int>(g->stride), 0, 0, 0};
  if (!direct) {
    const size_t roomy = ((rowBytes + 3 * 32) + 63) & ~size_t{63};
    g->convertBuffer.resize(roomy * g->height + 64);
    dst[0] = g->convertBuffer.data();
    dstStride[0] = static_cast<int>(roomy);
  } else if (!g->topDown) {
    // Bottom-up: the last row first, walking backwards.
    dst[0] = g->pixels + size_t{g->stride} * (g->height - 1);
    dstStride[0] = -static_cast<int>(g->stride);
  }
  if (sws_scale(g->sws, f->data, f->linesize, 0, f->height, dst, dstStride) != g->height) return false;
  if (!direct) {
    for (int32_t row = 0; row < g->height; ++row) {
      const int32_t to = g->topDown ? row : g->height - 1 - row;
      std::memcpy(g->pixels + size_t{g->stride} * to, dst[0] + size_t(dstStride[0]) * row, rowBytes);
    }
  }
  return true;
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
    const int64_t count = static_cast<int64_t>(g->key.size());
    int64_t pos = g->frame->pts != AV_NOPTS_VALUE ? g->frame->pts : g->frame->pkt_dts;
    if (pos == AV_NOPTS_VALUE || pos <= g->lastDecoded || pos >= count) pos = g->lastDecoded + 1;
    g->lastDecoded = static_cast<int32_t>(std::min<int64_t>(pos, INT32_MAX));
    if (g->learnKeys && g->frame->key_frame && pos < count) g->key[pos] = 1;
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
    Seek(g, std::max(KeyBetween(g, 0, t), 0));
  } else if (const int32_t k = KeyBetween(g, g->nextFeed + 1, t); k >= 0) {
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
  const AviIndexEntry& e = g->stream->entries[t];
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
    const auto& entries = pavi->entries;
    g->pictureOf.resize(entries.size());
    int32_t last = -1;
    bool lastBad = false;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].flags & kAviEntryBad) {
        lastBad = true;
        g->pictureOf[i] = -1;
      } else if (entries[i].size > 0) {
        last = static_cast<int32_t>(i);
        lastBad = false;
        g->pictureOf[i] = last;
      } else {
        g->pictureOf[i] = lastBad ? -1 : last;
      }
    }
    if (last < 0) {  // no frame of its own
      Destroy(g);
      return nullptr;
    }

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
    // The first picture proves there is a conversion to 24-bit; a first frame
    // that is merely damaged doesn't refuse the stream.
    if (!g->copy) {
      int32_t first = 0;
      while (g->pictureOf[first] < 0 || entries[first].size == 0) ++first;
      if (!PictureAt(g, first) && g->unconvertible) {
        Destroy(g);
        return nullptr;
      }
    }
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
