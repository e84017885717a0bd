#include "tests/media/avi_fixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put64(Bytes& b, uint64_t v) {
    Put32(b, static_cast<uint32_t>(v));
    Put32(b, static_cast<uint32_t>(v >> 32));
}
void PutFcc(Bytes& b, const char* s) { b.insert(b.end(), s, s + 4); }
void Set32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Set64(Bytes& b, size_t at, uint64_t v) {
    Set32(b, at, static_cast<uint32_t>(v));
    Set32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

// Appends a chunk; returns the offset of its header.
size_t Chunk(Bytes& b, const char* id, const Bytes& body) {
    const size_t at = b.size();
    PutFcc(b, id);
    Put32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
    return at;
}

// Opens a LIST or RIFF; CloseList fills its size in.
size_t OpenList(Bytes& b, const char* kind, const char* type) {
    const size_t at = b.size();
    PutFcc(b, kind);
    Put32(b, 0);
    PutFcc(b, type);
    return at;
}
void CloseList(Bytes& b, size_t at) { Set32(b, at + 4, static_cast<uint32_t>(b.size() - at - 8)); }

std::string ChunkId(size_t stream, const char* suffix) {
    char id[5];
    std::snprintf(id, sizeof id, "%02u%.2s", static_cast<unsigned>(stream % 100), suffix);
    return id;
}

struct Placed {
    size_t stream;
    size_t chunk;
    uint64_t header;  // absolute offset of the chunk header
};

}  // namespace

Bytes BitmapFormat(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& palette) {
    Bytes b;
    Put32(b, 40);
    Put32(b, static_cast<uint32_t>(width));
    Put32(b, static_cast<uint32_t>(height));
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, compression);
    const uint32_t stride = (static_cast<uint32_t>(width) * bits / 8 + 3) & ~3u;
    Put32(b, stride * static_cast<uint32_t>(height < 0 ? -height : height));
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, static_cast<uint32_t>(palette.size() / 4));
    Put32(b, 0);
    b.insert(b.end(), palette.begin(), palette.end());
    return b;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, bool withCbSize) {
    Bytes b;
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    Put16(b, WAVE_FORMAT_PCM);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, rate * align);
    Put16(b, align);
    Put16(b, bits);
    if (withCbSize) Put16(b, 0);
    return b;
}

Bytes RgbPicture(int32_t width, int32_t height, int n) {
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    Bytes b(stride * height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * 3; ++x)
            b[y * stride + x] = static_cast<uint8_t>(x * 7 + y * 31 + n * 13 + (x * y) % 5);
    return b;
}

