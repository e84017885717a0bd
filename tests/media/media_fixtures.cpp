#include "tests/media/media_fixtures.h"

std::string MakeSource(const std::string& name, const SourceSpec& spec) {
    FixtureFile f;
    f.width = spec.width;
    f.height = spec.height;
    if (spec.video) {
        FixtureStream v;
        v.format = BitmapFormat(spec.width, spec.height, 24, BI_RGB);
        v.length = spec.frames;
        v.frame[2] = static_cast<int16_t>(spec.width);
        v.frame[3] = static_cast<int16_t>(spec.height);
        for (int n = 0; n < spec.frames; ++n) v.chunks.push_back(RgbPicture(spec.width, spec.height, n));
        f.streams.push_back(v);
    }
    if (spec.audio) {
        FixtureStream a;
        a.type = streamtypeAUDIO;
        a.suffix = "wb";
        a.format = spec.audioFormat.empty() ? PcmFormat(2, 8000, 16, true) : spec.audioFormat;
        a.rate = 8000;
        a.sampleSize = 4;
        a.length = 320 * spec.frames;
        for (int n = 0; n < spec.frames; ++n) a.chunks.push_back(Bytes(1280, static_cast<uint8_t>(n)));
        f.streams.push_back(a);
    }
    return WriteFile(name, BuildAvi(f));
}
