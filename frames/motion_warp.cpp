#include "frames/motion_warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Differences (mean per sample, 0..255) below which motion is trusted fully
// and above which the fallback blend takes over; film grain sits below.
constexpr float trustedCost = 5.0f;
constexpr float distrustedCost = 14.0f;
// Forward-backward error (squared luma samples) past which a side is taken
// as covered or uncovered.
constexpr float occludedError = 2.0f;

int Clamp(int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; }

const float* FlowAt(const FlowField& f, float x, float y) {
    const int ix = Clamp(static_cast<int>(std::lround(x)), f.width - 1);
    const int iy = Clamp(static_cast<int>(std::lround(y)), f.rows - 1);
    return f.vectors + 2 * (static_cast<std::size_t>(iy) * f.width + ix);
}

float ErrorAt(const float* error, const FlowField& f, float x, float y) {
    const int ix = Clamp(static_cast<int>(std::lround(x)), f.width - 1);
    const int iy = Clamp(static_cast<int>(std::lround(y)), f.rows - 1);
    return error[static_cast<std::size_t>(iy) * f.width + ix];
}

// The 3x3 samples around (x, y), bilinear, edges repeated.
void Window(const LumaPlane& l, float x, float y, float out[9]) {
    const float fx0 = std::floor(x), fy0 = std::floor(y);
    const float fx = x - fx0, fy = y - fy0;
    const int x0 = static_cast<int>(fx0), y0 = static_cast<int>(fy0);
    const std::uint8_t* rowAt[4];
    int cols[4];
    if (x0 >= 1 && y0 >= 1 && x0 + 2 < l.width && y0 + 2 < l.rows) {
        for (int k = 0; k < 4; ++k) {
            cols[k] = x0 - 1 + k;
            rowAt[k] = l.samples + static_cast<std::size_t>(y0 - 1 + k) * l.width;
        }
    } else {
        for (int k = 0; k < 4; ++k) {
            cols[k] = Clamp(x0 - 1 + k, l.width - 1);
            rowAt[k] = l.samples + static_cast<std::size_t>(Clamp(y0 - 1 + k, l.rows - 1)) * l.width;
        }
    }
    float across[4][3];
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 3; ++i) across[j][i] = rowAt[j][cols[i]] + fx * (rowAt[j][cols[i + 1]] - rowAt[j][cols[i]]);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) out[3 * j + i] = across[j][i] + fy * (across[j + 1][i] - across[j][i]);
}

// Mean absolute difference of the two 3x3 windows once their means are
// taken out, plus a quarter of the difference of the means: a fade changes
// the level, not the texture.
float Difference(const MotionPair& pair, float x, float y, float t, float vx, float vy) {
    float a[9], b[9];
    Window(pair.p, x - t * vx, y - t * vy, a);
    Window(pair.q, x + (1 - t) * vx, y + (1 - t) * vy, b);
    float ma = 0, mb = 0;
    for (int k = 0; k < 9; ++k) {
        ma += a[k];
        mb += b[k];
    }
    ma /= 9;
    mb /= 9;
    float sum = 0;
    for (int k = 0; k < 9; ++k) sum += std::fabs((a[k] - ma) - (b[k] - mb));
    return sum / 9 + 0.25f * std::fabs(ma - mb);
}

// The median of nine by the usual exchange network (19 exchanges).
float Median9(float v[9]) {
    auto order = [&](int a, int b) {
        const float lo = std::min(v[a], v[b]), hi = std::max(v[a], v[b]);
        v[a] = lo;
        v[b] = hi;
    };
    order(1, 2), order(4, 5), order(7, 8), order(0, 1), order(3, 4), order(6, 7), order(1, 2), order(4, 5);
    order(7, 8), order(0, 3), order(5, 8), order(4, 7), order(3, 6), order(1, 4), order(2, 5), order(4, 7);
    order(4, 2), order(6, 4), order(4, 2);
    return v[4];
}

