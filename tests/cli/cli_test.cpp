// The real tavrick process: its commands, options, answers, exit codes and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/cli/tavrick_runner.h"
#include "tests/media/media_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

TEST(Info, PanelTextsAndOpenCodes) {
    Result r = Tavrick("info " + Q(MakeSource("info.avi", Spec(32, 24, 4, true))));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output,
              "Video Info\nWidth: 32 px\nHeight: 24 px\nRate: 25.000 fps\nLength (time): 0h 0m 0s 160ms\n"
              "Length (frames): 4\n\nAudio Info\nRate: 8000 Hz\nChannels: 2\nBits: 16\n"
              "Length (time): 0h 0m 0s 0ms\nLength (frames): 1280\n\nSource\nContainer: AVI\nVideo: uncompressed\n"
              "Rate: 25/1 fps (25.000), constant\nRotation: 0 degrees\nAudio: PCM");

    // 1000 frames at 30000/1001 and no audio.
    FixtureFile f;
    f.width = 16;
    f.height = 8;
    FixtureStream v;
    v.format = BitmapFormat(16, 8, 24, BI_RGB);
    v.rate = 30000;
    v.scale = 1001;
    v.length = 1000;
    v.chunks.push_back(RgbPicture(16, 8, 0));
    v.chunks.resize(1000);  // empty chunks repeat the picture
    f.streams.push_back(v);
    r = Tavrick("info " + Q(WriteFile("ntsc.avi", BuildAvi(f))));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Rate: 29.970 fps\nLength (time): 0h 0m 33s 366ms\nLength (frames): 1000\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "Audio Info\nRate:\nChannels:\nBits:\nLength (time):\nLength (frames):")) << r.output;

    r = Tavrick("info " + Q(Out("missing.avi")));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.output, "Tavrick: Cannot open the input file. Please check that it's not opened elsewhere.");
    SourceSpec audioOnly = Spec(16, 8, 2, true);
    audioOnly.video = false;
    r = Tavrick("info " + Q(MakeSource("novideo.avi", audioOnly)));
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Has(r.output, "No video stream")) << r.output;
    // Over 2 GB: refused before it is opened.
    const std::string big = Out("big.avi");
    std::filesystem::resize_file(WriteFile("big.avi", {}), 0x80000001ull);
    r = Tavrick("convert " + Q(big) + " " + Q(Out("big-out.avi")));
    EXPECT_EQ(r.code, 10);
    EXPECT_TRUE(Has(r.output, "Cannot handle files larger than 2 GB")) << r.output;
    std::filesystem::remove(big);
}

TEST(Usage, ValuesTheProductCannotTakeAreErrors) {
    const std::string src = Q(MakeSource("u.avi", Spec(16, 8, 2)));
    const std::string dst = Q(Out("u-out.avi"));
    for (const char* bad :
         {"--rate abc",      "--rate -5",       "--rate 1.2.3",  "--speed 50%",   "--method foo",     "--method 11",
          "--deinterlace 5", "--resample bob",  "--aspect 3:2",  "--height -1",   "--letterbox both", "--codec ZZZZ",
          "--codec TOOLONG", "--quality 10001", "--keyframes x", "--range 5.5",   "--frobnicate 1",   "--rate",
          "--threads 0",     "--threads x",     "--rate 0/1001", "--rate 30000/", "--rate 1/0",       "--rate ntscx"}) {
        const Result r = Tavrick("convert " + src + " " + dst + " " + bad);
        EXPECT_EQ(r.code, 64) << bad << ": " << r.output;
        EXPECT_TRUE(Has(r.output, "tavrick: ")) << bad;
    }
    EXPECT_EQ(Tavrick("convert " + src).code, 64);
    EXPECT_EQ(Tavrick("frobnicate").code, 64);
    EXPECT_EQ(Tavrick("").code, 64);
    EXPECT_FALSE(std::filesystem::exists(Out("u-out.avi")));
    const Result help = Tavrick("--help");
    EXPECT_EQ(help.code, 0);
    for (const char* option :
         {"--rate",    "--speed",      "--method", "--range",   "--deinterlace", "--resample",  "--height",
          "--aspect",  "--letterbox",  "--codec",  "--quality", "--keyframes",   "--data-rate", "--interleave",
          "--segment", "--no-segment", "--yes",    "--no",      "--save",        "--threads"})
        EXPECT_TRUE(Has(help.output, option)) << option;
    for (const char* code : {"  0 ", "  2 ", "  6 ", "  10 ", "  12 ", "  64 ", "  130 ", "  255 "})
        EXPECT_TRUE(Has(help.output, code)) << code;
    const Result codecs = Tavrick("codecs");
    EXPECT_EQ(codecs.code, 0);
    EXPECT_TRUE(Has(codecs.output, "\"DIB \"  Uncompressed")) << codecs.output;
}

