// Sources in other containers through the real tavrick, checked with an
// independent reader: ffmpeg's own decoding of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/cli/tavrick_runner.h"
#include "tests/media/avi_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

// A clip made by ffmpeg from its test pictures and a tone: `inputs` names
// the sources (lavfi graphs), `args` the codecs and container options.
std::string Clip(const std::string& name, const std::string& args,
                 const std::string& inputs =
                     "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1.6 "
                     "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.6") {
    const std::string path = Out(name);
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
        const std::string out = Out(std::string(c.name) + ".avi");
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
    const std::string avi = Out("gop12.avi");
    Capture("ffmpeg -v error -y -i '" + mp4 + "' -c:v rawvideo -pix_fmt bgr24 '" + avi + "'");
    for (const char* run :
         {"--speed 2500 --method coarse --deinterlace off", "--speed 50 --method lansin2 --deinterlace off",
          "--speed 130 --method median5 --deinterlace both-top --resample interlaced-top"}) {
        SCOPED_TRACE(run);
        const std::string common = std::string(" --rate 25 --aspect 1:1 --codec DIB --yes --quiet ") + run;
        ASSERT_EQ(Tavrick("convert '" + mp4 + "' '" + Out("from-mp4.avi") + "'" + common).code, 0);
        ASSERT_EQ(Tavrick("convert '" + avi + "' '" + Out("from-avi.avi") + "'" + common).code, 0);
        const std::vector<std::string> fromMp4 = Pictures(Out("from-mp4.avi"));
        EXPECT_GE(fromMp4.size(), 5u);
        EXPECT_EQ(fromMp4, Pictures(Out("from-avi.avi")));
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
        const std::string source = Out(std::string("vfr-rot") + turn + ".mp4");
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

        const std::string out = Out(std::string("vfr-") + turn + ".avi");
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
    ASSERT_EQ(Coarse(late, Out("late.avi"), "25").code, 0);
    EXPECT_NEAR(firstSound(Out("late.avi")), 24000, 2);
    const std::string early = Clip("early.mkv", "-map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a flac",
                                   "-itsoffset 0.5 -f lavfi -i testsrc2=size=64x48:rate=25:duration=1.5 "
                                   "-f lavfi -i \"aevalsrc=if(lt(t\\,0.5)\\,0\\,0.5*sin(2*PI*440*t)):s=48000:d=2\"");
    ASSERT_EQ(Coarse(early, Out("early.avi"), "25").code, 0);
    EXPECT_LE(firstSound(Out("early.avi")), 2);
    // As long as the video: 1920 samples a frame.
    EXPECT_EQ(std::atol(Probe(Out("early.avi"), "stream", "nb_frames", "a:0").c_str()),
              1920 * std::atol(Probe(Out("early.avi"), "stream", "nb_frames", "v:0").c_str()));
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
    const std::string type2 = Out("type2.avi");
    Capture("ffmpeg -v error -y -i '" + dv + "' -map 0:v -c copy -vtag dvsd '" + type2 + "'");
    Bytes bytes = ReadWholeFile(type2);
    const std::string vids = "vidsdvsd";
    const auto at = std::search(bytes.begin(), bytes.end(), vids.begin(), vids.end());
    ASSERT_NE(at, bytes.end());
    std::copy_n("iavs", 4, at);
    const std::string avi = WriteFile("type1.avi", bytes);
    Result r = Coarse(avi, Out("type1-out.avi"), "50");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Pictures(Out("type1-out.avi")).size(), 20u);
    EXPECT_EQ(Probe(Out("type1-out.avi"), "stream", "nb_frames", "a:0"), "19200");
    r = Coarse(avi, Out("type1-mute.avi"), "50", "--no-audio");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(Out("type1-mute.avi"), "stream", "codec_type", "a:0"), "");

    const std::string two = Clip("two-audio.mkv", "-map 0:v -map 1:a -map 2:a -c:v libx264 -pix_fmt yuv420p -c:a flac",
                                 "-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 "
                                 "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1");
    EXPECT_EQ(Coarse(two, Out("second.avi"), "25", "--audio-stream 1").code, 0);
    EXPECT_EQ(Probe(Out("second.avi"), "stream", "sample_rate", "a:0"), "22050");
    EXPECT_EQ(Coarse(two, Out("first.avi"), "25").code, 0);
    EXPECT_EQ(Probe(Out("first.avi"), "stream", "sample_rate", "a:0"), "8000");
    // A stream the file doesn't have is no stream information (3), and says so.
    r = Coarse(two, Out("third.avi"), "25", "--audio-stream 2");
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
// MP4/MOV keep their index in front. Lossless FFV1 and uncompressed pictures
// at the source's rate give the source's pictures one for one. Tavrick's own
// info reads each.
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
        {"raw.mkv", "DIB", "--rate 25", "rawvideo", "pcm_s16le"},
        {"hevc.mkv", "HEVC", "--rate 50 --audio-codec flac", "hevc", "flac"},
        {"x264.mkv", "H264", "--rate 30000/1001 --audio-codec opus --preset ultrafast", "h264", "opus"},
        {"x264.mp4", "H264", "--rate 50", "h264", "aac"},
        {"prores.mov", "APCN", "--rate 50", "prores", "pcm_s16le"},
        {"x264.mov", "H264", "--rate 24 --audio-codec aac --speed 80", "h264", "aac"},
        {"vp9.webm", "VP90", "--rate 50", "vp9", "opus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string out = Out(c.out);
        const Result r =
            Tavrick("convert '" + source + "' '" + out + "' --method coarse --deinterlace off --aspect 1:1 " +
                    "--codec " + c.codec + " --quality 9000 --yes --quiet " + c.extra);
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(Capture("ffmpeg -v error -i '" + out + "' -f null - 2>&1"), "");
        EXPECT_EQ(Probe(out, "stream", "codec_name", "v:0"), c.video);
        EXPECT_EQ(Probe(out, "stream", "codec_name", "a:0"), c.audio);
        // Tavrick reads back what it writes.
        const Result info = Tavrick("info '" + out + "'");
        EXPECT_EQ(info.code, 0) << info.output;
        EXPECT_NE(info.output.find("Video Info\nWidth: 160 px\nHeight: 120 px\nRate: "), std::string::npos)
            << info.output;
        EXPECT_NE(info.output.find("Audio Info\nRate: "), std::string::npos) << info.output;
        const std::string rate = Probe(out, "stream", "r_frame_rate", "v:0");
        const double fps = std::atof(rate.c_str()) / std::atof(rate.substr(rate.find('/') + 1).c_str());
        const std::vector<std::string> written = Pictures(out);
        const double video = static_cast<double>(written.size()) / fps;
        EXPECT_NEAR(DecodedAudioSeconds(out), video, 1.0 / fps) << written.size() << " frames at " << rate;
        if (std::string(c.out).ends_with(".mp4") || std::string(c.out).ends_with(".mov")) {
            const std::string bytes = Capture("head -c 65536 '" + out + "'");
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "index behind the media";
        }
        if (std::string(c.codec) == "FFV1" || std::string(c.codec) == "DIB") {
            EXPECT_EQ(written, Pictures(source));
        }
    }
}

