#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "core/frame_rate.h"
#include "job/methods.h"
#include "media/lav/output_codecs.h"
#include "media/vfw/compressor.h"
#include "platform/mmsystem.h"
#include "platform/msgbox.h"

const std::vector<std::string> methodNames = [] {
    std::vector<std::string> names;
    for (const MethodEntry& m : methodTable) names.emplace_back(m.name);
    return names;
}();
const std::vector<std::string> deinterlaceNames = {"off", "both-top", "both-bottom", "odd", "even"};
const std::vector<std::string> resampleNames = {
    "interlaced-top", "interlaced-bottom", "coarse", "linear", "sine", "cubic", "lanczos"};
const std::vector<std::string> aspectNames = {"1:1",
                                              "4:3",
                                              "4:3-pal",
                                              "4:3-pal-half",
                                              "4:3-ntsc",
                                              "4:3-ntsc-half",
                                              "16:9",
                                              "16:9-pal",
                                              "16:9-pal-half",
                                              "16:9-ntsc",
                                              "16:9-ntsc-half",
                                              "2.35:1",
                                              "2.35:1-pal",
                                              "2.35:1-pal-half",
                                              "2.35:1-ntsc",
                                              "2.35:1-ntsc-half",
                                              "custom"};
const std::vector<std::string> letterboxNames = {"none", "frame", "image"};

namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A whole number as the digits-only fields take it.
bool ParseWhole(const std::string& s, long long max, long long& value) {
    if (!AllDigits(s)) return false;
    value = std::atoll(s.c_str());
    return value <= max;
}

// A decimal number as the frame-rate and speed fields take it: digits with
// at most one '.' or ','.
bool ParseDecimal(std::string s, double& value) {
    int points = 0, digits = 0;
    for (char& c : s) {
        if (c == ',') c = '.';
        if (c == '.')
            ++points;
        else if (std::isdigit(static_cast<unsigned char>(c)))
            ++digits;
        else
            return false;
    }
    if (points > 1 || digits == 0 || s.size() > 32) return false;
    value = std::strtod(s.c_str(), nullptr);  // the program runs in the "C" locale
    return true;
}

// A rate as a fraction ("30000/1001") or an NTSC name; false for anything else.
bool ParseFraction(std::string s, std::uint32_t& rate, std::uint32_t& scale) {
    for (char& c : s) c = c == ' ' || c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const struct {
        const char* name;
        std::uint32_t rate, scale;
    } names[] = {{"ntsc", 30000, 1001}, {"ntsc-film", 24000, 1001}, {"ntsc-double", 60000, 1001}};
    for (const auto& n : names)
        if (s == n.name) {
            rate = n.rate;
            scale = n.scale;
            return true;
        }
    const std::size_t slash = s.find('/');
    if (slash == std::string::npos) return false;
    long long r = 0, q = 0;
    if (!ParseWhole(s.substr(0, slash), 0xFFFFFFFFLL, r) || !ParseWhole(s.substr(slash + 1), 0xFFFFFFFFLL, q) ||
        r == 0 || q == 0)
        return false;
    rate = static_cast<std::uint32_t>(r);
    scale = static_cast<std::uint32_t>(q);
    return true;
}

// A name of the list (any letter case; blanks count as dashes) or its number.
bool ParseChoice(std::string s, const std::vector<std::string>& names, int& value) {
    long long n = 0;
    if (ParseWhole(s, static_cast<long long>(names.size()) - 1, n)) {
        value = static_cast<int>(n);
        return true;
    }
    for (char& c : s) c = c == ' ' || c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 0; i < names.size(); ++i)
        if (s == names[i]) {
            value = static_cast<int>(i);
            return true;
        }
    return false;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string all;
    for (const std::string& n : names) all += (all.empty() ? "" : ", ") + n;
    return all;
}

}  // namespace

