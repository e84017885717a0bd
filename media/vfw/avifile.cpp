// Reading AVI files: RIFF 'AVI ' with idx1 (offsets relative to 'movi' or
// absolute), OpenDML ('indx', 'ix##', 'AVIX'), and files without an index.
// Every size, count and offset taken from the file is checked against the file
// before it is used; a hostile file gives a status, never a wild read.
#include "media/vfw/avifile.h"
#include "media/vfw/aviwriter.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little,
              "the records are read and written in the machine's byte order");

namespace {

std::atomic<int32_t> initCount{0};

constexpr uint32_t Fcc(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

constexpr uint32_t kRiff = Fcc("RIFF");
constexpr uint32_t kList = Fcc("LIST");
constexpr uint32_t kAvi = Fcc("AVI ");
constexpr uint32_t kAvix = Fcc("AVIX");
constexpr uint32_t kHdrl = Fcc("hdrl");
constexpr uint32_t kAvih = Fcc("avih");
constexpr uint32_t kStrl = Fcc("strl");
constexpr uint32_t kStrh = Fcc("strh");
constexpr uint32_t kStrf = Fcc("strf");
constexpr uint32_t kStrn = Fcc("strn");
constexpr uint32_t kIndx = Fcc("indx");
constexpr uint32_t kMovi = Fcc("movi");
constexpr uint32_t kIdx1 = Fcc("idx1");
constexpr uint32_t kRec = Fcc("rec ");

// A stream number is two decimal digits; 100 streams is the most ids can name.
constexpr size_t kMaxStreams = 100;
// Header lists are small; anything beyond this is not a header we can use.
constexpr uint64_t kMaxHeaderList = 16u << 20;
constexpr int kMaxRecDepth = 4;

uint32_t Le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t Le16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint64_t Le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Stream number of a chunk id such as "01wb", or -1.
int StreamNumberOf(uint32_t id) {
    const int a = static_cast<int>(id & 0xff) - '0';
    const int b = static_cast<int>((id >> 8) & 0xff) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9) return -1;
    return a * 10 + b;
}

bool IsPaletteChange(uint32_t id) { return ((id >> 16) & 0xffff) == ('p' | ('c' << 8)); }

// Small reads through one cached block, so scanning a file chunk by chunk
// doesn't cost a system call per header.
struct BlockReader {
    const AviFile* file = nullptr;
    uint64_t base = 0;
    size_t length = 0;
    std::vector<uint8_t> block;

    static constexpr size_t kBlock = 64 * 1024;

    bool Read(uint64_t offset, void* out, size_t n) {
        if (offset > file->fileSize || n > file->fileSize - offset) return false;
        if (n > kBlock) return AviReadAt(file, offset, out, n);
        if (offset < base || offset + n > base + length) {
            block.resize(kBlock);
            base = offset;
            length = static_cast<size_t>(std::min<uint64_t>(kBlock, file->fileSize - offset));
            if (!AviReadAt(file, base, block.data(), length)) {
                length = 0;
                return false;
            }
        }
        std::memcpy(out, block.data() + (offset - base), n);
        return true;
    }

