#include "job/score_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "frames/picture_metrics.h"
#include "job/methods.h"
#include "media/png_file.h"

std::vector<const MethodScore*> BestFirst(const ScoreReport& report) {
    std::vector<const MethodScore*> order;
    for (const MethodScore& m : report.methods) order.push_back(&m);
    std::stable_sort(order.begin(), order.end(), [](const MethodScore* a, const MethodScore* b) {
        const double ea = a->PooledMseY(), eb = b->PooledMseY();
        if (ea != eb) return ea < eb;
        return a->MeanSsim() > b->MeanSsim();
    });
    return order;
}

std::string DecibelText(double psnr) {
    if (std::isnan(psnr)) return "n/a";
    if (std::isinf(psnr)) return "inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", psnr);
    return text;
}

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string SsimText(double ssim) { return std::isnan(ssim) ? "n/a" : Format("%.5f", ssim); }

std::string KeepText(const KeepPattern& keep) { return std::to_string(keep.kept) + "/" + std::to_string(keep.period); }

double MsPerFrame(const MethodScore& m) {
    return m.frames.empty() ? 0 : 1000.0 * m.kernelSeconds / static_cast<double>(m.frames.size());
}

std::string SettingsText(const ConversionSettings& s, const ScoreReport& r) {
    return std::string("deinterlace ") + DeinterlaceModeLabel(s.deint) + ", resample " +
           InterlaceResampleMethodLabel(s.deintRes) + ", range " + Format("%g", s.intRange * 100) + " %, frames " +
           std::to_string(r.geometry.width) + "x" + std::to_string(r.geometry.frameRows);
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A finite figure as a number, infinity as "inf", a missing one as null.
std::string JsonNumber(double value, const char* format = "%.6f") {
    if (std::isnan(value)) return "null";
    if (std::isinf(value)) return "\"inf\"";
    return Format(format, value);
}

}  // namespace

std::string ScoreTable(const ScoreReport& r, const ConversionSettings& settings, const KeepPattern& keep,
                       const std::string& sourceName) {
    std::string out = "Source: " + sourceName + ", " + Format("%.3f", r.rate) + " fps\n";
    std::size_t rebuilt = r.methods.empty() ? 0 : r.methods.front().frames.size();
    out += "Stretch: frames " + std::to_string(r.firstFrame) + " to " +
           std::to_string(r.firstFrame + r.frameCount - 1) + " (" +
           Format("%.3f", static_cast<double>(r.frameCount) / r.rate) + " s from " +
           Format("%.3f", static_cast<double>(r.firstFrame) / r.rate) + " s" +
           (r.shortened ? ", all the source has" : "") + "), " + KeepText(keep) + " kept, " + std::to_string(rebuilt) +
           " frames rebuilt\n";
    if (r.undecodable) out += "Undecodable frames (the one before stood in): " + std::to_string(r.undecodable) + "\n";
    out += "Settings: " + SettingsText(settings, r) + "\n\n";
    out += "Method    PSNR Y  PSNR RGB  SSIM Y   Worst frame (PSNR Y)       ms/frame\n";
    for (const MethodScore* m : BestFirst(r)) {
        const FrameScore& w = m->frames[m->worst];
        const std::string worst = std::to_string(w.frame) + " at " +
                                  Format("%.3f", static_cast<double>(w.frame) / r.rate) + " s (" +
                                  DecibelText(PsnrOfMse(w.mseY)) + ")";
        out += Pad(MethodKey(m->method), 8) + "  " + Pad(DecibelText(PsnrOfMse(m->PooledMseY())), 6) + "  " +
               Pad(DecibelText(PsnrOfMse(m->PooledMseRgb())), 8) + "  " + Pad(SsimText(m->MeanSsim()), 7) + "  " +
               Pad(worst, 25) + "  " + Format("%.2f", MsPerFrame(*m)) + "\n";
    }
    return out;
}