TEST(Convert, FractionRatesAreKeptExactly) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    // 12 frames at 30000/1001: "the same rate" as a decimal loses the last one.
    FixtureFile f;
    f.width = 16;
    f.height = 8;
    FixtureStream v;
    v.format = BitmapFormat(16, 8, 24, BI_RGB);
    v.rate = 30000;
    v.scale = 1001;
    for (int n = 0; n < 12; ++n) v.chunks.push_back(RgbPicture(16, 8, n));
    f.streams.push_back(v);
    const std::string src = Q(WriteFile("ntsc-src.avi", BuildAvi(f)));
    const struct {
        const char* rate;
        const char* header;
        const char* frames;
    } runs[] = {{"29.97", "2997/100", "11"},         {"ntsc", "30000/1001", "12"},
                {"60000/2002", "30000/1001", "12"},  {"NTSC-film", "24000/1001", "9"},
                {"ntsc-double", "60000/1001", "24"}, {"50/2", "25/1", "10"}};
    for (const auto& run : runs) {
        const std::string dst = Out("ntsc-out.avi");
        const Result r = Tavrick("convert " + src + " " + Q(dst) + " --rate " + run.rate +
                                 " --method linear --deinterlace off --resample linear --aspect 1:1 --yes --quiet");
        ASSERT_EQ(r.code, 0) << run.rate << ": " << r.output;
        EXPECT_EQ(Probe(dst, "stream", "r_frame_rate"), run.header) << run.rate;
        EXPECT_EQ(Probe(dst, "stream", "nb_read_frames", "v:0", true), run.frames) << run.rate;
    }
    // Stored, the rate is the double it always was: the next run without --rate
    // (and the GUI) takes it as a decimal.
    Result r = Tavrick("convert " + src + " " + Q(Out("ntsc-saved.avi")) + " --rate ntsc --save --yes --quiet");
    ASSERT_EQ(r.code, 0) << r.output;
    std::ifstream in(Registry() + "/HKEY_LOCAL_MACHINE/Software/Norvane Software/Tavrick.reg");
    const std::string store((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double ntsc = 30000.0 / 1001;
    std::uint8_t bytes[8];
    std::memcpy(bytes, &ntsc, 8);
    char hex[40];
    std::snprintf(hex, sizeof hex, "%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5], bytes[6], bytes[7]);
    EXPECT_TRUE(Has(store, std::string("\"dstRate\"=hex(4):") + hex)) << store;
    r = Tavrick("convert " + src + " " + Q(Out("ntsc-again.avi")) + " --yes --quiet");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(Out("ntsc-again.avi"), "stream", "r_frame_rate"), "2997/100");
    std::filesystem::remove_all(Registry());
}

TEST(Convert, CausesInWords) {
    // A second audio stream is left behind, and said so.
    FixtureFile f;
    f.width = 16;
    f.height = 8;
    FixtureStream v;
    v.format = BitmapFormat(16, 8, 24, BI_RGB);
    for (int n = 0; n < 3; ++n) v.chunks.push_back(RgbPicture(16, 8, n));
    FixtureStream a;
    a.type = streamtypeAUDIO;
    a.suffix = "wb";
    a.rate = 8000;
    a.sampleSize = 2;
    a.format = PcmFormat(1, 8000, 16, true);
    a.chunks.assign(3, Bytes(640, 0));
    f.streams = {v, a, a};
    const std::string src = WriteFile("two-audio.avi", BuildAvi(f));
    Result r = Tavrick("convert " + Q(src) + " " + Q(Out("two-audio-out.avi")) + " --yes --quiet");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output, "tavrick: carrying audio stream 1 of 2\nTavrick: Done successfully!");
    // Onto its own source.
    r = Tavrick("convert " + Q(src) + " " + Q(src) + " --yes --quiet");
    EXPECT_EQ(r.code, 5);
    EXPECT_TRUE(Has(r.output, "\ntavrick: the destination is the source file")) << r.output;
    // Replacing a file in a folder this user can't write to: the system's words.
    char dir[] = "/tmp/tavrick-locked-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string folder = std::string(dir) + "/out";
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(src, std::string(dir) + "/src.avi");
    std::ofstream(folder + "/x.avi") << "old";
    chmod(dir, 0777);
    chmod(folder.c_str(), 0555);
    const std::string asUser = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    int status = 0;
    const std::string out =
        Capture("TAVRICK_REGISTRY_DIR='" + std::string(dir) + "/registry' " + asUser + "'" TAVRICK_BIN "' convert '" +
                    dir + "/src.avi' '" + folder + "/x.avi' --yes --quiet </dev/null 2>&1",
                &status);
    EXPECT_EQ(WEXITSTATUS(status), 5) << out;
    EXPECT_TRUE(Has(out, "tavrick: " + folder + "/x.avi can't be replaced: Permission denied")) << out;
    chmod(folder.c_str(), 0755);
    std::filesystem::remove_all(dir);
}

