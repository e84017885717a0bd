// BGR to YUV 4:2:0: the studio-range BT.601 values of plain colours, and the
// same bytes at every level, written inside the planes only.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frames/geometry.h"
#include "frames/yuv420.h"

namespace {

struct Planes {
    int width, height, strides[3];
    std::vector<std::uint8_t> bytes[3];
    std::uint8_t* data[3];
    static constexpr int guard = 7;  // bytes past each row that must stay
    Planes(int w, int h) : width(w), height(h) {
        for (int p = 0; p < 3; ++p) {
            strides[p] = (p ? w / 2 : w) + guard;
            bytes[p].assign(static_cast<std::size_t>(strides[p]) * (p ? h / 2 : h), 0xA5);
            data[p] = bytes[p].data();
        }
    }
};

std::vector<std::uint8_t> Filled(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::vector<std::uint8_t> dib(static_cast<std::size_t>(RowStride(width)) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = dib.data() + static_cast<std::size_t>(y) * RowStride(width) + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
    return dib;
}

TEST(Yuv420, PlainColoursGiveTheirStudioRangeValues) {
    struct Case {
        std::uint8_t b, g, r, y, u, v;
    };
    const Case cases[] = {{0, 0, 0, 16, 128, 128},  {255, 255, 255, 235, 128, 128}, {0, 0, 255, 81, 90, 240},
                          {0, 255, 0, 145, 54, 34}, {255, 0, 0, 41, 240, 110},      {128, 128, 128, 126, 128, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.b) << "," << int(c.g) << "," << int(c.r));
        const std::vector<std::uint8_t> dib = Filled(18, 16, c.b, c.g, c.r);
        Planes out(18, 16);
        Yuv420Scratch scratch;
        Yuv420FromBgr(BottomUpPicture(dib.data(), 18, 16, RowStride(18)), out.data, out.strides, scratch);
        EXPECT_EQ(out.data[0][5 * out.strides[0] + 7], c.y);
        EXPECT_EQ(out.data[1][3 * out.strides[1] + 4], c.u);
        EXPECT_EQ(out.data[2][7 * out.strides[2] + 8], c.v);
    }
}

TEST(Yuv420, EveryLevelWritesTheSameBytesAndOnlyThePlanes) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    // Ragged row ends for the vector loops, padded DIB rows, a tall thin one.
    for (const auto& [w, h] : {std::pair{2, 16}, std::pair{34, 18}, std::pair{1922, 20}, std::pair{262, 300}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::vector<std::uint8_t> dib(static_cast<std::size_t>(RowStride(w)) * h);
        for (std::uint8_t& byte : dib) byte = rng() % 4 ? static_cast<std::uint8_t>(rng()) : (rng() % 2 ? 255 : 0);
        const BgrPicture picture = BottomUpPicture(dib.data(), w, h, RowStride(w));
        Planes base(w, h);
        Yuv420Scratch scratch;
        Yuv420FromBgr(picture, base.data, base.strides, scratch, Yuv420LoopsFor(SimdLevel::sse2));
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? h / 2 : h); ++y)
                for (int g = 0; g < Planes::guard; ++g)
                    ASSERT_EQ(base.bytes[p][static_cast<std::size_t>(y + 1) * base.strides[p] - 1 - g], 0xA5);
        for (int level = 2; level <= static_cast<int>(HighestCpuLevel()); ++level) {
            Planes out(w, h);
            Yuv420Scratch fresh;
            Yuv420FromBgr(picture, out.data, out.strides, fresh, Yuv420LoopsFor(static_cast<SimdLevel>(level)));
            for (int p = 0; p < 3; ++p) EXPECT_EQ(out.bytes[p], base.bytes[p]) << "level " << level << " plane " << p;
        }
    }
}

}  // namespace