    bool Read32(uint64_t offset, uint32_t* v) {
        uint8_t b[4];
        if (!Read(offset, b, 4)) return false;
        *v = Le32(b);
        return true;
    }
};

struct MoviList {
    uint64_t fourccPos;  // where 'movi' stands: the base of relative idx1 offsets
    uint64_t end;
    bool cut;  // its size runs past the end of the file
};

struct Parse {
    AviFile* file = nullptr;
    BlockReader reader;
    bool gotHeaders = false;
    std::vector<MoviList> movis;
    bool haveIdx1 = false;
    uint64_t idx1Pos = 0;
    uint64_t idx1Size = 0;
    bool idx1Cut = false;                    // its size runs past the end of the file
    std::vector<std::vector<uint8_t>> indx;  // per stream, as stored
    uint64_t entryBudget = 0;                // index entries the file can justify
};

// Walks the chunks of an in-memory list body, calling f(id, data, size). A
// chunk whose size runs past the list is cut at the list's end.
template <typename F>
void ForEachChunk(const uint8_t* data, size_t size, F&& f) {
    size_t pos = 0;
    while (size - pos >= 8) {
        const uint32_t id = Le32(data + pos);
        const uint64_t claimed = Le32(data + pos + 4);
        const size_t avail = size - pos - 8;
        const size_t len = static_cast<size_t>(std::min<uint64_t>(claimed, avail));
        f(id, data + pos + 8, len);
        const uint64_t next = pos + 8 + claimed + (claimed & 1);
        if (next >= size) break;
        pos = static_cast<size_t>(next);
    }
}

void ParseStreamList(Parse& p, const uint8_t* data, size_t size) {
    AviFile* file = p.file;
    if (file->streams.size() >= kMaxStreams) return;
    bool haveHeader = false;
    AviStreamHeader header{};
    std::vector<uint8_t> format, indx;
    std::string name;
    ForEachChunk(data, size, [&](uint32_t id, const uint8_t* body, size_t len) {
        if (id == kStrh && !haveHeader) {
            haveHeader = true;
            std::memcpy(&header, body, std::min(len, sizeof header));
        } else if (id == kStrf && format.empty()) {
            format.assign(body, body + len);
        } else if (id == kStrn && name.empty()) {
            name.assign(reinterpret_cast<const char*>(body), strnlen(reinterpret_cast<const char*>(body), len));
        } else if (id == kIndx && indx.empty()) {
            indx.assign(body, body + len);
        }
    });
    if (!haveHeader) return;
    auto* s = new AviStream{};
    s->file = file;
    s->refs = 0;
    s->number = static_cast<uint32_t>(file->streams.size());
    s->header = header;
    s->format = std::move(format);
    s->name = std::move(name);
    file->streams.push_back(s);
    p.indx.push_back(std::move(indx));
}

void ParseHeaderList(Parse& p, const uint8_t* data, size_t size) {
    ForEachChunk(data, size, [&](uint32_t id, const uint8_t* body, size_t len) {
        if (id == kAvih) {
            std::memcpy(&p.file->mainHeader, body, std::min(len, sizeof p.file->mainHeader));
        } else if (id == kList && len >= 4 && Le32(body) == kStrl) {
            ParseStreamList(p, body + 4, len - 4);
        }
    });
}

// Walks the top-level chunks of one RIFF form between start and end.
bool WalkRiff(Parse& p, uint64_t start, uint64_t end, bool first) {
    uint64_t pos = start;
    while (pos + 8 <= end) {
        uint32_t id, size;
        if (!p.reader.Read32(pos, &id) || !p.reader.Read32(pos + 4, &size)) return false;
        const uint64_t dataStart = pos + 8;
        const uint64_t dataEnd = std::min<uint64_t>(dataStart + size, end);
        uint32_t type = 0;
        if (id == kList && size < 4 && p.reader.Read32(dataStart, &type) && type == kMovi) {
            // An unfinished recording may leave the size of 'movi' at 0 with its
            // chunks after it: a list of nothing, which a scan may extend.
            p.movis.push_back({dataStart, dataStart + 4, false});
            pos = dataStart + 4;
            continue;
        }
        if (id == kList && dataEnd - dataStart >= 4) {
            uint32_t type;
            if (!p.reader.Read32(dataStart, &type)) return false;
            if (type == kHdrl && first && !p.gotHeaders) {
                const uint64_t len = dataEnd - dataStart - 4;
                if (len > kMaxHeaderList) return false;
                std::vector<uint8_t> body(static_cast<size_t>(len));
                if (!AviReadAt(p.file, dataStart + 4, body.data(), body.size())) return false;
                ParseHeaderList(p, body.data(), body.size());
                p.gotHeaders = true;
            } else if (type == kMovi) {
                p.movis.push_back({dataStart, dataEnd, dataStart + size > p.file->fileSize});
            }
        } else if (id == kIdx1 && first && !p.haveIdx1) {
            p.haveIdx1 = true;
            p.idx1Pos = dataStart;
            p.idx1Size = dataEnd - dataStart;
            p.idx1Cut = dataStart + size > p.file->fileSize;
        }
        pos = dataStart + size + (size & 1);
    }
    return true;
}

bool AddEntry(Parse& p, AviStream* s, uint64_t offset, uint32_t size, bool key) {
    if (p.entryBudget == 0) return false;
    --p.entryBudget;
    s->entries.push_back({offset, size, key ? kAviEntryKey : 0u});
    return true;
}

// One 'ix##' standard index: entries relative to its base offset, the top bit
// of a size marking a delta frame.
bool ReadStandardIndex(Parse& p, AviStream* s, const uint8_t* body, size_t len) {
    if (len < 24) return false;
    const uint16_t longsPerEntry = Le16(body);
    const uint8_t type = body[3];
    const uint32_t inUse = Le32(body + 4);
    const uint64_t baseOffset = Le64(body + 12);
    if (type != 1 || longsPerEntry < 2) return false;
    // A base outside the file (a wrapping one included) makes every entry a
    // lie: another index, or a scan, serves better.
    if (baseOffset >= p.file->fileSize) return false;
    const size_t stride = size_t{longsPerEntry} * 4;
    const uint64_t count = std::min<uint64_t>(inUse, (len - 24) / stride);
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* e = body + 24 + i * stride;
        const uint32_t offset = Le32(e);
        const uint32_t raw = Le32(e + 4);
        if (!AddEntry(p, s, baseOffset + offset, raw & 0x7fffffffu, (raw & 0x80000000u) == 0)) return false;
    }
    return true;
}