// A grid point in luma samples: the middle of its cell of frame pixels.
constexpr float gridCentre = (motionGridStep - 1) / 2.0f;
float GridX(int gx) { return (motionGridStep * gx + gridCentre - 0.5f) / 2; }

}  // namespace

void HalfLuma(const std::uint8_t* frame, int stride, std::uint8_t* luma, int lumaWidth, int lumaRows) {
    for (int y = 0; y < lumaRows; ++y) {
        const std::uint8_t* a = frame + static_cast<std::size_t>(2 * y) * stride;
        const std::uint8_t* b = a + stride;
        std::uint8_t* out = luma + static_cast<std::size_t>(y) * lumaWidth;
        for (int x = 0; x < lumaWidth; ++x) {
            const int i = 6 * x;
            const int blue = a[i] + a[i + 3] + b[i] + b[i + 3];
            const int green = a[i + 1] + a[i + 4] + b[i + 1] + b[i + 4];
            const int red = a[i + 2] + a[i + 5] + b[i + 2] + b[i + 5];
            out[x] = static_cast<std::uint8_t>((29 * blue + 150 * green + 77 * red + 512) >> 10);
        }
    }
}

void ConsistencyError(const FlowField& forward, const FlowField& backward, float* error) {
    for (int y = 0; y < forward.rows; ++y)
        for (int x = 0; x < forward.width; ++x) {
            const float* f = forward.vectors + 2 * (static_cast<std::size_t>(y) * forward.width + x);
            const float* b = FlowAt(backward, x + f[0], y + f[1]);
            const float ex = f[0] + b[0], ey = f[1] + b[1];
            error[static_cast<std::size_t>(y) * forward.width + x] = ex * ex + ey * ey;
        }
}

double CompensatedResidual(const LumaPlane& p, const LumaPlane& q, const FlowField& forward) {
    auto moments = [](const LumaPlane& l, double& mean, double& deviation) {
        double sum = 0, squares = 0;
        const std::size_t n = static_cast<std::size_t>(l.width) * l.rows;
        for (std::size_t i = 0; i < n; ++i) {
            sum += l.samples[i];
            squares += static_cast<double>(l.samples[i]) * l.samples[i];
        }
        mean = n ? sum / n : 0;
        deviation = n ? std::sqrt(std::max(0.0, squares / n - mean * mean)) : 0;
    };
    double mp, sp, mq, sq;
    moments(p, mp, sp);
    moments(q, mq, sq);
    if (sp < 3 || sq < 3) return 0;
    double sum = 0;
    std::size_t count = 0;
    for (int y = 0; y < p.rows; y += 2)
        for (int x = 0; x < p.width; x += 2) {
            const float* f = forward.vectors + 2 * (static_cast<std::size_t>(y) * forward.width + x);
            const int qx = static_cast<int>(std::lround(x + f[0])), qy = static_cast<int>(std::lround(y + f[1]));
            if (qx < 0 || qy < 0 || qx >= q.width || qy >= q.rows) continue;
            const double a = (p.samples[static_cast<std::size_t>(y) * p.width + x] - mp) / sp;
            const double b = (q.samples[static_cast<std::size_t>(qy) * q.width + qx] - mq) / sq;
            sum += std::fabs(a - b);
            ++count;
        }
    return count ? sum / count : 0;
}