Bytes BuildAvi(const FixtureFile& f) {
    Bytes b;
    const size_t riff = OpenList(b, "RIFF", "AVI ");
    const size_t hdrl = OpenList(b, "LIST", "hdrl");
    {
        Bytes avih;
        Put32(avih, 40000);
        Put32(avih, 0);
        Put32(avih, 0);
        Put32(avih, f.index == FixtureIndex::None ? 0 : AVIFILEINFO_HASINDEX);
        Put32(avih, f.streams.empty() ? 0 : static_cast<uint32_t>(f.streams[0].chunks.size()));
        Put32(avih, 0);
        Put32(avih, static_cast<uint32_t>(f.streams.size()));
        Put32(avih, 0);
        Put32(avih, f.width);
        Put32(avih, f.height);
        for (int i = 0; i < 4; ++i) Put32(avih, 0);
        Chunk(b, "avih", avih);
    }
    std::vector<size_t> superIndex(f.streams.size());
    const bool odml = f.index == FixtureIndex::OpenDml;
    const size_t forms = odml && f.extensionFrom != SIZE_MAX ? 2 : 1;
    for (size_t s = 0; s < f.streams.size(); ++s) {
        const FixtureStream& st = f.streams[s];
        const size_t strl = OpenList(b, "LIST", "strl");
        Bytes strh;
        Put32(strh, st.type);
        Put32(strh, st.handler);
        Put32(strh, 0);
        Put16(strh, 0);
        Put16(strh, 0);
        Put32(strh, 0);
        Put32(strh, st.scale);
        Put32(strh, st.rate);
        Put32(strh, st.start);
        Put32(strh, st.length);
        Put32(strh, st.suggestedBuffer);
        Put32(strh, 0xffffffffu);
        Put32(strh, st.sampleSize);
        for (int i = 0; i < 4; ++i) Put16(strh, static_cast<uint16_t>(st.frame[i]));
        strh.resize(std::min<size_t>(strh.size(), st.strhSize));
        Chunk(b, "strh", strh);
        Chunk(b, "strf", st.format);
        if (odml) {
            Bytes indx;
            Put16(indx, 4);
            indx.push_back(0);
            indx.push_back(0);  // index of indexes
            Put32(indx, static_cast<uint32_t>(forms));
            PutFcc(indx, ChunkId(s, st.suffix).c_str());
            for (int i = 0; i < 3; ++i) Put32(indx, 0);
            for (size_t i = 0; i < forms; ++i) {
                Put64(indx, 0);
                Put32(indx, 0);
                Put32(indx, 0);
            }
            superIndex[s] = Chunk(b, "indx", indx) + 8;
        }
        if (!st.name.empty()) {
            Bytes name(st.name.begin(), st.name.end());
            name.push_back(0);
            Chunk(b, "strn", name);
        }
        CloseList(b, strl);
    }
    CloseList(b, hdrl);

    size_t rounds = 0;
    for (const auto& st : f.streams) rounds = std::max(rounds, st.chunks.size());
    std::vector<Placed> placed;
    size_t moviFourcc = 0;

    auto writeIx = [&](size_t form, const std::vector<Placed>& inForm) {
        for (size_t s = 0; s < f.streams.size(); ++s) {
            Bytes ix;
            std::vector<Placed> mine;
            for (const auto& p : inForm)
                if (p.stream == s) mine.push_back(p);
            const uint64_t base = inForm.empty() ? 0 : inForm.front().header;
            Put16(ix, 2);
            ix.push_back(0);
            ix.push_back(1);  // index of chunks
            Put32(ix, static_cast<uint32_t>(mine.size()));
            PutFcc(ix, ChunkId(s, f.streams[s].suffix).c_str());
            Put64(ix, base);
            Put32(ix, 0);
            for (const auto& p : mine) {
                const FixtureStream& st = f.streams[s];
                const bool key = p.chunk >= st.keys.size() || st.keys[p.chunk];
                Put32(ix, static_cast<uint32_t>(p.header + 8 - base));
                Put32(ix, static_cast<uint32_t>(st.chunks[p.chunk].size()) | (key ? 0 : 0x80000000u));
            }
            char id[5];
            std::snprintf(id, sizeof id, "ix%02u", static_cast<unsigned>(s % 100));
            const size_t at = Chunk(b, id, ix);
            Set64(b, superIndex[s] + 24 + form * 16, at);
            Set32(b, superIndex[s] + 24 + form * 16 + 8, static_cast<uint32_t>(ix.size() + 8));
            Set32(b, superIndex[s] + 24 + form * 16 + 12, static_cast<uint32_t>(mine.size()));
        }
    };

    auto writeMovi = [&](size_t from, size_t to, size_t form) {
        const size_t movi = OpenList(b, "LIST", "movi");
        if (form == 0) moviFourcc = movi + 8;
        std::vector<Placed> inForm;
        for (size_t r = from; r < to; ++r) {
            size_t rec = 0;
            if (f.recLists) rec = OpenList(b, "LIST", "rec ");
            for (size_t s = 0; s < f.streams.size(); ++s) {
                const FixtureStream& st = f.streams[s];
                if (r >= st.chunks.size()) continue;
                const size_t at = Chunk(b, ChunkId(s, st.suffix).c_str(), st.chunks[r]);
                placed.push_back({s, r, at});
                inForm.push_back({s, r, at});
            }
            if (f.recLists) CloseList(b, rec);
        }
        if (odml) writeIx(form, inForm);
        CloseList(b, movi);
    };

    const size_t split = forms == 2 ? std::min(f.extensionFrom, rounds) : rounds;
    writeMovi(0, split, 0);
    if (f.index == FixtureIndex::Relative || f.index == FixtureIndex::Absolute || odml) {
        Bytes idx;
        for (const auto& p : placed) {
            const FixtureStream& st = f.streams[p.stream];
            const bool key = p.chunk >= st.keys.size() || st.keys[p.chunk];
            PutFcc(idx, ChunkId(p.stream, st.suffix).c_str());
            Put32(idx, key ? AVIIF_KEYFRAME : 0);
            Put32(idx, static_cast<uint32_t>(f.index == FixtureIndex::Absolute ? p.header : p.header - moviFourcc));
            Put32(idx, static_cast<uint32_t>(st.chunks[p.chunk].size()));
        }
        Chunk(b, "idx1", idx);
    }
    CloseList(b, riff);
    if (forms == 2) {
        const size_t avix = OpenList(b, "RIFF", "AVIX");
        writeMovi(split, rounds, 1);
        CloseList(b, avix);
    }
    return b;
}