TEST(Convert, OptionsReachTheFileAndSaveKeepsThem) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const std::string src = Q(MakeSource("c.avi", Spec(40, 30, 10, true)));
    const std::string dst = Out("c-out.avi");
    Result r = Tavrick("convert " + src + " " + Q(dst) +
                       " --rate 50 --method coarse --deinterlace off --resample linear --aspect 4:3-pal --codec mjpg "
                       "--quality 9000 --keyframes 5 --save --quiet");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output, "Tavrick: Done successfully!");
    EXPECT_EQ(Probe(dst, "stream", "nb_read_frames", "v:0", true), "20");
    EXPECT_EQ(Probe(dst, "stream", "height"), "32");  // 40 x 0.8
    EXPECT_EQ(Probe(dst, "stream", "codec_tag_string"), "MJPG");
    EXPECT_EQ(Probe(dst, "stream", "r_frame_rate"), "50/1");

    // The saved settings are the next run's defaults; --rate 0 is clamped to 0.001 fps: no steps, an empty file.
    r = Tavrick("convert " + src + " " + Q(Out("c2.avi")) + " --height 0 --no");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(Out("c2.avi"), "stream", "nb_read_frames", "v:0", true), "20");
    EXPECT_EQ(Probe(Out("c2.avi"), "stream", "height"), "1");
    r = Tavrick("convert " + src + " " + Q(Out("c3.avi")) + " --rate 0 --codec DIB --speed 50");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(Out("c3.avi"), "stream", "codec_tag_string"), "[0][0][0][0]");
    EXPECT_EQ(Probe(Out("c3.avi"), "stream", "codec_name"), "rawvideo");  // empty, but a file readers open
    EXPECT_EQ(DecodeErrors(Out("c3.avi")), "");
    std::filesystem::remove_all(Registry());
}