void ChooseVectors(const MotionPair& pair, double time, MotionPoint* raw, int gridWidth, int gridRows, int firstRow,
                   int endRow) {
    const float t = static_cast<float>(time);
    for (int gy = firstRow; gy < std::min(endRow, gridRows); ++gy)
        for (int gx = 0; gx < gridWidth; ++gx) {
            const float x = GridX(gx), y = GridX(gy);
            const float* f = FlowAt(pair.forward, x, y);
            const float* b = FlowAt(pair.backward, x, y);
            // Each flow taken to the output time: the vector of the P point
            // (or Q point) that lands here at t.
            const float* fp = FlowAt(pair.forward, x - t * f[0], y - t * f[1]);
            const float* bq = FlowAt(pair.backward, x - (1 - t) * b[0], y - (1 - t) * b[1]);
            const float candidates[5][2] = {{fp[0], fp[1]}, {-bq[0], -bq[1]}, {f[0], f[1]}, {-b[0], -b[1]}, {0, 0}};
            MotionPoint best;
            best.cost = 1e30f;
            for (int k = 0; k < 5; ++k) {
                const float* c = candidates[k];
                // A candidate within a tenth of a sample of an earlier one adds nothing.
                bool seen = false;
                for (int j = 0; j < k && !seen; ++j)
                    seen = std::fabs(c[0] - candidates[j][0]) + std::fabs(c[1] - candidates[j][1]) < 0.1f;
                if (seen) continue;
                const float cost = Difference(pair, x, y, t, c[0], c[1]);
                if (cost < best.cost) {
                    best.vx = c[0];
                    best.vy = c[1];
                    best.cost = cost;
                }
            }
            raw[static_cast<std::size_t>(gy) * gridWidth + gx] = best;
        }
}

void SettleVectors(const MotionPair& pair, double time, const MotionPoint* raw, MotionPoint* points, int gridWidth,
                   int gridRows, int firstRow, int endRow) {
    const float t = static_cast<float>(time);
    for (int gy = firstRow; gy < std::min(endRow, gridRows); ++gy)
        for (int gx = 0; gx < gridWidth; ++gx) {
            float xs[9], ys[9];
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const MotionPoint& r = raw[static_cast<std::size_t>(Clamp(gy + dy, gridRows - 1)) * gridWidth +
                                               Clamp(gx + dx, gridWidth - 1)];
                    xs[n] = r.vx;
                    ys[n++] = r.vy;
                }
            MotionPoint m;
            m.vx = Median9(xs);
            m.vy = Median9(ys);
            const float x = GridX(gx), y = GridX(gy);
            const MotionPoint& own = raw[static_cast<std::size_t>(gy) * gridWidth + gx];
            m.cost = m.vx == own.vx && m.vy == own.vy ? own.cost : Difference(pair, x, y, t, m.vx, m.vy);
            m.shareP = 1 - t;
            m.confidence = std::clamp((distrustedCost - m.cost) / (distrustedCost - trustedCost), 0.0f, 1.0f);
            if (m.cost > trustedCost) {
                const bool pCovered =
                    ErrorAt(pair.forwardError, pair.forward, x - t * m.vx, y - t * m.vy) > occludedError;
                const bool qCovered =
                    ErrorAt(pair.backwardError, pair.backward, x + (1 - t) * m.vx, y + (1 - t) * m.vy) > occludedError;
                if (pCovered != qCovered) {
                    m.shareP = pCovered ? 0.0f : 1.0f;
                    m.confidence = 1;
                }
            }
            points[static_cast<std::size_t>(gy) * gridWidth + gx] = m;
        }
}

