#include "cli/score_command.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "cli/options.h"
#include "core/settings.h"
#include "job/score_report.h"
#include "job/score_run.h"
#include "job/start_run.h"
#include "media/source.h"

const char scoreUsageText[] =
    "\n"
    "Options of score (the stored settings give deinterlace, resample, range and size):\n"
    "  --methods all|LIST      the methods to rebuild with, e.g. linear,lansin2 (default: all)\n"
    "  --keep 1/2|1/3|2/5      the frames kept of every 2, 3 or 5 (default 1/2)\n"
    "  --start SECONDS         where the stretch starts (default: centred in the source)\n"
    "  --duration SECONDS      how long it is (default 10, cut to the source)\n"
    "  --json FILE             every figure, per method and per frame ('-': standard output)\n"
    "  --pictures DIR          the worst frame of each method: original | rebuilt | difference x4\n"
    "  --range, --deinterlace, --resample, --aspect, --height, --letterbox as for convert\n"
    "  --quiet                 no progress line\n";

namespace {

constexpr int exitUsage = 64;

int UsageError(const std::string& error) {
    std::fprintf(stderr, "tavrick: %s\nTry 'tavrick --help'.\n", error.c_str());
    return exitUsage;
}

struct ScoreArguments {
    std::string source, json, pictures;
    ScoreRequest request;
    std::vector<std::string> settingArgs;  // the options score shares with convert
    bool quiet = false;
};

bool ParseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds < 1e9;
}

bool ParseMethods(const std::string& text, std::vector<int>& methods) {
    methods.clear();
    if (text == "all") return true;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string name = text.substr(from, comma - from);
        int found = -1;
        for (int m = 0; m < interpolationMethodCount; ++m)
            if (name == MethodKey(m) || name == std::to_string(m)) found = m;
        if (found < 0) return false;
        methods.push_back(found);
        from = comma + 1;
    }
    return true;
}

bool ParseArguments(const std::vector<std::string>& args, ScoreArguments& a, std::string& error) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--quiet" || arg == "-q") {
            a.quiet = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            paths.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option " + arg + " needs a value";
            return false;
        }
        const auto bad = [&](const std::string& what) {
            error = "invalid value '" + value + "' for " + name + ": " + what;
            return false;
        };
        double seconds = 0;
        if (name == "--methods") {
            if (!ParseMethods(value, a.request.methods))
                return bad("expected all, or names or numbers (0.." + std::to_string(interpolationMethodCount - 1) +
                           ") separated by commas");
        } else if (name == "--keep") {
            if (value == "1/2" || value == "1/3" || value == "2/5")
                a.request.keep = KeepPattern{value[0] - '0', value[2] - '0'};
            else
                return bad("expected 1/2, 1/3 or 2/5");
        } else if (name == "--start") {
            if (!ParseSeconds(value, seconds)) return bad("expected seconds, e.g. 12.5");
            a.request.startSeconds = seconds;
        } else if (name == "--duration") {
            if (!ParseSeconds(value, seconds) || seconds <= 0) return bad("expected seconds above 0, e.g. 10");
            a.request.durationSeconds = seconds;
        } else if (name == "--json") {
            if (value.empty()) return bad("expected a file name");
            a.json = value;
        } else if (name == "--pictures") {
            if (value.empty()) return bad("expected a folder");
            a.pictures = value;
            a.request.keepWorstPictures = true;
        } else if (name == "--range" || name == "--deinterlace" || name == "--resample" || name == "--aspect" ||
                   name == "--height" || name == "--letterbox") {
            a.settingArgs.push_back(name + "=" + value);
        } else {
            error = "unknown option " + name + " for score";
            return false;
        }
    }
    if (paths.size() != 1) {
        error = paths.empty() ? "score needs a SOURCE" : "score takes one SOURCE";
        return false;
    }
    a.source = paths[0];
    return true;
}

void ShowProgress(void*, std::int64_t done, std::int64_t total) {
    std::fprintf(stderr, "\rrebuilt %lld of %lld frames\033[K", static_cast<long long>(done),
                 static_cast<long long>(total));
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool WriteText(const std::string& path, const std::string& text) {
    if (path == "-") return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

// Releases the source and the tables on every way out.
struct ScoreSession {
    MediaState media;
    KernelTables tables;
    ~ScoreSession() {
        CloseMedia(media, nullptr, false);
        ReleaseKernelTables(tables);
    }
};

}  // namespace

int ScoreCommand(const std::vector<std::string>& args, const FrontEnd& frontEnd) {
    ScoreArguments a;
    std::string error;
    if (!ParseArguments(args, a, error)) return UsageError(error);
    // The options score shares with convert are read by convert's own parser.
    ConvertRequest shared;
    std::vector<std::string> convertArgs = a.settingArgs;
    convertArgs.push_back(a.source);
    convertArgs.push_back("-");
    if (!ParseConvertArguments(convertArgs, shared, error)) return UsageError(error);

    // Nothing is written until the end: a stop needs no cleaning up.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);

    ConversionSettings settings = DefaultSettings();
    if (!LoadSettings(UserCallsOf(frontEnd), settings)) return ResultCode(settingsStoreFailed);
    ApplyRequest(shared, settings);
    for (const SettingCorrection& c : BringSettingsIntoRange(settings))
        if (frontEnd.settingCorrected) frontEnd.settingCorrected(frontEnd.context, SettingCorrectionText(c).c_str());

    ScoreSession session;
    const RunResult opened = OpenSourceChecked(frontEnd, session.media, a.source.c_str());
    if (opened != sourceOpened) return ResultCode(opened);
    SourceMedia& source = session.media.source;
    settings.outputHeight = RunOutputHeight(settings, source, shared.height);

    const double rate = source.videoInfo.dwScale ? double(source.videoInfo.dwRate) / source.videoInfo.dwScale : 0;
    std::int64_t first = 0, count = 0;
    bool shortened = false;
    ChooseStretch(a.request, rate, source.videoInfo.dwLength, first, count, shortened);
    if (!(rate > 0) || FramesToRebuild(a.request.keep, first, count, source.videoInfo.dwLength) == 0)
        return UsageError("the stretch (frames " + std::to_string(first) + " to " + std::to_string(first + count - 1) +
                          " of " + std::to_string(source.videoInfo.dwLength) +
                          ") leaves no frame to rebuild between two kept ones");

    if (!BuildKernelTables(session.tables)) return ResultCode(conversionNoMemory);
    if (!a.quiet && isatty(STDERR_FILENO)) a.request.progress = ShowProgress;
    ScoreReport report;
    const RunResult scored = ScoreSource(settings, source, session.tables, a.request, report);
    if (scored != conversionDone) {
        if (ResultMessageId(scored) != 0) std::fprintf(stderr, "tavrick: the source can't be scored\n");
        return ResultCode(scored);
    }

    const std::string table = ScoreTable(report, settings, a.request.keep, a.source);
    if (a.json != "-") std::fputs(table.c_str(), stdout);
    if (!a.json.empty() && !WriteText(a.json, ScoreJson(report, settings, a.request.keep, a.source))) {
        std::fprintf(stderr, "tavrick: can't write %s\n", a.json.c_str());
        return ResultCode(destinationCannotCreate);
    }
    if (!a.pictures.empty()) {
        std::vector<std::string> written;
        if (!WriteWorstPictures(report, a.pictures, written, error)) {
            std::fprintf(stderr, "tavrick: %s\n", error.c_str());
            return ResultCode(destinationCannotCreate);
        }
        if (a.json != "-")
            for (const std::string& path : written) std::printf("Wrote %s\n", path.c_str());
    }
    return 0;
}
