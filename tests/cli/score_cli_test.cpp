// tavrick score as a user runs it: the table, JSON, pictures and usage errors.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings.h"
#include "tests/cli/tavrick_runner.h"
#include "tests/media/media_fixtures.h"
#include "tests/media/writer_fixtures.h"

namespace {

Result Score(const std::string& args) { return Tavrick("score " + args); }

// 24 frames of a picture that doesn't move.
std::string StillClip() {
    FixtureFile f;
    f.width = 40;
    f.height = 24;
    FixtureStream v;
    v.format = BitmapFormat(40, 24, 24, BI_RGB);
    v.length = 24;
    for (int n = 0; n < 24; ++n) v.chunks.push_back(SmoothPicture(40, 24, 5));
    f.streams.push_back(v);
    return WriteFile("score-still.avi", BuildAvi(f));
}

const char progressive[] = " --deinterlace off --resample coarse --aspect 1:1";

TEST(ScoreCommand, TableJsonAndPicturesOfAStillClip) {
    const std::string clip = "'" + StillClip() + "'";
    const std::string dir = TempDir() + "/shots";
    const std::string json = TempDir() + "/score.json";
    Result r = Score(clip + progressive + " --json '" + json + "' --pictures '" + dir + "'");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(Has(r.output,
                    "Stretch: frames 0 to 23 (0.960 s from 0.000 s, all the source has), 1/2 kept, "
                    "11 frames rebuilt\n"))
        << r.output;
    EXPECT_TRUE(Has(r.output, "Settings: deinterlace Disabled, resample Coarse (fastest), range 100 %, frames 40x24\n"))
        << r.output;
    EXPECT_TRUE(Has(r.output, "\ncoarse    inf     inf       1.00000  1 at 0.040 s (inf)")) << r.output;
    const Bytes text = ReadWholeFile(json);
    const std::string j(text.begin(), text.end());
    EXPECT_TRUE(Has(j, "{\"method\": \"median5\", \"label\": \"Median 5\", \"psnrY\": \"inf\", \"psnrRgb\": \"inf\""))
        << j;
    EXPECT_TRUE(Has(j, "{\"frame\": 21, \"time\": 0.840000, \"psnrY\": \"inf\"")) << j;
    // One picture per method: original, rebuilt and difference with 8-pixel gaps.
    int pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        ++pictures;
        EXPECT_EQ(Probe(entry.path(), "stream", "width"), "136") << entry.path();
        EXPECT_EQ(Probe(entry.path(), "stream", "codec_name"), "png");
    }
    EXPECT_EQ(pictures, interpolationMethodCount);
    EXPECT_TRUE(Has(r.output, "Wrote " + dir + "/score-lansin2-frame1.png\n")) << r.output;

    // Standard output carries the JSON alone; the methods asked for, in the keep pattern asked for.
    r = Score(clip + progressive + " --json - --methods linear,3 --keep 1/3 --start 0.2 --duration 0.4");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output.rfind("{\n  \"source\": ", 0), 0u) << r.output;
    EXPECT_TRUE(
        Has(r.output, "\"firstFrame\": 5,\n  \"frameCount\": 10,\n  \"shortened\": false,\n  \"keep\": \"1/3\""))
        << r.output;
    EXPECT_TRUE(Has(r.output, "\"method\": \"linear\"") && Has(r.output, "\"method\": \"cubic\"") &&
                !Has(r.output, "\"method\": \"sine\""))
        << r.output;
}

TEST(ScoreCommand, BadArgumentsAreUsageErrors) {
    const std::string clip = "'" + StillClip() + "' ";
    for (const std::string& args :
         {std::string(""), clip + clip, clip + "--keep 3/4", clip + "--methods fast", clip + "--methods linear,",
          clip + "--start -1", clip + "--duration 0", clip + "--start soon", clip + "--codec MJPG",
          clip + "--deinterlace sideways", clip + "--json", clip + "--rate 50"}) {
        const Result r = Score(args);
        EXPECT_EQ(r.code, 64) << args << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, "Try 'tavrick --help'.")) << args << "\n" << r.output;
    }
    // A stretch that starts past the end, or holds no dropped frame between kept ones.
    Result r = Score(clip + "--start 5");
    EXPECT_EQ(r.code, 64);
    EXPECT_TRUE(Has(r.output, "leaves no frame to rebuild")) << r.output;
    EXPECT_EQ(Score(clip + "--start 0.9").code, 64);
    r = Score("'" + TempDir() + "/absent.avi'");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.output, "Tavrick: Cannot open the input file.")) << r.output;
}

}  // namespace