// The MD5s of a file's first audio stream's packets as stored, in order.
std::vector<std::string> AudioPackets(const std::string& path) {
    std::istringstream lines(Capture("ffmpeg -v error -i '" + path + "' -map 0:a:0 -c copy -f framemd5 - 2>/dev/null"));
    std::vector<std::string> md5;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string field;
        for (int k = 0; k < 6 && std::getline(fields, field, ',');) ++k;  // stream, dts, pts, duration, size, hash
        if (!line.empty() && line[0] != '#') md5.push_back(field.substr(1));
    }
    return md5;
}

// The first audio stream decoded to 32-bit samples, every byte.
Bytes Samples32(const std::string& path) {
    const std::string raw = path + ".s32";
    Capture("ffmpeg -v error -y -i '" + path + "' -map 0:a:0 -f s32le '" + raw + "'");
    return ReadWholeFile(raw);
}

// Sound the destination's container takes goes over as stored by default:
// the source's own packets, those that play with the video and none made up,
// starting against the first picture as in the source, as long as the video
// to within a frame. PCM is cut to the sample and, where the video outlasts
// it (speed 80 %), padded with silence, as decoded sound is.
TEST(Outputs, SoundTheContainerTakesGoesOverAsStored) {
    struct Case {
        const char* source;
        const char* made;
        const char* out;
        const char* extra;
        const char* codec;
    };
    const Case cases[] = {
        {"aac.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac", "aac.mkv", "--codec H264 --preset ultrafast --rate 50",
         "aac"},
        {"opus.mkv", "-c:v libx264 -pix_fmt yuv420p -c:a libopus", "opus.webm", "--codec VP90 --rate 30000/1001",
         "opus"},
        {"pcm24.mov", "-c:v prores -c:a pcm_s24le -ac 2", "pcm24.mov", "--codec APCN --rate 50 --speed 80",
         "pcm_s24le"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string source = Clip(c.source, c.made), out = Out(std::string("stored-") + c.out);
        const Result r = Tavrick("convert '" + source + "' '" + out +
                                 "' --method coarse --deinterlace off --aspect 1:1 --yes --quiet " + c.extra);
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(Capture("ffmpeg -v error -i '" + out + "' -f null - 2>&1"), "");
        EXPECT_EQ(Probe(out, "stream", "codec_name", "a:0"), c.codec);
        const std::string rate = Probe(out, "stream", "r_frame_rate", "v:0");
        const double fps = std::atof(rate.c_str()) / std::atof(rate.substr(rate.find('/') + 1).c_str());
        const std::size_t frames = Pictures(out).size();
        EXPECT_NEAR(DecodedAudioSeconds(out), frames / fps, 1.0 / fps);
        // Matroska keeps milliseconds, and FFmpeg's muxer moves Opus by a part of its codec delay.
        const auto lead = [](const std::string& f) {
            return Seconds(f, "a:0", "start_time") - Seconds(f, "v:0", "start_time");
        };
        EXPECT_NEAR(lead(out), lead(source), 0.008);
        if (std::string(c.codec).starts_with("pcm")) {
            const Bytes in = Samples32(source), written = Samples32(out);
            ASSERT_EQ(written.size(), frames * 48000 / 50 * 2 * 4);
            ASSERT_LT(in.size(), written.size());
            EXPECT_TRUE(std::equal(in.begin(), in.end(), written.begin())) << "the source's samples, each once";
            EXPECT_TRUE(std::all_of(written.begin() + static_cast<std::ptrdiff_t>(in.size()), written.end(),
                                    [](std::uint8_t b) { return b == 0; }));
        } else {
            // All but a decoder's priming (which Matroska would play) and what
            // plays after the video's end.
            const std::vector<std::string> in = AudioPackets(source), written = AudioPackets(out);
            ASSERT_FALSE(written.empty());
            const auto first = std::find(in.begin(), in.end(), written.front());
            ASSERT_LE(first - in.begin(), 1);
            ASSERT_LE(written.size(), static_cast<std::size_t>(in.end() - first));
            EXPECT_GE(written.size() + 2, static_cast<std::size_t>(in.end() - first));
            EXPECT_TRUE(std::equal(written.begin(), written.end(), first)) << "the source's packets, in order";
        }
    }
}

// PCM carried as stored that starts after the first picture is preceded by
// silence, to the sample, as decoded sound is: the tone starts half a second in.
TEST(Outputs, StoredPcmThatStartsLateIsPrecededBySilence) {
    const std::string late = Clip("late-pcm.mkv", "-map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a pcm_s16le",
                                  "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -itsoffset 0.5 "
                                  "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.5");
    const std::string out = Out("late-pcm-out.mkv");
    const Result r = Tavrick("convert '" + late + "' '" + out +
                             "' --rate 25 --method coarse --aspect 1:1 --codec FFV1 --yes --quiet");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Probe(out, "stream", "codec_name", "a:0"), "pcm_s16le");
    const Bytes pcm = Samples32(out);
    ASSERT_EQ(pcm.size(), 96000u * 4);
    std::size_t first = 0;
    while (first + 4 <= pcm.size() &&
           std::abs(static_cast<std::int32_t>(pcm[first] | pcm[first + 1] << 8 | pcm[first + 2] << 16 |
                                              pcm[first + 3] << 24)) < (100 << 16))
        first += 4;
    EXPECT_NEAR(static_cast<double>(first / 4), 24000, 2);
}

