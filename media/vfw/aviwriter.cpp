// Writing AVI 1.0 files: RIFF 'AVI ' with 'hdrl', 'JUNK' up to the first
// 2048-byte boundary, 'movi' and 'idx1'. The headers go to disk with the first
// chunk, sized so that a reader walks whatever data follows even if we never
// finish; the last release writes the index and puts the real sizes in.
#include "media/vfw/aviwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr uint32_t Fcc(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

constexpr uint64_t kAlign = 2048;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
// While the file is being written, the RIFF and 'movi' sizes say "to the end
// of the file": readers clamp them to what is there.
constexpr uint32_t kOpenSize = 0xFFFFFFF0u;

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    uint8_t x[4];
    std::memcpy(x, &v, 4);
    b.insert(b.end(), x, x + 4);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

void PutChunk(std::vector<uint8_t>& b, uint32_t id, const void* data, size_t size) {
    Put32(b, id);
    Put32(b, static_cast<uint32_t>(size));
    const auto* p = static_cast<const uint8_t*>(data);
    b.insert(b.end(), p, p + size);
    if (size & 1) b.push_back(0);
}

size_t OpenList(std::vector<uint8_t>& b, uint32_t kind, uint32_t type) {
    const size_t at = b.size();
    Put32(b, kind);
    Put32(b, 0);
    Put32(b, type);
    return at;
}
void CloseList(std::vector<uint8_t>& b, size_t at) { Set32(b, at + 4, static_cast<uint32_t>(b.size() - at - 8)); }

uint32_t ChunkId(const AviStream* s) {
    const char tens = static_cast<char>('0' + s->number / 10);
    const char ones = static_cast<char>('0' + s->number % 10);
    if (s->header.fccType == streamtypeAUDIO) return mmioFOURCC(tens, ones, 'w', 'b');
    if (s->header.fccType == streamtypeVIDEO && s->format.size() >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, s->format.data(), sizeof bi);
        if (bi.biCompression == BI_RGB) return mmioFOURCC(tens, ones, 'd', 'b');
    }
    return mmioFOURCC(tens, ones, 'd', 'c');
}

// Bytes per sample of a stream with fixed-size samples, 0 for one chunk per sample.
uint32_t SampleBytes(const AviStream* s) {
    if (s->header.dwSampleSize) return s->header.dwSampleSize;
    if (s->header.fccType == streamtypeAUDIO && s->format.size() >= 16) {
        WAVEFORMATEX wf{};
        std::memcpy(&wf, s->format.data(), std::min(s->format.size(), sizeof wf));
        if (wf.wFormatTag == WAVE_FORMAT_PCM) return wf.nBlockAlign;
    }
    return 0;
}

const AviStream* FirstVideo(const AviFile* file) {
    for (const auto* s : file->streams)
        if (s->header.fccType == streamtypeVIDEO) return s;
    return nullptr;
}

uint32_t Clamp32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