void WarpRows(const std::uint8_t* __restrict p, const std::uint8_t* __restrict q, std::uint8_t* __restrict output,
              int width, int rows, int stride, const MotionPoint* points, int gridWidth, int gridRows, double time,
              int firstRow, int endRow, int rowStep) {
    const float t = static_cast<float>(time);
    const float maxX = static_cast<float>(width - 1), maxY = static_cast<float>(rows - 1);
    // Bilinear BGR sample at (x, y), edges repeated, in 1/256 pixel steps:
    // 16 fractional bits in `out`.
    auto sample = [&](const std::uint8_t* frame, float x, float y, int out[3]) {
        const int ix = static_cast<int>(std::clamp(x, 0.0f, maxX) * 256.0f);
        const int iy = static_cast<int>(std::clamp(y, 0.0f, maxY) * 256.0f);
        const int x0 = ix >> 8, y0 = iy >> 8, fx = ix & 255, fy = iy & 255;
        const int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, rows - 1);
        const std::uint8_t* a = frame + static_cast<std::size_t>(y0) * stride + 3 * x0;
        const std::uint8_t* b = frame + static_cast<std::size_t>(y0) * stride + 3 * x1;
        const std::uint8_t* c = frame + static_cast<std::size_t>(y1) * stride + 3 * x0;
        const std::uint8_t* d = frame + static_cast<std::size_t>(y1) * stride + 3 * x1;
        for (int ch = 0; ch < 3; ++ch) {
            const int top = (a[ch] << 8) + fx * (b[ch] - a[ch]);
            const int bottom = (c[ch] << 8) + fx * (d[ch] - c[ch]);
            out[ch] = (top << 8) + fy * (bottom - top);
        }
    };
    for (int y = firstRow; y < endRow; y += rowStep) {
        const float gyf = std::clamp((y - gridCentre) / motionGridStep, 0.0f, static_cast<float>(gridRows - 1));
        const int gy0 = static_cast<int>(gyf), gy1 = std::min(gy0 + 1, gridRows - 1);
        const float wy = gyf - gy0;
        const MotionPoint* row0 = points + static_cast<std::size_t>(gy0) * gridWidth;
        const MotionPoint* row1 = points + static_cast<std::size_t>(gy1) * gridWidth;
        std::uint8_t* out = output + static_cast<std::size_t>(y) * stride;
        // The grid's two columns around x, mixed down to this row: vx, vy, share, confidence.
        int column = -1;
        float left[4] = {}, right[4] = {};
        auto down = [&](const MotionPoint& a, const MotionPoint& c, float out4[4]) {
            out4[0] = a.vx + wy * (c.vx - a.vx);
            out4[1] = a.vy + wy * (c.vy - a.vy);
            out4[2] = a.shareP + wy * (c.shareP - a.shareP);
            out4[3] = a.confidence + wy * (c.confidence - a.confidence);
        };
        for (int x = 0; x < width; ++x) {
            const float gxf = std::clamp((x - gridCentre) / motionGridStep, 0.0f, static_cast<float>(gridWidth - 1));
            const int gx0 = static_cast<int>(gxf), gx1 = std::min(gx0 + 1, gridWidth - 1);
            const float wx = gxf - gx0;
            if (gx0 != column) {
                down(row0[gx0], row1[gx0], left);
                down(row0[gx1], row1[gx1], right);
                column = gx0;
            }
            const float confidence = left[3] + wx * (right[3] - left[3]);
            if (confidence <= 0) continue;  // the fallback stays
            // Luma samples are two frame pixels.
            const float vx = 2 * (left[0] + wx * (right[0] - left[0])), vy = 2 * (left[1] + wx * (right[1] - left[1]));
            const float share = left[2] + wx * (right[2] - left[2]);
            int from[3], to[3];
            sample(p, x - t * vx, y - t * vy, from);
            sample(q, x + (1 - t) * vx, y + (1 - t) * vy, to);
            // Shares in 1/256: P's share of the moved sample, the motion's of the result.
            const std::int64_t s = static_cast<int>(share * 256.0f + 0.5f),
                               c = static_cast<int>(confidence * 256.0f + 0.5f);
            std::uint8_t mixed[3];
            for (int ch = 0; ch < 3; ++ch) {
                const std::int64_t moved =
                    (static_cast<std::int64_t>(to[ch]) << 8) + s * (from[ch] - to[ch]);  // 24 fractional bits
                const std::int64_t v = (static_cast<std::int64_t>(out[3 * x + ch]) << 32) +
                                       c * (moved - (static_cast<std::int64_t>(out[3 * x + ch]) << 24));
                mixed[ch] =
                    static_cast<std::uint8_t>(std::clamp<std::int64_t>((v + (std::int64_t{1} << 31)) >> 32, 0, 255));
            }
            std::memcpy(out + 3 * x, mixed, 3);
        }
    }
}