// An 'indx' super index names the 'ix##' chunks; a few writers put a standard
// index there directly.
bool ReadOpenDmlIndex(Parse& p, AviStream* s, const std::vector<uint8_t>& indx) {
    if (indx.size() < 24) return false;
    const uint16_t longsPerEntry = Le16(indx.data());
    const uint8_t type = indx[3];
    if (type == 1) return ReadStandardIndex(p, s, indx.data(), indx.size());
    if (type != 0 || longsPerEntry < 4) return false;
    const uint32_t inUse = Le32(indx.data() + 4);
    const size_t stride = size_t{longsPerEntry} * 4;
    const uint64_t count = std::min<uint64_t>(inUse, (indx.size() - 24) / stride);
    std::vector<uint8_t> chunk;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* e = indx.data() + 24 + i * stride;
        const uint64_t at = Le64(e);
        // A cut-off file lost the index of its last part with the part's end:
        // what is left of that part is found by a scan.
        if (at >= p.file->fileSize - std::min<uint64_t>(p.file->fileSize, 8)) break;
        uint32_t id, size;
        if (!p.reader.Read32(at, &id) || !p.reader.Read32(at + 4, &size)) return false;
        if ((id & 0xffff) != ('i' | ('x' << 8)) && id != kIndx) return false;
        const uint64_t avail = p.file->fileSize - (at + 8);
        // Eight file bytes per entry at the least, so the budget bounds this too.
        if (size > avail || size / 8 > p.entryBudget + 8) return false;
        chunk.resize(size);
        if (!AviReadAt(p.file, at + 8, chunk.data(), size)) return false;
        if (!ReadStandardIndex(p, s, chunk.data(), chunk.size())) return false;
    }
    return !s->entries.empty();
}

// idx1 offsets point at chunk headers, relative to the 'movi' fourcc or
// absolute; the first entry that names a stream tells which by what it finds.
bool ReadIdx1(Parse& p, const std::vector<bool>& wanted) {
    if (p.movis.empty()) return false;
    const uint64_t count = p.idx1Size / 16;
    bool decided = false;
    uint64_t base = 0;
    size_t added = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t e[16];
        if (!p.reader.Read(p.idx1Pos + i * 16, e, 16)) return false;
        const uint32_t id = Le32(e);
        const uint32_t flags = Le32(e + 4);
        const uint32_t offset = Le32(e + 8);
        const uint32_t size = Le32(e + 12);
        const int number = StreamNumberOf(id);
        if (number < 0 || (flags & AVIIF_LIST) || IsPaletteChange(id)) continue;
        if (!decided) {
            const uint64_t candidates[] = {p.movis.front().fourccPos, 0};
            for (uint64_t c : candidates) {
                uint32_t found;
                if (p.reader.Read32(c + offset, &found) && found == id) {
                    base = c;
                    decided = true;
                    break;
                }
            }
            if (!decided) return false;
        }
        if (static_cast<size_t>(number) >= wanted.size() || !wanted[number]) continue;
        if (!AddEntry(p, p.file->streams[number], base + offset + 8, size, (flags & AVIIF_KEYFRAME) != 0)) return false;
        ++added;
    }
    return decided && added > 0;
}

