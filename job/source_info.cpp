#include "job/source_info.h"

#include <cmath>
#include <cstdio>

const char emptyVideoInfoText[] = "Width:\nHeight:\nRate:\nLength (time):\nLength (frames):";
const char emptyAudioInfoText[] = "Rate:\nChannels:\nBits:\nLength (time):\nLength (frames):";

namespace {

// A double truncated toward zero into an int, 0 when it doesn't fit (a rate
// of 0 makes the length infinite).
int TruncToInt(double v) {
    if (!std::isfinite(v) || v >= 2147483648.0 || v <= -2147483649.0) return 0;
    return static_cast<int>(v);
}

}  // namespace

std::string VideoInfoText(const SourceMedia& source) {
    const AVISTREAMINFOA& v = source.videoInfo;
    // A stream without a usable rate shows a rate and a time of 0.
    const double rate = v.dwScale && v.dwRate ? static_cast<double>(v.dwRate) / static_cast<double>(v.dwScale) : 0.0;
    const double seconds = rate > 0 ? static_cast<double>(v.dwLength) / rate : 0.0;
    const int hours = TruncToInt(seconds * 0.0002777777777777778);
    // In double: a tiny rate makes hours * 3600 too large for an int.
    const int minutes = TruncToInt(seconds * 0.016666666666666666 - hours * 60.0);
    const int secs = TruncToInt(seconds - minutes * 60.0 - hours * 3600.0);
    const int ms = TruncToInt((seconds - std::trunc(seconds)) * 1000);
    char text[260];
    std::snprintf(text, sizeof text,
                  "Width: %d px\nHeight: %d px\nRate: %.3f fps\nLength (time): %dh %dm %ds %dms\nLength (frames): %d",
                  static_cast<int>(source.fileInfo.dwWidth), static_cast<int>(source.fileInfo.dwHeight), rate, hours,
                  minutes, secs, ms, static_cast<int>(v.dwLength));
    return text;
}

std::string AudioInfoText(const SourceMedia& source) {
    if (!source.hasAudio) return emptyAudioInfoText;
    const AVISTREAMINFOA& a = source.audioInfo;
    const double perSecond = a.dwScale ? static_cast<double>(a.dwRate) / static_cast<double>(a.dwScale) : 0.0;
    const std::uint32_t samplesPerSecond =
        perSecond >= 1 && perSecond < 4294967296.0 ? static_cast<std::uint32_t>(perSecond) : 0;
    if (samplesPerSecond == 0) return emptyAudioInfoText;  // no rate to measure the length by
    const std::uint32_t totalSeconds = a.dwLength / samplesPerSecond;
    const std::uint32_t totalMinutes = totalSeconds / 60, hours = totalMinutes / 60;
    const std::uint32_t minutes = totalMinutes - hours * 60, secs = totalSeconds - totalMinutes * 60;
    char text[260];
    std::snprintf(text, sizeof text,
                  "Rate: %d Hz\nChannels: %d\nBits: %d\nLength (time): %dh %dm% ds %dms\nLength (frames): %d",
                  static_cast<int>(source.audioFormat.nSamplesPerSec), source.audioFormat.nChannels,
                  source.audioFormat.wBitsPerSample, static_cast<int>(hours), static_cast<int>(minutes),
                  static_cast<int>(secs), 0, static_cast<int>(a.dwLength));
    return text;
}

std::string SourceDetailsText(const SourceMedia& source) {
    const SourceDescription& d = source.description;
    const AVISTREAMINFOA& v = source.videoInfo;
    char line[300];
    std::string text = "Container: " + d.container + "\nVideo: " + (d.videoCodec.empty() ? "?" : d.videoCodec);
    if (d.interlaced) text += ", interlaced";
    std::snprintf(line, sizeof line, "\nRate: %u/%u fps (%.3f), %s", v.dwRate, v.dwScale,
                  v.dwScale ? static_cast<double>(v.dwRate) / v.dwScale : 0.0,
                  d.variableRate ? "variable: read on this average rate" : "constant");
    text += line;
    std::snprintf(line, sizeof line, "\nRotation: %d degrees", d.rotation);
    text += line;
    if (d.sampleAspectNum) {
        std::snprintf(line, sizeof line, "\nSample aspect: %u:%u", d.sampleAspectNum, d.sampleAspectDen);
        text += line;
    }
    if (source.hasAudio) {
        text += "\nAudio: " + (d.audioCodec.empty() ? std::string("?") : d.audioCodec);
        if (d.audioDecoded) {
            std::snprintf(line, sizeof line, " (%d channels, %d bits), decoded to 16-bit PCM", d.audioSourceChannels,
                          d.audioSourceBits);
            text += line;
        }
    } else {
        text += "\nAudio: none";
    }
    for (const std::string& s : d.streams) text += "\nStream " + s;
    return text;
}

int AspectOutputHeight(int preset, std::uint32_t width, std::uint32_t height) {
    static const double fourByThree[5] = {0.75, 0.8, 0.8181818, 0.6666666, 0.6818181};
    static const double scope[5] = {0.4255319, 0.45390064, 0.46421655332044, 0.37825049550828, 0.38684708994197997};
    double factor;
    if (preset == 0) return static_cast<int>(height);
    if (preset >= 1 && preset <= 5)
        factor = fourByThree[preset - 1];
    else if (preset == 6)
        factor = 0.5625;
    else if (preset >= 7 && preset <= 10)
        factor = fourByThree[preset - 6] * 0.75;
    else if (preset >= 11 && preset <= 15)
        factor = scope[preset - 11];
    else
        return -1;
    const double rows = static_cast<double>(width) * factor + 0.5;
    return rows < 2147483647.0 ? static_cast<int>(rows) : 2147483647;
}
