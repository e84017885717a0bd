// Sources in other containers through the real tavrick, checked with an
// independent reader: ffmpeg's own decoding of the same files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

struct Result {
    int code;
    std::string output;
};

Result Tavrick(const std::string& args) {
    int status = 0;
    const std::string out = Capture(
        "TAVRICK_REGISTRY_DIR='" + TempDir() + "/registry' '" TAVRICK_BIN "' " + args + " </dev/null 2>&1", &status);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Path(const std::string& name) { return TempDir() + "/" + name; }

// A clip made by ffmpeg from its test pictures and a tone: `inputs` names
// the sources (lavfi graphs), `args` the codecs and container options.
std::string Clip(const std::string& name, const std::string& args,
                 const std::string& inputs =
                     "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1.6 "
                     "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.6") {
    const std::string path = Path(name);
    int rc = 0;
    const std::string out = Capture("ffmpeg -v error -y " + inputs + " " + args + " '" + path + "' 2>&1", &rc);
    EXPECT_EQ(rc, 0) << out;
    return path;
}

// The MD5 of every picture as packed BGR, in display order: each once
// ("passthrough"), or as ffmpeg places them on the stream's constant rate ("cfr").
std::vector<std::string> Pictures(const std::string& path, const std::string& mode = "passthrough") {
    std::istringstream lines(Capture("ffmpeg -v error -i '" + path + "' -map 0:v:0 -fps_mode " + mode +
                                     " -pix_fmt bgr24 -f framemd5 - 2>/dev/null"));
    std::vector<std::string> md5;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') md5.push_back(line.substr(line.rfind(',') + 2));
    return md5;
}

Result Coarse(const std::string& source, const std::string& out, const std::string& rate,
              const std::string& extra = "") {
    return Tavrick("convert '" + source + "' '" + out + "' --rate " + rate +
                   " --method coarse --deinterlace off --aspect 1:1 --codec DIB --yes --quiet " + extra);
}

double Seconds(const std::string& path, const char* stream, const char* entry) {
    return std::atof(Probe(path, "stream", entry, stream).c_str());
}

// Converted at the rate they were made at, every container gives back its
// pictures one for one, as ffmpeg decodes them (rotation applied), and the
// audio decoded to PCM lasts as long as the video, to within a frame.
TEST(Containers, CoarseAtTheSourceRateGivesEveryPictureOnce) {
    struct Case {
        const char* name;
        std::string args;
        bool audio;
    };
    const Case cases[] = {
        {"bframes.mp4", "-c:v libx264 -bf 3 -pix_fmt yuv420p -c:a aac", true},
        {"hevc10.mkv", "-c:v libx265 -pix_fmt yuv420p10le -x265-params log-level=none -c:a libopus", true},
        {"prores.mov", "-c:v prores -c:a pcm_s16le", true},
        {"vp9.webm", "-c:v libvpx-vp9 -deadline realtime -c:a libopus", true},
        {"mpeg2.ts", "-c:v mpeg2video -flags +ilme+ildct -top 1 -bf 2 -c:a ac3", true},
        // Sound the AVI services can't carry: decoded.
        {"mp3.avi", "-c:v mjpeg -c:a libmp3lame", true},
        {"adpcm.avi", "-c:v mjpeg -c:a adpcm_ms", true},
        {"aac.avi", "-c:v mjpeg -c:a aac", true},
        {"pcm24-extensible.avi", "-c:v mjpeg -c:a pcm_s24le -ac 6", true},
        {"ntsc.mkv", "-c:v libx264 -pix_fmt yuv420p", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Matroska keeps times in milliseconds: 29.97 fps can't be exact there.
        const bool ntsc = std::string(c.name) == "ntsc.mkv";
        const std::string source =
            ntsc ? Clip(c.name, c.args, "-f lavfi -i testsrc2=size=160x120:rate=30000/1001:duration=1.6")
                 : Clip(c.name, c.args);
        const std::string out = Path(std::string(c.name) + ".avi");
        // The output's 29.97 is not 30000/1001: the source is read on the same grid.
        const Result r = Coarse(source, out, ntsc ? "29.97" : "25", ntsc ? "--source-rate 29.97" : "");
        ASSERT_EQ(r.code, 0) << r.output;
        const std::vector<std::string> in = Pictures(source, "cfr"), written = Pictures(out);
        ASSERT_GE(in.size(), 40u);
        // The AVI services read AVI pictures, as before (ffmpeg's constant-rate
        // reading moves a picture into the gap an empty chunk leaves).
        if (!std::string(c.name).ends_with(".avi")) {
            EXPECT_EQ(written, in);
        }
        if (!c.audio) {
            EXPECT_EQ(Probe(out, "stream", "codec_type", "a:0"), "");
            continue;
        }
        EXPECT_EQ(Probe(out, "stream", "codec_name", "a:0"), "pcm_s16le");
        const double video = Seconds(out, "v:0", "duration");
        const double audio =
            std::atof(Probe(out, "stream", "nb_frames", "a:0").c_str()) / Seconds(out, "a:0", "sample_rate");
        EXPECT_NEAR(audio, video, 1.0 / 25) << "video " << video << " s, audio " << audio << " s";
    }
}

// The same pictures from an MP4 (B-frames, a key frame every 12, so
// skipping ahead seeks) and from an uncompressed AVI give the same output
// bytes, whatever the run asks of the source: the kernels see the same input.
TEST(Containers, AnMp4AndAnAviOfTheSamePicturesConvertAlike) {
    const std::string mp4 = Clip("gop12.mp4", "-c:v libx264 -bf 3 -g 12 -pix_fmt yuv420p -an",
                                 "-f lavfi -i testsrc2=size=96x64:rate=25:duration=6");
    const std::string avi = Path("gop12.avi");
    Capture("ffmpeg -v error -y -i '" + mp4 + "' -c:v rawvideo -pix_fmt bgr24 '" + avi + "'");
    for (const char* run :
         {"--speed 2500 --method coarse --deinterlace off", "--speed 50 --method lansin2 --deinterlace off",
          "--speed 130 --method median5 --deinterlace both-top --resample interlaced-top"}) {
        SCOPED_TRACE(run);
        const std::string common = std::string(" --rate 25 --aspect 1:1 --codec DIB --yes --quiet ") + run;
        ASSERT_EQ(Tavrick("convert '" + mp4 + "' '" + Path("from-mp4.avi") + "'" + common).code, 0);
        ASSERT_EQ(Tavrick("convert '" + avi + "' '" + Path("from-avi.avi") + "'" + common).code, 0);
        const std::vector<std::string> fromMp4 = Pictures(Path("from-mp4.avi"));
        EXPECT_GE(fromMp4.size(), 5u);
        EXPECT_EQ(fromMp4, Pictures(Path("from-avi.avi")));
    }
}

// A phone-like clip: B-frames, uneven spacing with jitter and a gap, and a
// 90 or 270 degree turn. Read on a 30 fps grid, position n shows the picture
// whose time (as ffprobe reads it) is the latest at or before n / 30.
TEST(Containers, VariableRateSourceOnAConstantGrid) {
    const std::string times =
        "(N*40+if(eq(mod(N\\,4)\\,1)\\,13\\,0)-if(eq(mod(N\\,7)\\,3)\\,7\\,0)+if(gte(N\\,20)\\,90\\,0))";
    for (const char* turn : {"90", "270"}) {
        SCOPED_TRACE(turn);
        const std::string made = Clip(std::string("vfr-") + turn + ".mp4",
                                      "-vf settb=1/1000,setpts='" + times +
                                          "/1000/TB' -fps_mode passthrough -enc_time_base 1/1000 -c:v libx264 -bf 3 "
                                          "-pix_fmt yuv420p -video_track_timescale 1000 -c:a aac",
                                      "-f lavfi -i testsrc2=size=160x96:rate=25:duration=2 "
                                      "-f lavfi -i sine=frequency=300:sample_rate=44100:duration=2");
        const std::string source = Path(std::string("vfr-rot") + turn + ".mp4");
        Capture("ffmpeg -v error -y -i '" + made + "' -c copy -metadata:s:v:0 rotate=" + turn + " '" + source + "'");
        const Result info = Tavrick("info '" + source + "'");
        EXPECT_NE(info.output.find("Width: 96 px\nHeight: 160 px"), std::string::npos) << info.output;
        EXPECT_NE(info.output.find("variable: read on this average rate"), std::string::npos) << info.output;

        std::vector<long> pts;
        std::istringstream packets(
            Capture("ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 '" + source + "'"));
        for (std::string line; std::getline(packets, line);)
            if (!line.empty()) pts.push_back(std::atol(line.c_str()));
        std::sort(pts.begin(), pts.end());
        // The pictures' durations add up to the stream's: the last stops showing there.
        const long end = std::atol(Probe(source, "stream", "duration_ts", "v:0").c_str());
        ASSERT_EQ(pts.size(), 50u);
        const std::string base = Probe(source, "stream", "time_base", "v:0");
        ASSERT_EQ(base.substr(0, 2), "1/");
        const long ticks = std::atol(base.c_str() + 2);  // per second

        const std::string out = Path(std::string("vfr-") + turn + ".avi");
        const Result r = Coarse(source, out, "30", "--source-rate 30");
        ASSERT_EQ(r.code, 0) << r.output;
        const std::vector<std::string> in = Pictures(source), written = Pictures(out);
        ASSERT_EQ(in.size(), pts.size());
        ASSERT_EQ(written.size(), static_cast<size_t>((end * 30 + ticks - 1) / ticks));
        for (size_t n = 0; n < written.size(); ++n) {
            size_t shown = 0;
            while (shown + 1 < pts.size() && (pts[shown + 1] - pts.front()) * 30 <= static_cast<long>(n) * ticks)
                ++shown;
            EXPECT_EQ(written[n], in[shown]) << "position " << n << " should show picture " << shown;
        }
        const double audio = std::atof(Probe(out, "stream", "nb_frames", "a:0").c_str()) / 44100;
        EXPECT_NEAR(audio, written.size() / 30.0, 1.0 / 30);
    }
}

// Sample 0 of the audio plays with the first picture: sound that starts
// half a second later is preceded by half a second of silence; sound that
// starts before the first picture (silent for its first half second here)
// loses what comes first.
TEST(Containers, AudioIsPlacedByItsTimestamps) {
    const auto firstSound = [](const std::string& avi) {
        const std::string pcm = Capture("ffmpeg -v error -i '" + avi + "' -map 0:a -f s16le - 2>/dev/null");
        for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
            const int v = static_cast<int16_t>(static_cast<uint8_t>(pcm[i]) | static_cast<uint8_t>(pcm[i + 1]) << 8);
            if (std::abs(v) > 100) return static_cast<long>(i / 2);
        }
        return -1L;
    };
    const std::string late = Clip("late.mkv", "-map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a flac",
                                  "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -itsoffset 0.5 "
                                  "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.5");
    ASSERT_EQ(Coarse(late, Path("late.avi"), "25").code, 0);
    EXPECT_NEAR(firstSound(Path("late.avi")), 24000, 2);
    const std::string early = Clip("early.mkv", "-map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a flac",
                                   "-itsoffset 0.5 -f lavfi -i testsrc2=size=64x48:rate=25:duration=1.5 "
                                   "-f lavfi -i \"aevalsrc=if(lt(t\\,0.5)\\,0\\,0.5*sin(2*PI*440*t)):s=48000:d=2\"");
    ASSERT_EQ(Coarse(early, Path("early.avi"), "25").code, 0);
    EXPECT_LE(firstSound(Path("early.avi")), 2);
    // As long as the video: 1920 samples a frame.
    EXPECT_EQ(std::atol(Probe(Path("early.avi"), "stream", "nb_frames", "a:0").c_str()),
              1920 * std::atol(Probe(Path("early.avi"), "stream", "nb_frames", "v:0").c_str()));
}

// Only the named file is read: playlists and concatenation lists, which
// would open other files, are refused, and so is a damaged file, quickly.
TEST(Containers, ListsOfOtherFilesAndDamagedFilesAreRefused) {
    const std::string clip = Clip("target.mp4", "-c:v libx264 -pix_fmt yuv420p -an");
    const std::string concat = WriteFile("list.ffconcat", [&] {
        const std::string text = "ffconcat version 1.0\nfile '" + clip + "'\n";
        return Bytes(text.begin(), text.end());
    }());
    const std::string playlist = WriteFile("list.m3u8", [&] {
        const std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.6,\n" + clip + "\n#EXT-X-ENDLIST\n";
        return Bytes(text.begin(), text.end());
    }());
    Bytes truncated = ReadWholeFile(Clip("whole.mov", "-c:v mpeg4 -c:a pcm_s16le"));
    truncated.resize(truncated.size() / 2);
    for (const std::string& path : {concat, playlist, WriteFile("truncated.mov", truncated)}) {
        SCOPED_TRACE(path);
        const Result r = Tavrick("info '" + path + "'");
        EXPECT_EQ(r.code, 1) << r.output;
        EXPECT_NE(r.output.find("Tavrick: Cannot open the input file."), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("\ntavrick: "), std::string::npos) << r.output;  // and why
    }
    EXPECT_EQ(Tavrick("info '" + clip + "'").code, 0);
}

// Type-1 DV (one interleaved stream, "iavs") is read by libavformat; the
// audio can be chosen or left out.
TEST(Containers, DvTypeOneAndTheAudioChoice) {
    const std::string dv = Clip("camcorder.dv", "-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2",
                                "-f lavfi -i testsrc2=size=720x576:rate=25:duration=0.4 "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.4");
    // ffmpeg writes DV in AVI as a video stream (type 2); the stream type
    // "iavs" makes the same frames, sound inside, type 1.
    const std::string type2 = Path("type2.avi");
    Capture("ffmpeg -v error -y -i '" + dv + "' -map 0:v -c copy -vtag dvsd '" + type2 + "'");
    Bytes bytes = ReadWholeFile(type2);
    const std::string vids = "vidsdvsd";
    const auto at = std::search(bytes.begin(), bytes.end(), vids.begin(), vids.end());
    ASSERT_NE(at, bytes.end());
    std::copy_n("iavs", 4, at);
    const std::string avi = WriteFile("type1.avi", bytes);
    Result r = Coarse(avi, Path("type1-out.avi"), "50");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Pictures(Path("type1-out.avi")).size(), 20u);
    EXPECT_EQ(Probe(Path("type1-out.avi"), "stream", "nb_frames", "a:0"), "19200");
    r = Coarse(avi, Path("type1-mute.avi"), "50", "--no-audio");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(Path("type1-mute.avi"), "stream", "codec_type", "a:0"), "");

    const std::string two = Clip("two-audio.mkv", "-map 0:v -map 1:a -map 2:a -c:v libx264 -pix_fmt yuv420p -c:a flac",
                                 "-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1");
    EXPECT_EQ(Coarse(two, Path("second.avi"), "25", "--audio-stream 1").code, 0);
    EXPECT_EQ(Probe(Path("second.avi"), "stream", "sample_rate", "a:0"), "22050");
    EXPECT_EQ(Coarse(two, Path("first.avi"), "25").code, 0);
    EXPECT_EQ(Probe(Path("first.avi"), "stream", "sample_rate", "a:0"), "8000");
    // A stream the file doesn't have is no stream information (3), and says so.
    r = Coarse(two, Path("third.avi"), "25", "--audio-stream 2");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.output.find("tavrick: the source has no audio stream 2"), std::string::npos) << r.output;
}

}  // namespace

