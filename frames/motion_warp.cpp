#include "frames/motion_warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#define TAVRICK_WARP_NAMESPACE warp_reference
#include "frames/motion_warp_row.inc"

namespace {

// Differences (mean per sample, 0..255) below which motion is trusted fully
// and above which the fallback blend takes over. Grain and small warp errors
// sit well below; on the benchmark clips every lowering of these bounds cost
// quality, so the blend is kept for motion that is plainly wrong.
constexpr float trustedCost = 16.0f;
constexpr float distrustedCost = 40.0f;
// Forward-backward error (squared luma samples) past which a side is taken
// as covered or uncovered.
constexpr float occludedError = 2.0f;

int Clamp(int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; }

// std::lround for values well inside int (halves away from zero), without
// the library call: the part after the point is exact in float.
int RoundHalfAway(float v) {
    const int whole = static_cast<int>(v);
    const float rest = v - static_cast<float>(whole);
    return whole + (rest >= 0.5f) - (rest <= -0.5f);
}

// The nearest sample of a field to (x, y), edges repeated (a NaN reads the first).
std::size_t NearestSample(const FlowField& f, float x, float y) {
    x = warp_reference::ClampTo(x, -1.0f, static_cast<float>(f.width));
    y = warp_reference::ClampTo(y, -1.0f, static_cast<float>(f.rows));
    const int ix = Clamp(RoundHalfAway(x), f.width - 1);
    const int iy = Clamp(RoundHalfAway(y), f.rows - 1);
    return static_cast<std::size_t>(iy) * f.width + ix;
}

const float* FlowAt(const FlowField& f, float x, float y) { return f.vectors + 2 * NearestSample(f, x, y); }

// Forward-backward error of `from` at its sample nearest to (x, y): |F(s) + B(s + F(s))|^2.
// Asked for only where a vector is in doubt, so it is worked out there.
float ErrorAt(const FlowField& from, const FlowField& back, float x, float y) {
    const std::size_t s = NearestSample(from, x, y);
    const float sx = static_cast<float>(static_cast<int>(s % from.width));
    const float sy = static_cast<float>(static_cast<int>(s / from.width));
    const float* f = from.vectors + 2 * s;
    const float* b = FlowAt(back, sx + f[0], sy + f[1]);
    const float ex = f[0] + b[0], ey = f[1] + b[1];
    return ex * ex + ey * ey;
}

// The 3x3 samples around (x, y), bilinear, edges repeated.
void Window(const LumaPlane& l, float x, float y, float out[9]) {
    // Far outside is as good as just outside (and stays within int).
    x = std::clamp(x, -2.0f, static_cast<float>(l.width + 2));
    y = std::clamp(y, -2.0f, static_cast<float>(l.rows + 2));
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
                const bool pCovered = ErrorAt(pair.forward, pair.backward, x - t * m.vx, y - t * m.vy) > occludedError;
                const bool qCovered =
                    ErrorAt(pair.backward, pair.forward, x + (1 - t) * m.vx, y + (1 - t) * m.vy) > occludedError;
                if (pCovered != qCovered) {
                    m.shareP = pCovered ? 0.0f : 1.0f;
                    m.confidence = 1;
                }
            }
            points[static_cast<std::size_t>(gy) * gridWidth + gx] = m;
        }
}

void MotionWarpRowReference(const MotionWarpRow& row) {
    using namespace warp_reference;
    WarpMixed mixed;
    WarpPositions positions;
    for (int start = 0; start < row.width; start += warpPiece) {
        const int n = std::min(warpPiece, row.width - start);
        MixEach(row, start, n, mixed);
        Positions(row, start, n, mixed, positions);
        for (int i = 0; i < n; ++i) WarpPixel(row, start, positions, i);
    }
}

void WarpRows(const RowKernels& kernels, const std::uint8_t* p, const std::uint8_t* q, std::uint8_t* output, int width,
              int rows, int stride, const MotionPoint* points, int gridWidth, int gridRows, double time, int firstRow,
              int endRow, int rowStep) {
    // The grid mixed to one row, per grid column; kept per thread, so it is
    // allocated once, not per frame.
    thread_local std::vector<float> columns;
    if (columns.size() < 4 * static_cast<std::size_t>(gridWidth))
        columns.resize(4 * static_cast<std::size_t>(gridWidth));
    float* const vx = columns.data();
    float* const vy = vx + gridWidth;
    float* const share = vy + gridWidth;
    float* const confidence = share + gridWidth;
    MotionWarpRow row{p,  q,  nullptr, width,      rows,     stride, 0, static_cast<float>(time),
                      vx, vy, share,   confidence, gridWidth};
    for (int y = firstRow; y < endRow; y += rowStep) {
        const float gy = warp_reference::ClampTo((static_cast<float>(y) - gridCentre) * (1.0f / motionGridStep), 0.0f,
                                                 static_cast<float>(gridRows - 1));
        const int gy0 = static_cast<int>(gy), gy1 = std::min(gy0 + 1, gridRows - 1);
        const float wy = gy - static_cast<float>(gy0);
        const MotionPoint* row0 = points + static_cast<std::size_t>(gy0) * gridWidth;
        const MotionPoint* row1 = points + static_cast<std::size_t>(gy1) * gridWidth;
        for (int g = 0; g < gridWidth; ++g) {
            const MotionPoint &a = row0[g], &b = row1[g];
            vx[g] = 2 * (a.vx + wy * (b.vx - a.vx));  // luma samples are two frame pixels
            vy[g] = 2 * (a.vy + wy * (b.vy - a.vy));
            share[g] = a.shareP + wy * (b.shareP - a.shareP);
            confidence[g] = a.confidence + wy * (b.confidence - a.confidence);
        }
        row.y = y;
        row.out = output + static_cast<std::size_t>(y) * stride;
        kernels.motionWarp(row);
    }
}