// Chunks of the wanted streams between start and end, in file order. With
// `after`, a stream takes only chunks past the last one its index named.
// With `tail`, the walk goes on past end while it meets a stream's chunks
// (and what 'movi' holds besides: 'rec ' lists, 'ix##', 'JUNK'): a list whose
// size was never written at the end of a recording. Returns where it stopped.
uint64_t ScanList(Parse& p, uint64_t start, uint64_t end, int depth, const std::vector<bool>& wanted,
                  const std::vector<uint64_t>* after = nullptr, bool tail = false) {
    uint64_t pos = start;
    while (pos + 8 <= (tail ? p.file->fileSize : end)) {
        uint32_t id, size;
        if (!p.reader.Read32(pos, &id) || !p.reader.Read32(pos + 4, &size)) break;
        const int number = StreamNumberOf(id);
        if (id == kList) {
            uint32_t type;
            const bool rec = size >= 4 && p.reader.Read32(pos + 8, &type) && type == kRec;
            if (pos >= end && !rec) break;
            if (rec && depth < kMaxRecDepth)
                ScanList(p, pos + 12, std::min<uint64_t>(pos + 8 + size, tail ? p.file->fileSize : end), depth + 1,
                         wanted, after);
        } else if (number >= 0) {
            if (static_cast<size_t>(number) < wanted.size() && wanted[number] && !IsPaletteChange(id) &&
                (!after || pos + 8 > (*after)[number])) {
                if (!AddEntry(p, p.file->streams[number], pos + 8, size, false)) break;
            }
        } else if (pos >= end && id != Fcc("JUNK") && (id & 0xffff) != ('i' | ('x' << 8))) {
            break;
        }
        pos += 8 + uint64_t{size} + (size & 1);
    }
    return pos;
}

// Entries whose data lies outside the file: dropped at the end (a cut-off
// file), kept as empty bad positions inside so later frames keep their place.
void FinishStream(AviStream* s, uint64_t fileSize) {
    auto& e = s->entries;
    for (auto& x : e) {
        if (x.offset < 8 || x.offset > fileSize || x.size > fileSize - x.offset) {
            x.flags = kAviEntryBad;
            x.size = 0;
        }
    }
    while (!e.empty() && (e.back().flags & kAviEntryBad)) e.pop_back();
    e.shrink_to_fit();

    s->sampleSize = 0;
    if (s->header.fccType == streamtypeAUDIO) {
        s->sampleSize = s->header.dwSampleSize;
        if (s->sampleSize == 0 && s->format.size() >= 16 && Le16(s->format.data()) == WAVE_FORMAT_PCM)
            s->sampleSize = Le16(s->format.data() + 12);
    }
    s->largestChunk = 0;
    for (const auto& x : e) s->largestChunk = std::max(s->largestChunk, x.size);
    if (s->sampleSize > 0) {
        s->byteStarts.resize(e.size() + 1);
        uint64_t total = 0;
        for (size_t i = 0; i < e.size(); ++i) {
            s->byteStarts[i] = total;
            total += e[i].size;
        }
        s->byteStarts[e.size()] = total;
    }
}