bool ParseConvertArguments(const std::vector<std::string>& args, ConvertRequest& r, std::string& error) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-' || a == "--") {
            if (a == "--") {
                paths.insert(paths.end(), args.begin() + static_cast<long>(i) + 1, args.end());
                break;
            }
            paths.push_back(a);
            continue;
        }
        if (a == "--yes" || a == "-y") {
            r.answer = IDYES;
            continue;
        }
        if (a == "--no" || a == "-n") {
            r.answer = IDNO;
            continue;
        }
        if (a == "--segment") {
            r.segment = 1;
            continue;
        }
        if (a == "--no-segment") {
            r.segment = 0;
            continue;
        }
        if (a == "--cuts" || a == "--no-cuts") {
            r.cutAware = a == "--cuts" ? 1 : 0;
            continue;
        }
        if (a == "--verbose" || a == "-v") {
            r.verbose = true;
            continue;
        }
        if (a == "--save") {
            r.save = true;
            continue;
        }
        if (a == "--no-audio") {
            r.noAudio = true;
            continue;
        }
        if (a == "--quiet" || a == "-q") {
            r.quiet = true;
            continue;
        }

        std::string name = a, value;
        if (const std::size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option " + a + " needs a value";
            return false;
        }
        double d = 0;
        long long n = 0;
        int choice = 0;
        auto bad = [&](const std::string& what) {
            error = "invalid value '" + value + "' for " + name + ": " + what;
            return false;
        };
        std::uint32_t rate = 0, scale = 0;
        if (name == "--rate" && ParseFraction(value, rate, scale)) {
            // Exact: the header says rate/scale and the frames step by it.
            const FrameRate exact = FractionRate(rate, scale);
            r.dstRate = std::clamp(exact.value, 0.001, 32767.0);
            r.dstRateFraction = {0, 0};
            if (*r.dstRate == exact.value) r.dstRateFraction = {exact.rate, exact.scale};
        } else if (name == "--rate") {
            if (!ParseDecimal(value, d))
                return bad(
                    "expected frames per second, e.g. 50 or 29.97, a fraction such as 30000/1001, or ntsc, "
                    "ntsc-film, ntsc-double");
            r.dstRate = std::clamp(d, 0.001, 32767.0);
            r.dstRateFraction = {0, 0};
        } else if (name == "--speed") {
            if (!ParseDecimal(value, d)) return bad("expected a percentage, e.g. 100");
            r.srcSpeed = std::clamp(d * 0.01, 0.00001, 327.67);
        } else if (name == "--range") {
            if (!ParseWhole(value, 100000, n)) return bad("expected a whole percentage, e.g. 100");
            r.intRange = static_cast<double>(n) * 0.01;
        } else if (name == "--threads") {
            if (!ParseWhole(value, 256, n) || n < 1) return bad("expected a number of threads, 1..256");
            r.threads = static_cast<int>(n);
        } else if (name == "--source-rate") {
            if (!ParseExactRate(value, r.sourceRateNum, r.sourceRateDen))
                return bad("expected frames per second, e.g. 25, 29.97 or 30000/1001");
        } else if (name == "--audio-stream") {
            if (!ParseWhole(value, 63, n)) return bad("expected the number of an audio stream, 0 for the first");
            r.audioStream = static_cast<int>(n);
        } else if (name == "--method") {
            if (!ParseChoice(value, methodNames, choice))
                return bad("expected one of " + Joined(methodNames) + " or 0.." +
                           std::to_string(interpolationMethodCount - 1));
            r.intMethod = choice;
        } else if (name == "--deinterlace") {
            if (!ParseChoice(value, deinterlaceNames, choice))
                return bad("expected one of " + Joined(deinterlaceNames) + " or 0..4");
            r.deint = choice;
        } else if (name == "--resample") {
            if (!ParseChoice(value, resampleNames, choice))
                return bad("expected one of " + Joined(resampleNames) + " or 0..6");
            r.deintRes = choice;
        } else if (name == "--aspect") {
            if (!ParseChoice(value, aspectNames, choice))
                return bad("expected one of " + Joined(aspectNames) + " or 0..16");
            r.aspect = choice;
        } else if (name == "--height") {
            if (!ParseWhole(value, 999999999, n)) return bad("expected a whole number of rows");
            r.height = static_cast<int>(std::clamp(n, 1LL, 32767LL));  // as the height field is clamped
        } else if (name == "--letterbox") {
            if (!ParseChoice(value, letterboxNames, choice)) return bad("expected none, frame or image");
            r.letterbox = choice;
        } else if (name == "--codec") {
            if (value.empty() || value.size() > 4) return bad("expected a four-character code, e.g. MJPG or DIB");
            const FOURCC fcc = mmioStringToFOURCC(value.c_str(), 0);
            AviCompressorInfo info{};
            if (!FindOutputCompressor(fcc, &info)) return bad("no such compressor here (see 'tavrick codecs')");
            r.fccHandler = info.fccHandler;
        } else if (name == "--audio-codec") {
            AudioChoice choice = AudioChoice::automatic;
            if (!ParseAudioChoice(value, &choice)) return bad("expected pcm, flac, aac, opus or copy");
            r.audioCodec = choice;
        } else if (name == "--preset") {
            static const char* const presets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                                  "medium",    "slow",      "slower",   "veryslow"};
            if (std::find(std::begin(presets), std::end(presets), value) == std::end(presets))
                return bad("expected an x264/x265 preset, ultrafast..veryslow");
            r.preset = value;
        } else if (name == "--quality") {
            if (!ParseWhole(value, 10000, n)) return bad("expected 0..10000");
            r.quality = static_cast<std::uint32_t>(n);
        } else if (name == "--keyframes") {
            if (!ParseWhole(value, 999999999, n)) return bad("expected a whole number of frames (0: only the first)");
            r.keyFrameEvery = static_cast<std::uint32_t>(n);
        } else if (name == "--data-rate") {
            if (!ParseWhole(value, 999999999, n)) return bad("expected bytes per second (0: no data rate)");
            r.bytesPerSecond = static_cast<std::uint32_t>(n);
        } else if (name == "--interleave") {
            if (!ParseWhole(value, 999999999, n)) return bad("expected milliseconds (0: audio with every frame)");
            r.interleaveEvery = static_cast<std::uint32_t>(n);
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (paths.size() != 2) {
        error = paths.size() < 2 ? "convert needs a SOURCE and a DESTINATION" : "too many file names";
        return false;
    }
    r.source = paths[0];
    r.destination = paths[1];
    for (const std::string* p : {&r.source, &r.destination})
        if (p->empty() || p->size() > static_cast<std::size_t>(maxPathChars)) {
            error = "paths must have 1 to 260 characters";
            return false;
        }
    // What the destination's container can't take is known before anything opens.
    const OutputContainer container = OutputContainerOf(r.destination);
    const std::string where = std::string("the ") + OutputContainerName(container) + " container";
    if (r.fccHandler && !ContainerTakesCompressor(container, *r.fccHandler)) {
        error = where + " takes no such compressor (see 'tavrick codecs --container " + OutputContainerName(container) +
                "')";
        return false;
    }
    if (r.audioCodec && container == OutputContainer::avi) {
        error = "--audio-codec is for MKV, MP4, MOV and WebM destinations; an AVI keeps the source's sound";
        return false;
    }
    if (r.audioCodec && *r.audioCodec != AudioChoice::copy &&
        ChooseAudioCodec(container, *r.audioCodec, "") == AudioCodec::none) {
        error = where + " takes no such audio codec";
        return false;
    }
    if (r.height && r.aspect && *r.aspect != static_cast<int>(AspectPreset::Custom)) {
        error = "--height and --aspect (other than custom) exclude each other";
        return false;
    }
    return true;
}