// Everything before the first chunk. Its length depends only on the streams,
// their formats and names, so the final rewrite fits the same place.
std::vector<uint8_t> BuildHeaders(const AviFile* file, bool final, uint64_t fileEnd, uint64_t idx1At) {
    const AviWriter* w = file->writer;
    std::vector<uint8_t> b;
    b.reserve(4096);
    const size_t riff = OpenList(b, Fcc("RIFF"), Fcc("AVI "));
    const size_t hdrl = OpenList(b, Fcc("LIST"), Fcc("hdrl"));

    AviMainHeader mh{};
    uint32_t largest = 0;
    for (const auto* s : file->streams) largest = std::max(largest, s->largestChunk);
    const AviStream* video = FirstVideo(file);
    if (video && video->header.dwRate)
        mh.dwMicroSecPerFrame =
            Clamp32((uint64_t{video->header.dwScale} * 1000000 + video->header.dwRate / 2) / video->header.dwRate);
    mh.dwMaxBytesPerSec = Clamp32(std::max(w->maxBytesPerSec, w->secondBytes));
    mh.dwFlags = kAvifHasIndex | (file->streams.size() > 1 ? kAvifIsInterleaved : 0);
    mh.dwTotalFrames = video ? video->header.dwLength : 0;
    mh.dwStreams = static_cast<uint32_t>(file->streams.size());
    mh.dwSuggestedBufferSize = largest ? largest + 8 : 0;
    if (video) {
        BITMAPINFOHEADER bi{};
        if (video->format.size() >= sizeof bi) {
            std::memcpy(&bi, video->format.data(), sizeof bi);
            mh.dwWidth = static_cast<uint32_t>(bi.biWidth < 0 ? 0 : bi.biWidth);
            mh.dwHeight =
                bi.biHeight == INT32_MIN ? 0u : static_cast<uint32_t>(bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
        } else {
            mh.dwWidth = static_cast<uint32_t>(std::max(0, video->header.rcFrame[2] - video->header.rcFrame[0]));
            mh.dwHeight = static_cast<uint32_t>(std::max(0, video->header.rcFrame[3] - video->header.rcFrame[1]));
        }
    }
    PutChunk(b, Fcc("avih"), &mh, sizeof mh);

    for (const auto* s : file->streams) {
        const size_t strl = OpenList(b, Fcc("LIST"), Fcc("strl"));
        AviStreamHeader h = s->header;
        if (s->largestChunk) h.dwSuggestedBufferSize = s->largestChunk;
        PutChunk(b, Fcc("strh"), &h, sizeof h);
        PutChunk(b, Fcc("strf"), s->format.data(), s->format.size());
        if (!s->name.empty()) PutChunk(b, Fcc("strn"), s->name.c_str(), s->name.size() + 1);
        CloseList(b, strl);
    }
    CloseList(b, hdrl);

    // The first chunk header lands on a 2048-byte boundary.
    const uint64_t need = b.size() + 8 + 12;
    const uint64_t junk = (need + kAlign - 1) / kAlign * kAlign - need;
    Put32(b, Fcc("JUNK"));
    Put32(b, static_cast<uint32_t>(junk));
    b.resize(b.size() + junk, 0);
    const size_t movi = OpenList(b, Fcc("LIST"), Fcc("movi"));

    if (final) {
        Set32(b, riff + 4, static_cast<uint32_t>(fileEnd - 8));
        Set32(b, movi + 4, static_cast<uint32_t>(idx1At - movi - 8));
    } else {
        Set32(b, riff + 4, kOpenSize);
        Set32(b, movi + 4, kOpenSize - static_cast<uint32_t>(movi));
    }
    return b;
}

// Writes all of the buffers at offset, or fails.
bool WriteAllAt(int fd, struct iovec* iov, int count, uint64_t offset) {
    while (count > 0) {
        const ssize_t done = pwritev(fd, iov, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done == 0) errno = ENOSPC;  // nothing taken and no error: the disk is full
        if (done <= 0) return false;
        offset += static_cast<uint64_t>(done);
        size_t left = static_cast<size_t>(done);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

bool WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
    struct iovec v = {const_cast<void*>(data), size};
    return size == 0 || WriteAllAt(fd, &v, 1, offset);
}

void Truncate(int fd, uint64_t size) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        // Best effort: what lies beyond the RIFF form is not read.
    }
}

// A failed write keeps its cause for the user: the system's words for errno.
void NoteWriteFailure(AviFile* file) {
    const int error = errno;
    if (file->failure.empty()) file->failure = error ? std::strerror(error) : "the disk took no more bytes";
}

AVIRESULT Start(AviFile* file) {
    AviWriter* w = file->writer;
    const std::vector<uint8_t> head = BuildHeaders(file, false, 0, 0);
    if (!WriteAt(file->fd, head.data(), head.size(), 0)) {
        NoteWriteFailure(file);
        w->failed = true;
        return AVIERR_FILEWRITE;
    }
    w->started = true;
    w->headerBytes = head.size();
    w->moviFourcc = head.size() - 4;
    w->end = head.size();
    return AVIERR_OK;
}