AVIRESULT ParseFile(AviFile* file) {
    Parse p;
    p.file = file;
    p.reader.file = file;
    uint8_t head[12];
    if (!p.reader.Read(0, head, 12)) return AVIERR_BADFORMAT;
    if (Le32(head) != kRiff || Le32(head + 8) != kAvi) return AVIERR_BADFORMAT;
    const uint32_t riffSize = Le32(head + 4);
    uint64_t end = 8 + uint64_t{riffSize};
    if (riffSize < 4 || end > file->fileSize) end = file->fileSize;
    if (!WalkRiff(p, 12, end, true)) return AVIERR_FILEREAD;
    if (p.movis.empty() && end + (end & 1) < file->fileSize) {
        // A size that stops short of 'movi' (a recording never finished): the
        // lists that follow are still this form's.
        if (!WalkRiff(p, end + (end & 1), file->fileSize, true)) return AVIERR_FILEREAD;
        end = file->fileSize;
    }
    if (!p.gotHeaders) return AVIERR_BADFORMAT;

    // OpenDML extension forms follow the first one.
    uint64_t pos = end + (end & 1);
    while (pos + 12 <= file->fileSize) {
        uint8_t h[12];
        if (!p.reader.Read(pos, h, 12) || Le32(h) != kRiff || Le32(h + 8) != kAvix) break;
        const uint32_t size = Le32(h + 4);
        uint64_t formEnd = pos + 8 + uint64_t{size};
        if (size < 4 || formEnd > file->fileSize) formEnd = file->fileSize;
        if (!WalkRiff(p, pos + 12, formEnd, false)) break;
        pos = formEnd + (formEnd & 1);
    }

    p.entryBudget = file->fileSize / 8 + 16;
    const size_t n = file->streams.size();
    std::vector<bool> pending(n, true);
    bool anyPending = false;
    bool ownIndex = false;
    for (size_t i = 0; i < n; ++i) {
        if (!p.indx[i].empty() && ReadOpenDmlIndex(p, file->streams[i], p.indx[i])) {
            pending[i] = false;
            ownIndex = true;
        } else {
            file->streams[i]->entries.clear();
            anyPending = true;
        }
    }
    if (anyPending && p.haveIdx1) {
        if (ReadIdx1(p, pending)) {
            ownIndex = true;
            std::fill(pending.begin(), pending.end(), false);
        } else {
            for (size_t i = 0; i < n; ++i)
                if (pending[i]) file->streams[i]->entries.clear();
        }
    }
    if (std::find(pending.begin(), pending.end(), true) != pending.end() && !p.movis.empty()) {
        std::vector<size_t> before(n);
        for (size_t i = 0; i < n; ++i) before[i] = file->streams[i]->entries.size();
        for (size_t k = 0; k + 1 < p.movis.size(); ++k)
            ScanList(p, p.movis[k].fourccPos + 4, p.movis[k].end, 0, pending);
        // The last list may go on past its stated size (a recording that was
        // never finished) or past the end of the file (one cut off).
        const MoviList& last = p.movis.back();
        ScanList(p, last.fourccPos + 4, last.end, 0, pending, nullptr, true);
        // Recovered: chunks past the stated end, or a list the file cuts off.
        for (size_t i = 0; i < n; ++i) {
            const auto& e = file->streams[i]->entries;
            if (e.size() > before[i] && (last.cut || e.back().offset > last.end)) file->recoveredByScan = true;
        }
    }
    if (ownIndex && !p.movis.empty() && (p.movis.back().cut || p.idx1Cut)) {
        // A cut-off last part whose index went with its end (or an idx1 cut
        // short): its chunks past the last one an index named are read as a
        // scan finds them.
        std::vector<bool> indexed(n);
        std::vector<uint64_t> lastNamed(n, 0);
        for (size_t i = 0; i < n; ++i) {
            const auto& e = file->streams[i]->entries;
            indexed[i] = !pending[i] && !e.empty();
            if (indexed[i]) lastNamed[i] = e.back().offset;
        }
        std::vector<size_t> before(n);
        for (size_t i = 0; i < n; ++i) before[i] = file->streams[i]->entries.size();
        const MoviList& last = p.movis.back();
        ScanList(p, last.fourccPos + 4, last.end, 0, indexed, &lastNamed);
        for (size_t i = 0; i < n; ++i)
            file->recoveredByScan = file->recoveredByScan || file->streams[i]->entries.size() > before[i];
    }
    file->hasIndex = ownIndex;
    for (auto* s : file->streams) FinishStream(s, file->fileSize);
    return AVIERR_OK;
}

void DestroyFile(AviFile* file) {
    for (auto* s : file->streams) delete s;
    if (file->fd >= 0) close(file->fd);
    delete file;
}

uint32_t ClampToU32(uint64_t v) { return v > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(v); }

const AviStream* FirstVideo(const AviFile* file) {
    for (const auto* s : file->streams)
        if (s->header.fccType == streamtypeVIDEO) return s;
    return nullptr;
}

}  // namespace