// A codec named is encoded, even the source's own; copy where the container
// can't take the source's codec refuses the run before anything is written
// and says why under the product's message, where the default encodes.
TEST(Outputs, ANamedCodecEncodesAndARefusedCopySaysWhy) {
    const std::string aac = Clip("aac.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac");
    const std::string opus = Clip("opus.mkv", "-c:v libx264 -pix_fmt yuv420p -c:a libopus");
    const std::string common = "' --method coarse --rate 25 --aspect 1:1 --yes --quiet --codec H264 --preset ultrafast";
    ASSERT_EQ(Tavrick("convert '" + aac + "' '" + Out("again.mkv") + common + " --audio-codec aac").code, 0);
    EXPECT_EQ(Probe(Out("again.mkv"), "stream", "codec_name", "a:0"), "aac");
    const std::vector<std::string> again = AudioPackets(Out("again.mkv")), stored = AudioPackets(aac);
    ASSERT_GE(again.size(), 40u);
    EXPECT_NE(again[20], stored[20]);

    const std::string mov = Out("refused.mov");
    const Result refused = Tavrick("convert '" + opus + "' '" + mov + common + " --audio-codec copy");
    EXPECT_EQ(refused.code, 11);
    EXPECT_NE(refused.output.find("Tavrick: Cannot write audio."), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("\ntavrick: the mov container takes no Opus (Opus Interactive Audio Codec) audio "
                                  "as stored (opus only supported in MP4)"),
              std::string::npos)
        << refused.output;
    EXPECT_FALSE(std::ifstream(mov).good());
    ASSERT_EQ(Tavrick("convert '" + opus + "' '" + mov + common).code, 0);
    EXPECT_EQ(Probe(mov, "stream", "codec_name", "a:0"), "aac");
}