AviStream* WritableStream(PAVISTREAM pavi) {
    if (!pavi || pavi->refs <= 0 || !pavi->file || !pavi->file->writer || pavi->compressor) return nullptr;
    return pavi;
}

AVIRESULT CheckFormat(const AviStream* s, const uint8_t* p, size_t n) {
    if (s->header.fccType == streamtypeVIDEO) {
        if (n < sizeof(BITMAPINFOHEADER)) return AVIERR_BADFORMAT;
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, p, sizeof bi);
        if (bi.biSize < sizeof bi || bi.biSize > n || bi.biWidth <= 0 || bi.biHeight == 0 || bi.biHeight == INT32_MIN)
            return AVIERR_BADFORMAT;
    } else if (s->header.fccType == streamtypeAUDIO) {
        if (n < 16) return AVIERR_BADFORMAT;
        WAVEFORMATEX wf{};
        std::memcpy(&wf, p, std::min(n, sizeof wf));
        if (wf.nChannels == 0 || wf.nSamplesPerSec == 0 || wf.nBlockAlign == 0) return AVIERR_BADFORMAT;
        if (n >= sizeof wf && sizeof wf + wf.cbSize > n) return AVIERR_BADFORMAT;
    }
    return AVIERR_OK;
}

}  // namespace

AVIRESULT AviWriterOpen(PAVIFILE* ppfile, const char* path, uint32_t mode) {
    if (!(mode & OF_CREATE)) return AVIERR_UNSUPPORTED;  // we only ever write new files
    // Not O_TRUNC: the file is emptied only once we hold it alone, so a file
    // another run is reading or writing stays intact.
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return AVIERR_FILEOPEN;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return AVIERR_FILEOPEN;
    }
    AviFile* file = new (std::nothrow) AviFile{};
    AviWriter* writer = new (std::nothrow) AviWriter{};
    if (!file || !writer) {
        delete file;
        delete writer;
        close(fd);
        return AVIERR_MEMORY;
    }
    file->refs = 1;
    file->fd = fd;
    file->writable = true;
    file->writer = writer;
    *ppfile = file;
    return AVIERR_OK;
}

AVIRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi) {
    if (!ppavi) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!pfile || pfile->refs <= 0) return AVIERR_BADHANDLE;
    if (!pfile->writer) return AVIERR_READONLY;
    if (!psi) return AVIERR_BADPARAM;
    if (pfile->writer->started || pfile->streams.size() >= 100) return AVIERR_UNSUPPORTED;
    AviStream* s = new (std::nothrow) AviStream{};
    if (!s) return AVIERR_MEMORY;
    auto edge = [](int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); };
    AviStreamHeader& h = s->header;
    h.fccType = psi->fccType;
    h.fccHandler = psi->fccHandler;
    h.dwFlags = psi->dwFlags;
    h.wPriority = psi->wPriority;
    h.wLanguage = psi->wLanguage;
    h.dwInitialFrames = psi->dwInitialFrames;
    h.dwScale = psi->dwScale;
    h.dwRate = psi->dwRate;
    h.dwStart = psi->dwStart;
    h.dwLength = 0;  // counts what is written
    h.dwSuggestedBufferSize = psi->dwSuggestedBufferSize;
    h.dwQuality = psi->dwQuality;
    // A video chunk is one frame whatever its size. A source's sample size
    // (some files give their frame size) would be false for compressed or
    // resized frames, and would make every write of another size fail.
    h.dwSampleSize = psi->fccType == streamtypeVIDEO ? 0 : psi->dwSampleSize;
    h.rcFrame[0] = edge(psi->rcFrame.left);
    h.rcFrame[1] = edge(psi->rcFrame.top);
    h.rcFrame[2] = edge(psi->rcFrame.right);
    h.rcFrame[3] = edge(psi->rcFrame.bottom);
    s->name.assign(psi->szName, strnlen(psi->szName, sizeof psi->szName));
    s->file = pfile;
    s->refs = 1;
    s->number = static_cast<uint32_t>(pfile->streams.size());
    pfile->streams.push_back(s);
    ++pfile->refs;
    *ppavi = s;
    return AVIERR_OK;
}