bool AviReadAt(const AviFile* file, uint64_t offset, void* buffer, size_t n) {
    if (offset > file->fileSize || n > file->fileSize - offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(file->fd, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool AviFileRecoveredByScan(PAVIFILE pfile) { return pfile && pfile->recoveredByScan; }

uint64_t AviIndexedLength(const AviStream* stream) {
    if (stream->sampleSize > 0) return stream->byteStarts.empty() ? 0 : stream->byteStarts.back() / stream->sampleSize;
    return stream->entries.size();
}

bool AviBitmapFormat(const AviStream* stream, BITMAPINFOHEADER* out) {
    if (stream->format.size() < sizeof(BITMAPINFOHEADER)) return false;
    std::memcpy(out, stream->format.data(), sizeof *out);
    return true;
}

void AVIFileInit() { ++initCount; }

void AVIFileExit() {
    int32_t n = initCount.load();
    while (n > 0 && !initCount.compare_exchange_weak(n, n - 1)) {
    }
}

int32_t AVIFileInitCount() { return initCount.load(); }

AVIRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, uint32_t uMode, const void* /*lpHandler*/) {
    if (!ppfile) return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile) return AVIERR_BADPARAM;
    if (uMode & (OF_WRITE | OF_READWRITE | OF_CREATE)) return AviWriterOpen(ppfile, szFile, uMode);

    // Non-blocking so that a FIFO can't hang the open; it is refused below.
    const int fd = open(szFile, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return AVIERR_FILEOPEN;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return AVIERR_FILEOPEN;
    }
    // Shared: other readers are welcome, a writer (another run's destination) is not.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        close(fd);
        return AVIERR_FILEOPEN;
    }
    AviFile* file = new (std::nothrow) AviFile{};
    if (!file) {
        close(fd);
        return AVIERR_MEMORY;
    }
    file->refs = 1;
    file->fd = fd;
    file->fileSize = static_cast<uint64_t>(st.st_size);
    AVIRESULT status;
    try {
        status = ParseFile(file);
    } catch (const std::bad_alloc&) {
        status = AVIERR_MEMORY;
    } catch (const std::length_error&) {
        status = AVIERR_MEMORY;
    }
    if (status != AVIERR_OK) {
        DestroyFile(file);
        return status;
    }
    *ppfile = file;
    return AVIERR_OK;
}

AVIRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam) {
    if (!ppavi) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!pfile) return AVIERR_BADHANDLE;
    if (lParam < 0) return AVIERR_NODATA;
    int32_t seen = 0;
    for (auto* s : pfile->streams) {
        if (fccType != 0 && s->header.fccType != fccType) continue;
        if (seen++ == lParam) {
            ++s->refs;
            ++pfile->refs;
            *ppavi = s;
            return AVIERR_OK;
        }
    }
    return AVIERR_NODATA;
}

