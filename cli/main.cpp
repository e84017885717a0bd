// tavrick: converts the frame rate of a video file from the command line,
// through the same worker, pipeline and messages as the GUI.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/score_command.h"
#include "core/settings.h"
#include "core/version.h"
#include "job/front_end.h"
#include "job/source_info.h"
#include "job/start_run.h"
#include "media/lav/output_codecs.h"
#include "media/source.h"
#include "media/vfw/compressor.h"
#include "platform/msgbox.h"

namespace {

// sysexits.h's EX_USAGE: 2 already means "no video stream".
constexpr int exitUsage = 64;

const char usageText[] =
    "Usage:\n"
    "  tavrick convert SOURCE DESTINATION [options]   convert the frame rate of a video file\n"
    "  tavrick info SOURCE                            describe the video and audio of a video file\n"
    "  tavrick codecs [--container EXT]               list the compressors (--codec values) the\n"
    "                                                 container takes (avi, mkv, mp4, mov, webm)\n"
    "  tavrick score SOURCE [options]                 how well each method rebuilds dropped frames\n"
    "  tavrick --help | --version\n"
    "\n"
    "Options of convert (the stored settings are the defaults; --save keeps the result):\n"
    "  --rate FPS              destination frame rate, 0.001..32767 (clamped); a fraction\n"
    "                          (30000/1001) or ntsc, ntsc-film, ntsc-double is kept exactly\n"
    "  --speed PERCENT         source speed, 100 keeps it (0.001..32767 %, clamped)\n"
    "  --method NAME|N         coarse, linear, sine, cubic, lanczos, lansin1, lansin2,\n"
    "                          lansin3, median3, median5, motion (0..10)\n"
    "  --range PERCENT         interpolation range, a whole percentage (100: blend all the way)\n"
    "  --deinterlace NAME|N    off, both-top, both-bottom, odd, even (0..4)\n"
    "  --resample NAME|N       interlaced-top, interlaced-bottom, coarse, linear, sine,\n"
    "                          cubic, lanczos (0..6)\n"
    "  --aspect NAME|N         output height from the source width: 1:1 (source height), 4:3,\n"
    "                          4:3-pal, 4:3-pal-half, 4:3-ntsc, 4:3-ntsc-half, 16:9, 16:9-pal,\n"
    "                          16:9-pal-half, 16:9-ntsc, 16:9-ntsc-half, 2.35:1, 2.35:1-pal,\n"
    "                          2.35:1-pal-half, 2.35:1-ntsc, 2.35:1-ntsc-half (0..15),\n"
    "                          custom (16: --height, else the source height)\n"
    "  --height N              output height in rows (1..32767, clamped); the custom preset\n"
    "  --letterbox MODE        none, frame (frame keeps its size, image resized inside),\n"
    "                          image (frame resized, image keeps its size inside)\n"
    "  --codec FOURCC          compressor, e.g. DIB (uncompressed), MJPG, FFV1; see 'tavrick codecs'\n"
    "  --quality N             0..10000\n"
    "  --keyframes N           a key frame every N frames (0: only the first of each file)\n"
    "  --data-rate BYTES_PER_S target data rate (0: none)\n"
    "  --audio-codec NAME      sound in MKV, MP4, MOV or WebM: pcm, flac, aac, opus (encoded), or\n"
    "                          copy (as the source stores it); default: as stored where the\n"
    "                          container takes it, else AAC (MP4, MOV) or Opus (MKV, WebM)\n"
    "  --preset NAME           x264/x265 preset outside AVI, ultrafast..veryslow (default medium)\n"
    "  --interleave MS         audio every MS milliseconds of video (0: with every frame)\n"
    "  --segment, --no-segment split the output past 2047 MiB without asking, or ask first\n"
    "  --yes, --no             answer the overwrite and 2 GB questions (default: ask on a\n"
    "                          terminal, else No)\n"
    "  --save                  store the resulting settings as the new defaults\n"
    "  --cuts, --no-cuts       every method takes the nearer frame whole across a scene cut\n"
    "                          (Motion always does), or only Motion\n"
    "  --quiet                 no progress line\n"
    "  --verbose               report the scene cuts found\n"
    "  --threads N             threads sharing the frame work (default: every core the\n"
    "                          process may use; 1 for single-thread timing)\n"
    "  --source-rate FPS       read the source on this grid (25, 29.97, 30000/1001) rather\n"
    "                          than its average rate; each position shows the latest picture\n"
    "                          (not for AVI files, which keep their own rate)\n"
    "  --audio-stream N        the source's audio stream to carry, 0 for the first\n"
    "  --no-audio              leave the audio out\n"
    "\n"
    "Messages print as 'Tavrick: <text>'; after a failure a line 'tavrick: <cause>' may\n"
    "follow (for example the system's 'No space left on device').\n"
    "\n"
    "Exit status:\n"
    "  0    done\n"
    "  1    the source can't be opened\n"
    "  2    the source has no video stream\n"
    "  3    no stream information (a stream the product can't carry, or a broken file)\n"
    "  4    the source's format can't be decoded\n"
    "  5    the output file can't be created (or its name is taken by no regular file)\n"
    "  6    stopped (Ctrl-C, SIGTERM) or declined (a question answered No)\n"
    "  7    an output stream can't be created\n"
    "  8    a frame can't be compressed or written, or the output was deleted meanwhile\n"
    "  9    out of memory\n"
    "  10   the source is over 2 GB\n"
    "  11   audio can't be written\n"
    "  12   the first output file can't be renamed to the first segment's name\n"
    "  64   usage error\n"
    "  130  a second Ctrl-C ended the process at once\n"
    "  255  the settings store can't be read or written\n"
    "TAVRICK_REGISTRY_DIR names the settings folder.\n";

// ---- Terminal -----------------------------------------------------------------------

struct Terminal {
    bool progressTty = false;  // standard error is a terminal: rewrite the status line in place
    bool lineOpen = false;     // a status line is on screen without its newline
    bool quiet = false;
    int answer = 0;  // IDYES, IDNO or 0 (ask when there is a terminal)
};
Terminal terminal;

void EndStatusLine() {
    if (terminal.lineOpen) std::fputc('\n', stderr);
    terminal.lineOpen = false;
}

void ShowStatus(void*, const char* text) {
    if (terminal.quiet) return;
    if (terminal.progressTty) {
        std::fprintf(stderr, "\r%s\033[K", text);
        terminal.lineOpen = true;
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
    std::fflush(stderr);
}

int AnswerOnTerminal(const char* text, const char* caption) {
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "%s: %s No (no terminal to ask; --yes answers Yes)\n", caption, text);
        return IDNO;
    }
    std::fprintf(stderr, "%s: %s [y/N] ", caption, text);
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return IDNO;
    return line[0] == 'y' || line[0] == 'Y' ? IDYES : IDNO;
}