TEST(Convert, CutsAreHeldByMotionOrOnRequestAndListedWhenVerbose) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    // Two scenes of five frames: the cut comes before source frame 5.
    const std::string src = Out("scenes.avi");
    int status = 0;
    Capture(
        "ffmpeg -v error -y -f lavfi -i testsrc2=s=160x96:r=10:d=0.5 -f lavfi -i "
        "mandelbrot=s=160x96:r=10:end_pts=100 -filter_complex '[0][1]concat=n=2' -frames:v 10 "
        "-c:v rawvideo -pix_fmt bgr24 " +
            Q(src) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0);
    const std::string common = " --rate 20 --range 100 --deinterlace off --resample coarse --aspect 1:1 --yes --quiet";
    Result r = Tavrick("convert " + Q(src) + " " + Q(Out("m.avi")) + " --method motion --verbose" + common);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "tavrick: 1 cut found, before source frames 5")) << r.output;
    // Lansin 2 blends across it unless asked not to; the request is kept by --save.
    r = Tavrick("convert " + Q(src) + " " + Q(Out("l.avi")) + " --method lansin2 --verbose" + common);
    EXPECT_TRUE(Has(r.output, "tavrick: 0 cuts")) << r.output;
    r = Tavrick("convert " + Q(src) + " " + Q(Out("l.avi")) + " --method lansin2 --cuts --save" + common);
    ASSERT_EQ(r.code, 0) << r.output;
    r = Tavrick("convert " + Q(src) + " " + Q(Out("l.avi")) + " --verbose" + common);
    EXPECT_TRUE(Has(r.output, "tavrick: 1 cut found, before source frames 5")) << r.output;
    std::filesystem::remove_all(Registry());
}

TEST(Convert, StoredValuesOutOfRangeAreSaidAndReplaced) {
    // A hand-edited store: no rate, no speed, a method that doesn't exist.
    const std::string key = Registry() + "/HKEY_LOCAL_MACHINE/Software/Norvane Software";
    std::filesystem::create_directories(key);
    std::ofstream(key + "/Tavrick.reg") << "Windows Registry Editor Version 5.00\n\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Norvane Software\\Tavrick]\n"
                                           "\"dstRate\"=hex(4):00,00,00,00,00,00,f8,7f\n"
                                           "\"srcSpeed\"=hex(4):00,00,00,00,00,00,00,00\n"
                                           "\"intMethod\"=dword:00000063\n";
    const std::string src = Q(MakeSource("range.avi", Spec(16, 8, 10)));
    const Result r =
        Tavrick("convert " + src + " " + Q(Out("range-out.avi")) + " --deinterlace off --resample coarse --quiet");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output,
              "tavrick: stored setting dstRate nan is out of range; using 25\n"
              "tavrick: stored setting srcSpeed 0 is out of range; using 1\n"
              "tavrick: stored setting intMethod 99 is out of range; using 6\n"
              "Tavrick: Done successfully!");
    EXPECT_EQ(StoredStreamInfo(Out("range-out.avi"), streamtypeVIDEO).dwLength, 10u);
    std::filesystem::remove_all(Registry());
}

TEST(Convert, ScalarLevelWritesTheSameFileAsTheBest) {
    const std::string src = Q(MakeSource("simd.avi", Spec(200, 64, 6, true)));
    const std::string options =
        " --rate 60 --method lansin3 --deinterlace both-top --resample interlaced-top --height 50 --quiet --yes";
    Result r = Tavrick("convert " + src + " " + Q(Out("simd-best.avi")) + options);
    ASSERT_EQ(r.code, 0) << r.output;
    r = Tavrick("convert " + src + " " + Q(Out("simd-scalar.avi")) + options + " --threads 1", "TAVRICK_SIMD=scalar ");
    ASSERT_EQ(r.code, 0) << r.output;
    const Bytes best = ReadWholeFile(Out("simd-best.avi"));
    EXPECT_GT(best.size(), 6u * 600 * 50);
    EXPECT_EQ(best, ReadWholeFile(Out("simd-scalar.avi")));
}

TEST(Convert, OverwriteAnswersAndMissingFolder) {
    const std::string src = Q(MakeSource("o.avi", Spec(16, 8, 4)));
    const std::string dst = Out("o-out.avi");
    WriteFile("o-out.avi", Bytes(5, 9));
    Result r = Tavrick("convert " + src + " " + Q(dst) + " --no");
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.output, "Tavrick: \"o-out.avi\" already exists. Overwrite it? No");
    r = Tavrick("convert " + src + " " + Q(dst));  // no terminal to ask: No
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(ReadWholeFile(dst), Bytes(5, 9));
    r = Tavrick("convert " + src + " " + Q(dst) + " --yes --quiet");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_GT(ReadWholeFile(dst).size(), 100u);

    r = Tavrick("convert " + src + " " + Q(Out("nowhere/x.avi")) + " --quiet");
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.output,
              "Tavrick: Cannot create the output file. Please check that it's not opened elsewhere.\n"
              "tavrick: " +
                  Out("nowhere/x.avi") + ": No such file or directory");
}