bool ParseExactRate(const std::string& text, std::uint32_t& num, std::uint32_t& den) {
    std::uint64_t n = 0, d = 1;
    const std::size_t slash = text.find('/');
    long long whole = 0;
    if (slash != std::string::npos) {
        long long bottom = 0;
        if (!ParseWhole(text.substr(0, slash), 999999999, whole) ||
            !ParseWhole(text.substr(slash + 1), 999999999, bottom) || bottom == 0)
            return false;
        n = static_cast<std::uint64_t>(whole);
        d = static_cast<std::uint64_t>(bottom);
    } else {
        // Digits and at most one point; the fraction's digits give the denominator.
        std::string digits;
        int decimals = -1;
        for (char c : text) {
            if ((c == '.' || c == ',') && decimals < 0)
                decimals = 0;
            else if (std::isdigit(static_cast<unsigned char>(c)) && digits.size() < 15)
                digits += c, decimals += decimals >= 0;
            else
                return false;
        }
        if (digits.empty() || decimals > 6) return false;
        n = std::stoull(digits);
        for (int k = 0; k < std::max(decimals, 0); ++k) d *= 10;
    }
    for (std::uint64_t a = n, b = d; b != 0;) {  // lowest terms
        const std::uint64_t t = a % b;
        a = b;
        b = t;
        if (b == 0 && a > 1) n /= a, d /= a;
    }
    if (n == 0 || n > UINT32_MAX || d > UINT32_MAX || n > d * 1000000 || n * 1000 < d) return false;
    num = static_cast<std::uint32_t>(n);
    den = static_cast<std::uint32_t>(d);
    return true;
}