AVIRESULT AVIFileInfoA(PAVIFILE pfile, AVIFILEINFOA* pfi, int32_t lSize) {
    if (!pfile) return AVIERR_BADHANDLE;
    if (!pfi || lSize < 0) return AVIERR_BADPARAM;
    const AviMainHeader& mh = pfile->mainHeader;
    AVIFILEINFOA info{};
    info.dwMaxBytesPerSec = mh.dwMaxBytesPerSec;
    info.dwFlags = mh.dwFlags & (AVIFILEINFO_HASINDEX | AVIFILEINFO_MUSTUSEINDEX | AVIFILEINFO_ISINTERLEAVED |
                                 AVIFILEINFO_WASCAPTUREFILE | AVIFILEINFO_COPYRIGHTED);
    if (pfile->hasIndex) info.dwFlags |= AVIFILEINFO_HASINDEX;
    info.dwCaps = AVIFILECAPS_CANREAD;
    info.dwStreams = static_cast<uint32_t>(pfile->streams.size());
    info.dwSuggestedBufferSize = mh.dwSuggestedBufferSize;
    for (const auto* s : pfile->streams)
        info.dwSuggestedBufferSize = std::max(info.dwSuggestedBufferSize, s->largestChunk);
    info.dwWidth = mh.dwWidth;
    info.dwHeight = mh.dwHeight;
    info.dwScale = mh.dwMicroSecPerFrame;
    info.dwRate = 1000000;
    info.dwLength = mh.dwTotalFrames;
    if (const AviStream* v = FirstVideo(pfile)) {
        const int16_t* rc = v->header.rcFrame;
        const int32_t w = int32_t{rc[2]} - rc[0];
        const int32_t h = int32_t{rc[3]} - rc[1];
        BITMAPINFOHEADER bi;
        const bool bitmap = AviBitmapFormat(v, &bi);
        const int64_t bitmapH = bitmap ? (bi.biHeight < 0 ? -int64_t{bi.biHeight} : int64_t{bi.biHeight}) : 0;
        // The rectangle may show part of the picture, never more than it has.
        if (w > 0 && h > 0 && (!bitmap || (w <= bi.biWidth && h <= bitmapH))) {
            info.dwWidth = static_cast<uint32_t>(w);
            info.dwHeight = static_cast<uint32_t>(h);
        } else if (bitmap) {
            info.dwWidth = static_cast<uint32_t>(bi.biWidth < 0 ? 0 : bi.biWidth);
            info.dwHeight =
                bi.biHeight == INT32_MIN ? 0u : static_cast<uint32_t>(bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
        } else {
            info.dwWidth = info.dwHeight = 0;
        }
        info.dwScale = v->header.dwScale;
        info.dwRate = v->header.dwRate;
        info.dwLength = pfile->writer ? v->header.dwLength : ClampToU32(AviIndexedLength(v));
        bool allKey = !v->entries.empty();
        for (const auto& e : v->entries) allKey = allKey && (e.flags & kAviEntryKey);
        if (allKey) info.dwCaps |= AVIFILECAPS_ALLKEYFRAMES;
        if (AviBitmapFormat(v, &bi) && bi.biCompression == BI_RGB) info.dwCaps |= AVIFILECAPS_NOCOMPRESSION;
    }
    std::memcpy(info.szFileType, "AVI", 4);
    std::memcpy(pfi, &info, std::min<size_t>(static_cast<size_t>(lSize), sizeof info));
    return AVIERR_OK;
}

AVIRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, int32_t lSize) {
    if (!pavi) return AVIERR_BADHANDLE;
    if (!psi || lSize < 0) return AVIERR_BADPARAM;
    const AviStreamHeader& h = pavi->header;
    AVISTREAMINFOA info{};
    info.fccType = h.fccType;
    info.fccHandler = h.fccHandler;
    info.dwFlags = h.dwFlags;
    info.dwCaps = AVIFILECAPS_CANREAD;
    info.wPriority = h.wPriority;
    info.wLanguage = h.wLanguage;
    info.dwScale = h.dwScale;
    info.dwRate = h.dwRate;
    info.dwStart = h.dwStart;
    // What the file holds (its index, or a scan of its chunks), not what the
    // header claims: a claimed length is no promise of frames. A stream being
    // written counts what was written so far.
    info.dwLength = pavi->file->writer ? h.dwLength : ClampToU32(AviIndexedLength(pavi));
    info.dwInitialFrames = h.dwInitialFrames;
    info.dwSuggestedBufferSize = pavi->entries.empty() ? h.dwSuggestedBufferSize : pavi->largestChunk;
    info.dwQuality = h.dwQuality;
    info.dwSampleSize = h.dwSampleSize;
    info.rcFrame = {h.rcFrame[0], h.rcFrame[1], h.rcFrame[2], h.rcFrame[3]};
    const size_t n = std::min(pavi->name.size(), sizeof info.szName - 1);
    std::memcpy(info.szName, pavi->name.data(), n);
    std::memcpy(psi, &info, std::min<size_t>(static_cast<size_t>(lSize), sizeof info));
    return AVIERR_OK;
}

AVIRESULT AVIStreamReadFormat(PAVISTREAM pavi, int32_t /*lPos*/, void* lpFormat, int32_t* lpcbFormat) {
    if (!pavi) return AVIERR_BADHANDLE;
    if (!lpcbFormat) return AVIERR_BADPARAM;
    const size_t stored = pavi->format.size();
    if (!lpFormat) {
        *lpcbFormat = static_cast<int32_t>(stored);
        return AVIERR_OK;
    }
    if (*lpcbFormat < 0) return AVIERR_BADPARAM;
    const size_t room = static_cast<size_t>(*lpcbFormat);
    const size_t n = std::min(room, stored);
    if (n > 0) std::memcpy(lpFormat, pavi->format.data(), n);
    std::memset(static_cast<uint8_t*>(lpFormat) + n, 0, room - n);
    *lpcbFormat = static_cast<int32_t>(stored);
    return stored > room ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
}

AVIRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer, int32_t cbBuffer,
                        int32_t* plBytes, int32_t* plSamples) {
    if (plBytes) *plBytes = 0;
    if (plSamples) *plSamples = 0;
    if (!pavi) return AVIERR_BADHANDLE;
    if (lSamples < AVISTREAMREAD_CONVENIENT || cbBuffer < 0) return AVIERR_BADPARAM;
    const int64_t index = int64_t{lStart} - int64_t{pavi->header.dwStart};
    const uint64_t length = AviIndexedLength(pavi);
    if (index < 0 || static_cast<uint64_t>(index) >= length) return AVIERR_NODATA;
    const uint64_t first = static_cast<uint64_t>(index);
    const auto& entries = pavi->entries;
    const uint64_t room = lpBuffer ? static_cast<uint64_t>(cbBuffer) : UINT64_MAX;
    auto* out = static_cast<uint8_t*>(lpBuffer);

    if (pavi->sampleSize == 0) {
        // One chunk per sample; read whole chunks while they fit.
        uint64_t want = lSamples == AVISTREAMREAD_CONVENIENT ? 1 : static_cast<uint64_t>(lSamples);
        want = std::min(want, length - first);
        uint64_t bytes = 0, samples = 0;
        for (; samples < want; ++samples) {
            const AviIndexEntry& e = entries[first + samples];
            if (e.size > room - bytes) break;
            if (out && e.size && !AviReadAt(pavi->file, e.offset, out + bytes, e.size)) return AVIERR_FILEREAD;
            bytes += e.size;
            if (bytes > INT32_MAX) return AVIERR_BADSIZE;
        }
        if (samples == 0 && want > 0) return AVIERR_BUFFERTOOSMALL;
        if (plBytes) *plBytes = static_cast<int32_t>(bytes);
        if (plSamples) *plSamples = static_cast<int32_t>(samples);
        return AVIERR_OK;
    }

    const uint64_t s = pavi->sampleSize;
    const auto& starts = pavi->byteStarts;
    const uint64_t begin = first * s;
    // The chunk holding the first byte.
    size_t chunk = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), begin) - starts.begin()) - 1;
    uint64_t want;
    if (lSamples == AVISTREAMREAD_CONVENIENT) {
        want = std::max<uint64_t>(1, (starts[chunk + 1] - begin) / s);
    } else {
        want = static_cast<uint64_t>(lSamples);
    }
    want = std::min(want, length - first);
    if (lpBuffer) {
        if (want > 0 && room / s == 0) return AVIERR_BUFFERTOOSMALL;
        want = std::min(want, room / s);
    }
    const uint64_t total = want * s;
    if (total > INT32_MAX) return AVIERR_BADSIZE;
    if (out) {
        uint64_t done = 0;
        while (done < total) {
            const uint64_t at = begin + done;
            while (chunk + 1 < starts.size() && starts[chunk + 1] <= at) ++chunk;
            if (chunk >= entries.size()) return AVIERR_FILEREAD;
            const AviIndexEntry& e = entries[chunk];
            const uint64_t within = at - starts[chunk];
            const uint64_t n = std::min(total - done, uint64_t{e.size} - within);
            if (!AviReadAt(pavi->file, e.offset + within, out + done, static_cast<size_t>(n))) return AVIERR_FILEREAD;
            done += n;
        }
    }
    if (plBytes) *plBytes = static_cast<int32_t>(total);
    if (plSamples) *plSamples = static_cast<int32_t>(want);
    return AVIERR_OK;
}

uint32_t AVIStreamRelease(PAVISTREAM pavi) {
    if (!pavi || pavi->refs <= 0) return 0;
    const uint32_t left = static_cast<uint32_t>(--pavi->refs);
    AviFile* file = pavi->file;
    if (left == 0 && pavi->compressor) AviCompressorDestroy(pavi);
    AVIFileRelease(file);
    return left;
}

uint32_t AVIFileRelease(PAVIFILE pfile) {
    if (!pfile || pfile->refs <= 0) return 0;
    const int32_t left = --pfile->refs;
    if (left == 0) {
        if (pfile->writer) AviWriterFinish(pfile);
        DestroyFile(pfile);
    }
    return static_cast<uint32_t>(left);
}