namespace {

// Decoded seconds of the first audio stream, as a player would hear it
// (encoder delay and edit lists applied).
double DecodedAudioSeconds(const std::string& path) {
    const std::string pcm =
        Capture("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -ac 1 -ar 48000 - 2>/dev/null");
    return static_cast<double>(pcm.size()) / 2 / 48000;
}

// Outputs in MKV, MP4, MOV and WebM: each opens and decodes in ffmpeg without
// a complaint, carries the codecs asked for (or the container's default for
// the source's PCM), has audio as long as its video to within a frame, and
// MP4/MOV keep their index in front. Lossless FFV1 at the source's rate
// gives the source's pictures one for one.
TEST(Outputs, EveryContainerWritesWhatItTakes) {
    const std::string source = Clip("pcm-source.avi", "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2");
    struct Case {
        const char* out;
        const char* codec;
        const char* extra;
        const char* video;
        const char* audio;
    };
    const Case cases[] = {
        {"ffv1.mkv", "FFV1", "--rate 25", "ffv1", "pcm_s16le"},
        {"hevc.mkv", "HEVC", "--rate 50 --audio-codec flac", "hevc", "flac"},
        {"x264.mkv", "H264", "--rate 30000/1001 --audio-codec opus --preset ultrafast", "h264", "opus"},
        {"x264.mp4", "H264", "--rate 50", "h264", "aac"},
        {"prores.mov", "APCN", "--rate 50", "prores", "pcm_s16le"},
        {"x264.mov", "H264", "--rate 24 --audio-codec aac --speed 80", "h264", "aac"},
        {"vp9.webm", "VP90", "--rate 50", "vp9", "opus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string out = Path(c.out);
        const Result r =
            Tavrick("convert '" + source + "' '" + out + "' --method coarse --deinterlace off --aspect 1:1 " +
                    "--codec " + c.codec + " --quality 9000 --yes --quiet " + c.extra);
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(Capture("ffmpeg -v error -i '" + out + "' -f null - 2>&1"), "");
        EXPECT_EQ(Probe(out, "stream", "codec_name", "v:0"), c.video);
        EXPECT_EQ(Probe(out, "stream", "codec_name", "a:0"), c.audio);
        const std::string rate = Probe(out, "stream", "r_frame_rate", "v:0");
        const double fps = std::atof(rate.c_str()) / std::atof(rate.substr(rate.find('/') + 1).c_str());
        const std::vector<std::string> written = Pictures(out);
        const double video = static_cast<double>(written.size()) / fps;
        EXPECT_NEAR(DecodedAudioSeconds(out), video, 1.0 / fps) << written.size() << " frames at " << rate;
        if (std::string(c.out).ends_with(".mp4") || std::string(c.out).ends_with(".mov")) {
            const std::string bytes = Capture("head -c 65536 '" + out + "'");
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "index behind the media";
        }
        if (std::string(c.codec) == "FFV1") {
            EXPECT_EQ(written, Pictures(source));
        }
    }
}

// Coarse at twice the rate holds every picture for two frames; each is
// encoded as the picture it repeats, and no new picture is taken for the last.
TEST(Outputs, HeldFramesRepeatTheirPicture) {
    const std::string source = Clip("held-source.avi", "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le");
    const std::string out = Path("held.mkv");
    const Result r = Coarse(source, out, "50", "--codec FFV1");
    ASSERT_EQ(r.code, 0) << r.output;
    const std::vector<std::string> original = Pictures(source), written = Pictures(out);
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(written.size(), 2 * original.size());
    std::vector<std::string> distinct = written;
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(distinct, original);
}

// Compressed sound is decoded and encoded again: AAC stays AAC where the
// container takes it (copy), a container that can't take it refuses the run
// before anything is written, and the sound still lasts as long as the video.
TEST(Outputs, CopiedSoundKeepsItsCodec) {
    const std::string source = Clip("aac-source.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac");
    const std::string mkv = Path("copied.mkv"), webm = Path("copied.webm");
    const std::string common = "' --method coarse --rate 25 --aspect 1:1 --yes --quiet --audio-codec copy --codec ";
    const Result kept = Tavrick("convert '" + source + "' '" + mkv + common + "H264 --preset ultrafast");
    ASSERT_EQ(kept.code, 0) << kept.output;
    EXPECT_EQ(Probe(mkv, "stream", "codec_name", "a:0"), "aac");
    EXPECT_NEAR(DecodedAudioSeconds(mkv), static_cast<double>(Pictures(mkv).size()) / 25, 1.0 / 25);
    const Result refused = Tavrick("convert '" + source + "' '" + webm + common + "VP90");
    EXPECT_NE(refused.code, 0);
    EXPECT_NE(refused.output.find("webm container takes no AAC"), std::string::npos) << refused.output;
    EXPECT_FALSE(std::ifstream(webm).good());
}

// What the destination's container can't take is refused before anything
// opens, as a usage error; the codec list shows only what it takes.
TEST(Outputs, WhatTheContainerCantTakeIsAUsageError) {
    const std::string source = Path("pcm-source.avi");
    for (const char* args :
         {"x.webm --codec H264", "x.mp4 --codec FFV1", "x.mov --codec VP90", "x.webm --audio-codec pcm",
          "x.avi --audio-codec aac", "x.mkv --audio-codec mp3", "x.mkv --preset fastest"}) {
        SCOPED_TRACE(args);
        const Result r = Tavrick("convert '" + source + "' " + Path(args) + " --yes --quiet");
        EXPECT_EQ(r.code, 64) << r.output;
    }
    const Result webm = Tavrick("codecs --container webm");
    ASSERT_EQ(webm.code, 0);
    EXPECT_NE(webm.output.find("\"VP90\""), std::string::npos) << webm.output;
    EXPECT_EQ(webm.output.find("\"H264\""), std::string::npos) << webm.output;
    const Result avi = Tavrick("codecs");
    EXPECT_EQ(avi.output.find("\"HEVC\""), std::string::npos) << avi.output;
    EXPECT_EQ(Tavrick("codecs --container flv").code, 64);
}

}  // namespace