void ApplyRequest(const ConvertRequest& r, ConversionSettings& s) {
    if (r.dstRate) {
        s.dstRate = *r.dstRate;
        s.dstRateFraction[0] = r.dstRateFraction[0];
        s.dstRateFraction[1] = r.dstRateFraction[1];
    }
    if (r.srcSpeed) s.srcSpeed = *r.srcSpeed;
    if (r.intRange) s.intRange = *r.intRange;
    if (r.intMethod) s.intMethod = static_cast<InterpolationMethod>(*r.intMethod);
    if (r.deint) s.deint = static_cast<DeinterlaceMode>(*r.deint);
    if (r.deintRes) s.deintRes = static_cast<InterlaceResampleMethod>(*r.deintRes);
    if (r.aspect) s.aspect = static_cast<AspectPreset>(*r.aspect);
    if (r.height) s.aspect = AspectPreset::Custom;
    if (r.letterbox) s.letterbox = static_cast<LetterboxMode>(*r.letterbox);
    if (r.segment) s.segment = *r.segment;
    if (r.cutAware) s.cutAware = *r.cutAware;
    AVICOMPRESSOPTIONS& o = s.pOptions;
    if (r.fccHandler && *r.fccHandler != o.fccHandler) {
        o.fccHandler = *r.fccHandler;
        // State attached for another compressor means nothing to this one.
        o.lpFormat = o.cbFormat = o.lpParms = o.cbParms = 0;
    }
    if (r.quality) o.dwQuality = *r.quality;
    if (r.keyFrameEvery) {
        o.dwKeyFrameEvery = *r.keyFrameEvery;
        o.dwFlags = *r.keyFrameEvery ? o.dwFlags | AVICOMPRESSF_KEYFRAMES : o.dwFlags & ~AVICOMPRESSF_KEYFRAMES;
    }
    if (r.bytesPerSecond) {
        o.dwBytesPerSecond = *r.bytesPerSecond;
        o.dwFlags = *r.bytesPerSecond ? o.dwFlags | AVICOMPRESSF_DATARATE : o.dwFlags & ~AVICOMPRESSF_DATARATE;
    }
    if (r.interleaveEvery) {
        o.dwInterleaveEvery = *r.interleaveEvery;
        o.dwFlags |= AVICOMPRESSF_INTERLEAVE;
    }
    o.dwFlags |= AVICOMPRESSF_VALID;
}