AVIRESULT AviWriterSetFormat(AviStream* pavi, const void* lpFormat, int32_t cbFormat) {
    AviStream* s = WritableStream(pavi);
    if (!s) return AVIERR_READONLY;
    const auto* p = static_cast<const uint8_t*>(lpFormat);
    const size_t n = static_cast<size_t>(cbFormat);
    if (s->file->writer->started) {
        // The headers are on disk; only the same format again is fine.
        return s->format.size() == n && std::memcmp(s->format.data(), p, n) == 0 ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    const AVIRESULT check = CheckFormat(s, p, n);
    if (check != AVIERR_OK) return check;
    try {
        s->format.assign(p, p + n);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    return AVIERR_OK;
}

AVIRESULT AviWriterAppend(AviStream* s, const void* data, uint32_t size, uint32_t samples, bool key, uint64_t* grew) {
    *grew = 0;
    AviFile* file = s->file;
    AviWriter* w = file->writer;
    if (w->failed) return AVIERR_FILEWRITE;
    const uint64_t before = w->end;
    if (!w->started) {
        const AVIRESULT r = Start(file);
        if (r != AVIERR_OK) return r;
    }
    const uint64_t padded = uint64_t{size} + (size & 1);
    // Room for this chunk, the index so far with its entry, and the idx1 header.
    if (w->end + 8 + padded + w->index.size() + 16 + 8 > kAviMaxWrittenFile) {
        file->failure = "an AVI file can't grow past 4 GiB";
        return AVIERR_FILEWRITE;
    }
    // The entry's room is taken first, so a chunk on disk always gets its entry.
    if (w->index.capacity() - w->index.size() < 16) {
        try {
            w->index.reserve(std::max<size_t>(64 * 1024, w->index.size() * 2));
        } catch (const std::bad_alloc&) {
            return AVIERR_MEMORY;
        }
    }

    uint32_t head[2] = {ChunkId(s), size};
    static const uint8_t zero = 0;
    struct iovec iov[3] = {
        {head, sizeof head}, {const_cast<void*>(data), size}, {const_cast<uint8_t*>(&zero), size & 1u}};
    const int count = (size & 1) ? 3 : 2;
    if (!WriteAllAt(file->fd, iov, count, w->end)) {
        // The chunk may be half on disk; the file ends where the last good one did.
        NoteWriteFailure(file);
        w->failed = true;
        return AVIERR_FILEWRITE;
    }
    const uint32_t offset = static_cast<uint32_t>(w->end - w->moviFourcc);
    const uint32_t entry[4] = {head[0], key ? AVIIF_KEYFRAME : 0u, offset, size};
    const auto* e = reinterpret_cast<const uint8_t*>(entry);
    w->index.insert(w->index.end(), e, e + sizeof entry);
    w->end += 8 + padded;

    s->header.dwLength += samples;
    s->largestChunk = std::max(s->largestChunk, size);
    // Bytes per second of the first video stream's time, for 'avih'.
    if (const AviStream* v = FirstVideo(file); v && v->header.dwRate) {
        const uint64_t frames = v->header.dwLength ? v->header.dwLength - (v == s ? 1 : 0) : 0;
        const uint64_t second = frames * v->header.dwScale / v->header.dwRate;
        if (second != w->second) {
            w->maxBytesPerSec = std::max(w->maxBytesPerSec, w->secondBytes);
            w->second = second;
            w->secondBytes = 0;
        }
        w->secondBytes += 8 + padded;
    }
    // The idx1 entry, and with the first chunk the idx1 header, are growth too.
    *grew = w->end - before + 16 + (before == 0 ? 8 : 0);
    return AVIERR_OK;
}

AVIRESULT AviWriterWrite(AviStream* pavi, int32_t lStart, int32_t lSamples, const void* lpBuffer, int32_t cbBuffer,
                         uint32_t dwFlags, int32_t* plSampWritten, int32_t* plBytesWritten) {
    AviStream* s = WritableStream(pavi);
    if (!s) return AVIERR_READONLY;
    if (s->format.empty()) return AVIERR_BADFORMAT;
    const uint32_t sampleBytes = SampleBytes(s);
    uint32_t samples;
    if (sampleBytes) {
        // Fixed-size samples: the length follows the bytes actually stored.
        if (static_cast<uint32_t>(cbBuffer) % sampleBytes != 0) return AVIERR_BADSIZE;
        samples = static_cast<uint32_t>(cbBuffer) / sampleBytes;
    } else {
        // One chunk is one sample. Audio without a fixed sample size (compressed
        // sound) still takes the caller's count of its samples in one chunk,
        // so carrying such a source's audio over doesn't fail.
        if (lSamples != 1 && s->header.fccType == streamtypeVIDEO) return AVIERR_BADPARAM;
        samples = 1;
    }
    const uint64_t length = s->header.dwLength;
    if (lStart != -1 && (lStart < 0 || static_cast<uint64_t>(lStart) < length)) return AVIERR_UNSUPPORTED;
    uint64_t total = 0;
    if (lStart > 0 && static_cast<uint64_t>(lStart) > length) {
        // Skipped frames become empty chunks, which readers show as repeats.
        if (sampleBytes) return AVIERR_UNSUPPORTED;
        for (uint64_t i = length; i < static_cast<uint64_t>(lStart); ++i) {
            uint64_t grew;
            const AVIRESULT r = AviWriterAppend(s, nullptr, 0, 1, false, &grew);
            if (r != AVIERR_OK) return r;
            total += grew;
        }
    }
    const bool key = sampleBytes != 0 || (dwFlags & AVIIF_KEYFRAME);
    uint64_t grew;
    const AVIRESULT r = AviWriterAppend(s, lpBuffer, static_cast<uint32_t>(cbBuffer), samples, key, &grew);
    if (r != AVIERR_OK) return r;
    total += grew;
    if (plSampWritten) *plSampWritten = static_cast<int32_t>(samples);
    if (plBytesWritten) *plBytesWritten = static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX));
    return AVIERR_OK;
}