std::string TempDir() {
    // A plain buffer: the clean-up at exit must not outlive a string's destructor.
    static char dir[64] = "";
    if (!dir[0]) {
        std::snprintf(dir, sizeof dir, "/tmp/tavrick-media-XXXXXX");
        if (!mkdtemp(dir)) std::snprintf(dir, sizeof dir, "/tmp");
        std::atexit([] {
            std::error_code ec;
            if (std::strcmp(dir, "/tmp") != 0) std::filesystem::remove_all(dir, ec);
        });
    }
    return dir;
}

std::string WriteFile(const std::string& name, const Bytes& data) {
    const std::string path = TempDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return path;
}

Bytes ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool RunFfmpeg(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool HaveFfmpeg() {
    static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return have;
}

Bytes FfmpegBgr(const std::string& path) {
    const std::string out = path + ".bgr";
    if (!RunFfmpeg("-i '" + path + "' -map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt bgr24 '" + out + "'"))
        return {};
    return ReadWholeFile(out);
}

Bytes ToTopDownPacked(const uint8_t* pixels, int32_t width, int32_t height) {
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    Bytes out;
    out.reserve(static_cast<size_t>(width) * 3 * height);
    for (int32_t row = height - 1; row >= 0; --row)
        out.insert(out.end(), pixels + row * stride, pixels + row * stride + width * 3);
    return out;
}

bool IsKnownStatus(AVIRESULT r) {
    return r == AVIERR_OK ||
           (static_cast<uint32_t>(r) >= 0x80044000u + 101 && static_cast<uint32_t>(r) <= 0x80044000u + 199);
}

std::vector<AVIRESULT> ExerciseFile(const std::string& path) {
    std::vector<AVIRESULT> seen;
    PAVIFILE file = nullptr;
    AVIRESULT r = AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr);
    seen.push_back(r);
    if (r != AVIERR_OK) return seen;
    AVIFILEINFOA fi;
    seen.push_back(AVIFileInfoA(file, &fi, sizeof fi));
    for (uint32_t type : {streamtypeVIDEO, streamtypeAUDIO}) {
        PAVISTREAM s = nullptr;
        r = AVIFileGetStream(file, &s, type, 0);
        seen.push_back(r);
        if (!s) continue;
        AVISTREAMINFOA si;
        seen.push_back(AVIStreamInfoA(s, &si, sizeof si));
        uint8_t format[64];
        int32_t size = 18;
        seen.push_back(AVIStreamReadFormat(s, 0, format, &size));
        static uint8_t buffer[1 << 16];
        int32_t bytes = 0, samples = 0;
        const int32_t start = static_cast<int32_t>(si.dwStart);
        const int32_t length = static_cast<int32_t>(std::min<uint32_t>(si.dwLength, 1u << 20));
        // Callers form positions from dwStart in 32 bits; a hostile start must not
        // make the test itself overflow.
        auto at = [&](int64_t offset) {
            return static_cast<int32_t>(std::clamp<int64_t>(int64_t{start} + offset, INT32_MIN, INT32_MAX));
        };
        for (int32_t pos : {at(0), at(1), at(length / 2), at(int64_t{length} - 1), at(length), at(-1)})
            seen.push_back(AVIStreamRead(s, pos, 4096, buffer, sizeof buffer, &bytes, &samples));
        if (type == streamtypeVIDEO) {
            BITMAPINFOHEADER want{};
            want.biSize = 40;
            want.biWidth = static_cast<int32_t>(std::min<uint32_t>(fi.dwWidth, 4096));
            want.biHeight = static_cast<int32_t>(std::min<uint32_t>(fi.dwHeight, 4096));
            want.biPlanes = 1;
            want.biBitCount = 24;
            if (PGETFRAME g = AVIStreamGetFrameOpen(s, &want)) {
                const int32_t frames = std::min(length, 64);
                for (int32_t i = 0; i < frames; ++i) AVIStreamGetFrame(g, at(i));
                for (int32_t pos : {at(frames / 2), at(0), at(int64_t{length} + 3), at(-1)}) AVIStreamGetFrame(g, pos);
                seen.push_back(AVIStreamGetFrameClose(g));
            }
        }
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return seen;
}