TEST(Convert, YesReplacesOnlyRegularFiles) {
    const std::string src = Q(MakeSource("y.avi", Spec(16, 8, 2)));
    const std::string fifo = Out("y-fifo.avi"), folder = Out("y-folder.avi"), device = Out("y-null.avi");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink("/dev/null", device);  // a link, so a regression can't remove the device
    for (const auto& [path, what] : {std::pair{fifo, "a FIFO"}, {folder, "a folder"}, {device, "a device"}}) {
        const Result r = Tavrick("convert " + src + " " + Q(path) + " --yes --quiet");
        EXPECT_EQ(r.code, 5) << r.output;
        EXPECT_EQ(r.output,
                  "Tavrick: Cannot create the output file. Please check that it's not opened elsewhere.\n"
                  "tavrick: " +
                      path + " is " + what + ", not a file that can be replaced");
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path))) << path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_symlink(device));
}

TEST(Convert, FailuresNameTheirCauseOnASecondLine) {
    // A file-size limit of 200 KiB stands in for a full disk: the codes and
    // texts stay, the next line says what the system said.
    const std::string src = Q(MakeSource("d.avi", Spec(64, 48, 60, true)));
    Result r = Tavrick("convert " + src + " " + Q(Out("d-out.avi")) + " --rate 50 --quiet", "ulimit -f 200; ");
    EXPECT_TRUE(r.code == 8 || r.code == 11) << r.code << ": " << r.output;
    EXPECT_FALSE(Has(r.output, "Done successfully")) << r.output;
    EXPECT_TRUE(Has(r.output, "Tavrick: Cannot")) << r.output;
    EXPECT_TRUE(Has(r.output, "\ntavrick: File too large, writing ")) << r.output;
    EXPECT_TRUE(Has(r.output, " to " + Out("d-out.avi"))) << r.output;

    // An encoder's refusal names the encoder, the frame size and its reason.
    r = Tavrick("convert " + src + " " + Q(Out("h264.avi")) + " --codec H264 --height 47 --quiet");
    EXPECT_EQ(r.code, 8) << r.output;
    EXPECT_TRUE(Has(r.output,
                    "Tavrick: Cannot compress a frame. Try to reboot your computer and check your disk for "
                    "errors.\ntavrick: the H.264 (x264) encoder (libx264) refused 64x47 frames: "))
        << r.output;
}

TEST(Signals, InterruptStopsWithSixAndAPlayableFile) {
    const std::string src = MakeSource("sig.avi", Spec(320, 240, 250, true));
    const std::string dst = Out("sig-out.avi"), log = Out("sig.log");
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        setenv("TAVRICK_REGISTRY_DIR", Registry().c_str(), 1);
        execl(TAVRICK_BIN, "tavrick", "convert", src.c_str(), dst.c_str(), "--rate", "200", "--method", "lansin3",
              "--deinterlace", "off", "--resample", "coarse", "--aspect", "1:1", nullptr);
        _exit(127);
    }
    // Wait for the second progress report, then interrupt.
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(log);
        std::stringstream all;
        all << in.rdbuf();
        text = all.str();
        if (std::count(text.begin(), text.end(), '\n') >= 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(std::count(text.begin(), text.end(), '\n'), 2) << text;
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 6);
    std::ifstream in(log);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_FALSE(Has(all.str(), "Done successfully")) << all.str();
    // One line says it stopped and what the file holds.
    const std::string said = "tavrick: stopped; " + dst + " holds ";
    const std::size_t at = all.str().find(said);
    ASSERT_NE(at, std::string::npos) << all.str();
    const int held = std::atoi(all.str().c_str() + at + said.size());
    EXPECT_GE(held, 22);
    if (HaveFfmpeg()) {
        EXPECT_EQ(std::atoi(Probe(dst, "stream", "nb_read_frames", "v:0", true).c_str()), held);
        EXPECT_EQ(DecodeErrors(dst), "");
    }
}

}  // namespace