bool AviFileStillLinked(PAVIFILE pfile) {
    struct stat st;
    return pfile && pfile->refs > 0 && pfile->writer && fstat(pfile->fd, &st) == 0 && st.st_nlink > 0;
}

const char* AviFileFailure(PAVIFILE pfile) { return pfile && pfile->refs > 0 ? pfile->failure.c_str() : ""; }

bool AviWriterFinish(AviFile* file) {
    AviWriter* w = file->writer;
    bool complete = false;
    // A file that never saw data still gets its headers.
    if (!w->started && !w->failed) Start(file);
    if (w->started) {
        // Whatever a failed write left past the last good chunk goes; should that
        // fail too, the index written over it still follows the last good chunk.
        if (w->failed) Truncate(file->fd, w->end);
        const uint64_t idx1At = w->end;
        uint32_t head[2] = {Fcc("idx1"), static_cast<uint32_t>(w->index.size())};
        struct iovec iov[2] = {{head, sizeof head}, {w->index.data(), w->index.size()}};
        if (WriteAllAt(file->fd, iov, 2, idx1At)) {
            const uint64_t end = idx1At + 8 + w->index.size();
            const std::vector<uint8_t> headers = BuildHeaders(file, true, end, idx1At);
            complete = headers.size() == w->headerBytes && WriteAt(file->fd, headers.data(), headers.size(), 0);
            Truncate(file->fd, end);
        }
        if (!complete) NoteWriteFailure(file);
    }
    delete w;
    file->writer = nullptr;
    return complete;
}

AVIRESULT AviFileComplete(PAVIFILE pfile) {
    if (!pfile || pfile->refs <= 0) return AVIERR_BADHANDLE;
    if (!pfile->writer) return AVIERR_READONLY;
    const bool failedBefore = pfile->writer->failed;
    return AviWriterFinish(pfile) && !failedBefore ? AVIERR_OK : AVIERR_FILEWRITE;
}