// The pixels' shape goes to the output: the source's where the picture
// keeps its rows, scaled with them where it is resized (so the picture shows
// as in the source), turned with a turned picture, and left unsaid where the
// source says nothing (an AVI), so a resize made for square pixels stays.
TEST(Outputs, TheSampleAspectKeepsThePictureShape) {
    const std::string small = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=0.4";
    const std::string wide = Clip("sar.mkv", "-vf setsar=64/45 -c:v libx264 -pix_fmt yuv420p", small);
    const std::string turned = Out("sar-turned.mp4");
    Capture("ffmpeg -v error -y -i '" + wide + "' -c copy -metadata:s:v:0 rotate=90 '" + turned + "'");
    const std::string plain = Clip("plain.avi", "-c:v mjpeg", small);
    struct Case {
        std::string source;
        const char* out;
        const char* args;
        const char* shape;
    };
    const Case cases[] = {
        {wide, "kept.mkv", "--aspect custom", "160,120,64:45"},
        {wide, "squeezed.mp4", "--height 60", "160,60,32:45"},
        {wide, "boxed.mov", "--height 60 --letterbox frame", "160,120,32:45"},
        {wide, "cropped.mkv", "--height 60 --letterbox image", "160,60,64:45"},
        {turned, "turned.mkv", "--aspect custom", "120,160,45:64"},
        {plain, "plain.mkv", "--height 90", "160,90,N/A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string out = Out(c.out);
        const bool mkv = std::string(c.out).ends_with(".mkv");
        const Result r = Tavrick("convert '" + c.source + "' '" + out + "' --rate 25 --method coarse --yes --quiet " +
                                 (mkv ? "--codec FFV1 " : "--codec H264 --preset ultrafast ") + c.args);
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(Capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height,sample_aspect_ratio "
                          "-of csv=p=0 '" +
                          out + "'"),
                  c.shape);
    }
}

// Coarse at twice the rate holds every picture for two frames; each is
// encoded as the picture it repeats, and no new picture is taken for the last.
TEST(Outputs, HeldFramesRepeatTheirPicture) {
    const std::string source = Clip("held-source.avi", "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le");
    const std::string out = Out("held.mkv");
    const Result r = Coarse(source, out, "50", "--codec FFV1");
    ASSERT_EQ(r.code, 0) << r.output;
    const std::vector<std::string> original = Pictures(source), written = Pictures(out);
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(written.size(), 2 * original.size());
    std::vector<std::string> distinct = written;
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(distinct, original);
}

// What the destination's container can't take is refused before anything
// opens, as a usage error; the codec list shows only what it takes.
TEST(Outputs, WhatTheContainerCantTakeIsAUsageError) {
    const std::string source = Out("pcm-source.avi");
    for (const char* args :
         {"x.webm --codec H264", "x.mp4 --codec FFV1", "x.mov --codec VP90", "x.webm --audio-codec pcm",
          "x.avi --audio-codec aac", "x.mkv --audio-codec mp3", "x.mkv --preset fastest"}) {
        SCOPED_TRACE(args);
        const Result r = Tavrick("convert '" + source + "' " + Out(args) + " --yes --quiet");
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