// Every message of the product prints as "Tavrick: <text>"; questions take
// the answer of --yes / --no, or ask.
int PresentMessage(void*, HWND, const char* text, const char* caption, UINT style) {
    EndStatusLine();
    const UINT buttons = style & MB_TYPEMASK;
    if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) {
        if (terminal.answer == 0) return AnswerOnTerminal(text, caption);
        std::fprintf(stderr, "%s: %s %s\n", caption, text, terminal.answer == IDYES ? "Yes" : "No");
        return terminal.answer;
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    return IDOK;
}

void SayCorrected(void*, const char* text) {
    EndStatusLine();
    std::fprintf(stderr, "tavrick: stored setting %s\n", text);
}

// What the core asks of the command line: a status line, and every message as
// one line of standard error with the questions answered from the flags.
FrontEnd TerminalFrontEnd() {
    FrontEnd frontEnd;
    frontEnd.setStatusText = ShowStatus;
    frontEnd.messageBox = PresentMessage;
    frontEnd.settingCorrected = SayCorrected;
    return frontEnd;
}

// The records of the run; the signal handler reaches its stop flag.
RunSession session;

// ---- Signals --------------------------------------------------------------------------

volatile sig_atomic_t interrupts = 0;

void OnStopSignal(int) {
    // The first one stops the run cleanly; another one ends the process at once.
    interrupts = interrupts + 1;
    if (interrupts > 1) _exit(130);
    session.control.stopRequested.store(1);
}

void InstallSignals() {
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    // A file-size limit or a closed pipe fails the write; it must not kill the run.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

void Print(const std::string& text) { std::fprintf(stdout, "%s\n", text.c_str()); }

int UsageError(const std::string& error) {
    std::fprintf(stderr, "tavrick: %s\nTry 'tavrick --help'.\n", error.c_str());
    return exitUsage;
}

// ---- Commands -------------------------------------------------------------------------

// Frames in the video stream of a closed output file; -1 when it can't be read.
long FramesInFile(const std::string& path) {
    AVIFileInit();
    long frames = -1;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) == AVIERR_OK) {
        PAVISTREAM video = nullptr;
        AVISTREAMINFOA info{};
        if (AVIFileGetStream(file, &video, streamtypeVIDEO, 0) == AVIERR_OK &&
            AVIStreamInfoA(video, &info, sizeof info) == AVIERR_OK)
            frames = static_cast<long>(info.dwLength);
        if (video) AVIStreamRelease(video);
        AVIFileRelease(file);
    }
    AVIFileExit();
    return frames;
}

// After Ctrl-C: what the user has now.
void SayStopped() {
    const ConversionJob& job = session.job;
    const std::string path = job.segmentIndex == 0 ? std::string(session.settings.destinationPath)
                                                   : SegmentName(session.settings.destinationPath, job.segmentIndex);
    const long frames = FramesInFile(path);
    if (frames < 0) {
        std::fprintf(stderr, "tavrick: stopped; no output was written\n");
        return;
    }
    std::string line =
        "tavrick: stopped; " + path + " holds " + std::to_string(frames) + (frames == 1 ? " frame" : " frames");
    if (job.segmentIndex > 0) line += ", the last of " + std::to_string(job.segmentIndex + 1) + " files";
    std::fprintf(stderr, "%s\n", line.c_str());
}