std::string ScoreJson(const ScoreReport& r, const ConversionSettings& settings, const KeepPattern& keep,
                      const std::string& sourceName) {
    std::string out = "{\n  \"source\": " + JsonString(sourceName) + ",\n";
    out += "  \"rate\": " + Format("%.6f", r.rate) + ",\n";
    out += "  \"width\": " + std::to_string(r.geometry.width) + ",\n";
    out += "  \"height\": " + std::to_string(r.geometry.frameRows) + ",\n";
    out += "  \"firstFrame\": " + std::to_string(r.firstFrame) + ",\n";
    out += "  \"frameCount\": " + std::to_string(r.frameCount) + ",\n";
    out += std::string("  \"shortened\": ") + (r.shortened ? "true" : "false") + ",\n";
    out += "  \"keep\": " + JsonString(KeepText(keep)) + ",\n";
    out += "  \"undecodable\": " + std::to_string(r.undecodable) + ",\n";
    out += "  \"settings\": {\"deinterlace\": " + JsonString(DeinterlaceModeLabel(settings.deint)) +
           ", \"resample\": " + JsonString(InterlaceResampleMethodLabel(settings.deintRes)) +
           ", \"range\": " + Format("%g", settings.intRange) + "},\n";
    out += "  \"methods\": [";
    bool firstMethod = true;
    for (const MethodScore* m : BestFirst(r)) {
        const FrameScore& w = m->frames[m->worst];
        out += firstMethod ? "\n" : ",\n";
        firstMethod = false;
        out += "    {\"method\": " + JsonString(MethodKey(m->method)) +
               ", \"label\": " + JsonString(FindMethod(m->method) ? FindMethod(m->method)->label : "") +
               ", \"psnrY\": " + JsonNumber(PsnrOfMse(m->PooledMseY())) +
               ", \"psnrRgb\": " + JsonNumber(PsnrOfMse(m->PooledMseRgb())) +
               ", \"ssim\": " + JsonNumber(m->MeanSsim()) + ", \"msPerFrame\": " + JsonNumber(MsPerFrame(*m), "%.4f") +
               ",\n     \"worst\": {\"frame\": " + std::to_string(w.frame) +
               ", \"time\": " + Format("%.6f", static_cast<double>(w.frame) / r.rate) +
               ", \"psnrY\": " + JsonNumber(PsnrOfMse(w.mseY)) + "},\n     \"frames\": [";
        for (std::size_t i = 0; i < m->frames.size(); ++i) {
            const FrameScore& f = m->frames[i];
            out += std::string(i ? ",\n       " : "\n       ") + "{\"frame\": " + std::to_string(f.frame) +
                   ", \"time\": " + Format("%.6f", static_cast<double>(f.frame) / r.rate) +
                   ", \"psnrY\": " + JsonNumber(PsnrOfMse(f.mseY)) +
                   ", \"psnrRgb\": " + JsonNumber(PsnrOfMse(f.mseRgb)) + ", \"ssim\": " + JsonNumber(f.ssim) + "}";
        }
        out += "]}";
    }
    out += "\n  ]\n}\n";
    return out;
}

std::vector<std::uint8_t> ComparisonPicture(const ScoreReport& r, const MethodScore& m, int& width) {
    constexpr int gap = 8;  // mid grey between the three
    const FrameGeometry& g = r.geometry;
    width = 3 * g.width + 2 * gap;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3 * g.frameRows, 128);
    for (int y = 0; y < g.frameRows; ++y) {
        // DIB rows are bottom-up and BGR.
        const std::size_t row = static_cast<std::size_t>(g.frameRows - 1 - y) * g.stride;
        const std::uint8_t* a = m.worstOriginal.data() + row;
        const std::uint8_t* b = m.worstRebuilt.data() + row;
        std::uint8_t* out = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        for (int x = 0; x < g.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int va = a[3 * x + 2 - c], vb = b[3 * x + 2 - c];
                out[3 * x + c] = static_cast<std::uint8_t>(va);
                out[3 * (x + g.width + gap) + c] = static_cast<std::uint8_t>(vb);
                out[3 * (x + 2 * (g.width + gap)) + c] =
                    static_cast<std::uint8_t>(std::min(255, 4 * std::abs(va - vb)));
            }
    }
    return rgb;
}

bool WriteWorstPictures(const ScoreReport& r, const std::string& dir, std::vector<std::string>& written,
                        std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    for (const MethodScore& m : r.methods) {
        if (m.frames.empty() || m.worstOriginal.empty()) continue;
        int width = 0;
        const std::vector<std::uint8_t> rgb = ComparisonPicture(r, m, width);
        const std::string path =
            dir + "/score-" + MethodKey(m.method) + "-frame" + std::to_string(m.frames[m.worst].frame) + ".png";
        if (!WritePng(path, rgb.data(), width, r.geometry.frameRows, error)) return false;
        written.push_back(path);
    }
    return true;
}