const char recoveredText[] = "recovered by a scan of its chunks (a recording that was never finished or was cut off)";

int Info(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError("info needs one SOURCE");
    MediaState media;
    const RunResult opened = OpenSourceChecked(TerminalFrontEnd(), media, args[0].c_str());
    if (opened != sourceOpened) {
        if (!media.source.failureDetail.empty())
            std::fprintf(stderr, "tavrick: %s\n", media.source.failureDetail.c_str());
        return ResultCode(opened);
    }
    Print("Video Info\n" + VideoInfoText(media.source) + "\n\nAudio Info\n" + AudioInfoText(media.source) +
          "\n\nSource\n" + SourceDetailsText(media.source));
    if (media.source.description.recoveredByScan) Print(std::string("\nFile: ") + recoveredText);
    CloseMedia(media, nullptr, false);
    return 0;
}

// What the run does with the source that a user can't see in the output:
// sound it leaves behind, frames it had to find by a scan.
void SaySourceNotes(const SourceMedia& source) {
    const SourceDescription& d = source.description;
    if (d.recoveredByScan) std::fprintf(stderr, "tavrick: the source was %s\n", recoveredText);
    if (d.audioStreams > 1 && source.hasAudio)
        std::fprintf(stderr, "tavrick: carrying audio stream %d of %d\n", d.audioStream + 1, d.audioStreams);
}

std::string FccText(std::uint32_t fcc) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((fcc >> (8 * i)) & 0xFF);
    return s;
}

int Codecs(const std::vector<std::string>& args) {
    OutputContainer container = OutputContainer::avi;
    if (!args.empty() && (args.size() != 2 || args[0] != "--container" || !ParseOutputContainer(args[1], &container)))
        return UsageError("codecs takes --container avi|mkv|mp4|mov|webm or nothing");
    Print("Code    Compressor                                     Options");
    for (const AviCompressorInfo& c : ListOutputCompressors(container)) {
        std::string options;
        if (c.quality) options += " quality";
        if (c.keyFrames) options += " keyframes";
        if (c.dataRate) options += " data-rate";
        if (c.lossless) options += " lossless";
        char line[160];
        std::snprintf(line, sizeof line, "\"%s\"  %-46s%s", FccText(c.fccHandler).c_str(), c.name, options.c_str());
        Print(line);
    }
    return 0;
}

int Convert(const std::vector<std::string>& args) {
    ConvertRequest request;
    std::string error;
    if (!ParseConvertArguments(args, request, error)) return UsageError(error);
    terminal.answer = request.answer;
    terminal.quiet = request.quiet;

    const FrontEnd frontEnd = TerminalFrontEnd();
    if (!LoadSettings(UserCallsOf(frontEnd), session.settings)) return ResultCode(settingsStoreFailed);
    ApplyRequest(request, session.settings);
    session.run.threads = request.threads;
    session.media.destination.options =
        DestinationOptions{request.audioCodec.value_or(AudioChoice::automatic), request.preset};
    session.sourceOptions =
        SourceOptions{request.sourceRateNum, request.sourceRateDen, request.audioStream, request.noAudio};
    RunResult result = PrepareConversion(session, frontEnd, request.source.c_str(), request.destination.c_str(),
                                         request.height, request.save);
    if (result == sourceOpened) {
        SaySourceNotes(session.media.source);
        result = StartConversion(session, frontEnd);
        if (result == conversionDone) {
            result = WaitForConversion(session);
            CloseMedia(session.media, nullptr, false);
        }
    }
    EndStatusLine();
    if (request.verbose) {
        const std::vector<std::int64_t>& cuts = session.job.cuts;
        std::string line = "tavrick: " + std::to_string(cuts.size()) + (cuts.size() == 1 ? " cut" : " cuts");
        for (std::size_t k = 0; k < cuts.size(); ++k)
            line += (k ? ", " : " found, before source frames ") + std::to_string(cuts[k]);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (result == conversionStopped && interrupts > 0) SayStopped();
    // The product's message names the failure; this line names its cause.
    if (ResultMessageId(result) != 0 && !RunFailureDetail(session).empty())
        std::fprintf(stderr, "tavrick: %s\n", RunFailureDetail(session).c_str());
    return ResultCode(result);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    terminal.progressTty = isatty(STDERR_FILENO) != 0;
    InstallSignals();
    if (args.empty()) {
        std::fputs(usageText, stderr);
        return exitUsage;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(usageText, stdout);
        std::fputs(scoreUsageText, stdout);
        return 0;
    }
    if (command == "--version") {
        Print(std::string("tavrick ") + productVersion);
        return 0;
    }
    if (command == "convert") return Convert(args);
    if (command == "info") return Info(args);
    if (command == "score") return ScoreCommand(args, TerminalFrontEnd());
    if (command == "codecs") return Codecs(args);
    return UsageError("unknown command '" + command + "'");
}
