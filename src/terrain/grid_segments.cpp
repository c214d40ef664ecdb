#include "terrain/grid_segments.h"

#include <algorithm>

namespace {

void grow(Vec3& low, Vec3& high, const Vec3& p)
{
    low = Vec3(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
    high = Vec3(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
}

}  // namespace

GridSegments gridSegments(const std::vector<Vec3>& positions, int columns, int rows)
{
    GridSegments all;
    all.perRow = (columns - 1 + segmentQuads - 1) / segmentQuads;
    const int bands = (rows - 1 + groupRows - 1) / groupRows;
    all.groups.resize(size_t(bands) * size_t(all.perRow));
    for (int r = 0; r + 1 < rows; ++r)
        for (int k = 0; k < all.perRow; ++k) {
            const int c0 = k * segmentQuads, c1 = std::min(c0 + segmentQuads, columns - 1);  // first and last vertex column
            GridSegment s;
            s.firstTriangle = uint32_t(2 * (r * (columns - 1) + c0));
            s.triangleCount = uint32_t(2 * (c1 - c0));
            s.low = s.high = positions[size_t(r) * size_t(columns) + size_t(c0)];
            for (int rr = r; rr <= r + 1; ++rr)
                for (int c = c0; c <= c1; ++c) grow(s.low, s.high, positions[size_t(rr) * size_t(columns) + size_t(c)]);
            GridSegments::Group& g = all.groups[size_t(r / groupRows) * size_t(all.perRow) + size_t(k)];
            if (r % groupRows == 0) g.low = s.low, g.high = s.high;
            grow(g.low, g.high, s.low);
            grow(g.low, g.high, s.high);
            all.segments.push_back(s);
        }
    return all;
}

void widen(GridSegments& into, const GridSegments& other)
{
    for (size_t i = 0; i < into.segments.size() && i < other.segments.size(); ++i) {
        grow(into.segments[i].low, into.segments[i].high, other.segments[i].low);
        grow(into.segments[i].low, into.segments[i].high, other.segments[i].high);
    }
    for (size_t i = 0; i < into.groups.size() && i < other.groups.size(); ++i) {
        grow(into.groups[i].low, into.groups[i].high, other.groups[i].low);
        grow(into.groups[i].low, into.groups[i].high, other.groups[i].high);
    }
}

void visibleRuns(const GridSegments& all, const ViewVolume& view, std::vector<uint8_t>& scratch,
                 std::vector<IndexRange>& runs, double& deepest)
{
    runs.clear();
    markVisible(all, view, scratch, deepest);
    for (size_t i = 0; i < all.segments.size(); ++i) {
        if (!scratch[i]) continue;
        const GridSegment& s = all.segments[i];
        const uint32_t start = 3 * s.firstTriangle;
        if (!runs.empty() && runs.back().startIndex + 3 * runs.back().primitiveCount == start)
            runs.back().primitiveCount += s.triangleCount;
        else
            runs.push_back({start, s.triangleCount});
    }
}

void markVisible(const GridSegments& all, const ViewVolume& view, std::vector<uint8_t>& visible, double& deepest)
{
    visible.assign(all.segments.size(), 0);
    const size_t rowCount = all.perRow > 0 ? all.segments.size() / size_t(all.perRow) : 0;
    for (size_t g = 0; g < all.groups.size(); ++g) {
        const GridSegments::Group& group = all.groups[g];
        if (view.outside(group.low, group.high)) continue;
        const bool whole = view.inside(group.low, group.high);
        bool any = false;
        const size_t band = g / size_t(all.perRow), k = g % size_t(all.perRow);
        for (size_t r = band * groupRows; r < std::min(rowCount, (band + 1) * groupRows); ++r) {
            const size_t i = r * size_t(all.perRow) + k;
            const bool in = whole || !view.outside(all.segments[i].low, all.segments[i].high);
            visible[i] = in ? 1 : 0;
            any = any || in;
        }
        if (any) deepest = std::max(deepest, view.deepest(group.low, group.high));
    }
}

namespace {

// Widening of the side planes, as a share of w: some pixels beyond the picture's edge, well
// above the half-pixel shift the vertex program adds and any rounding.
constexpr double sideMargin = 1.0 / 32.0;
// The same for the near and far planes, where no pixel shift applies: far above the rounding of
// single-precision positions, yet close enough that land beyond the view distance is skipped.
constexpr double nearMargin = 1.0 / 1024.0, farMargin = 1.0e-5;

void multiply(const double a[4][4], const Matrix4& b, double out[4][4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += a[i][k] * double(b(k, j));
            out[i][j] = s;
        }
}

}  // namespace

ViewVolume::ViewVolume(const Matrix4& world, const Matrix4& view, const Matrix4& projection)
{
    double w[4][4], wv[4][4], wvp[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) w[i][j] = double(world(i, j));
    multiply(w, view, wv);
    multiply(wv, projection, wvp);
    // Clip component c of (x, y, z, 1) is column c of the product.
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) column_[c][r] = wvp[r][c];
    const double wide = 1.0 + sideMargin;
    for (int r = 0; r < 4; ++r) {
        const double x = column_[0][r], y = column_[1][r], z = column_[2][r], pw = column_[3][r];
        planes_[0][r] = wide * pw - x;
        planes_[1][r] = wide * pw + x;
        planes_[2][r] = wide * pw - y;
        planes_[3][r] = wide * pw + y;
        planes_[4][r] = z + nearMargin * pw;         // near: z >= 0
        planes_[5][r] = (1.0 + farMargin) * pw - z;  // far: z <= w
    }
}

bool ViewVolume::inside(const Vec3& low, const Vec3& high) const
{
    for (const auto& a : planes_) {
        // The corner that lies least inside this plane.
        const double x = a[0] >= 0.0 ? double(low.x) : double(high.x);
        const double y = a[1] >= 0.0 ? double(low.y) : double(high.y);
        const double z = a[2] >= 0.0 ? double(low.z) : double(high.z);
        if (!(a[0] * x + a[1] * y + a[2] * z + a[3] >= 0.0)) return false;
    }
    return true;
}

bool ViewVolume::outside(const Vec3& low, const Vec3& high) const
{
    for (const auto& a : planes_) {
        // The corner that lies furthest inside this plane.
        const double x = a[0] >= 0.0 ? double(high.x) : double(low.x);
        const double y = a[1] >= 0.0 ? double(high.y) : double(low.y);
        const double z = a[2] >= 0.0 ? double(high.z) : double(low.z);
        if (a[0] * x + a[1] * y + a[2] * z + a[3] < 0.0) return true;
    }
    return false;  // NaN anywhere lands here too: drawn
}

double ViewVolume::deepest(const Vec3& low, const Vec3& high) const
{
    double most = 0.0;
    for (int i = 0; i < 8; ++i) {
        const double p[3] = {double(i & 1 ? high.x : low.x), double(i & 2 ? high.y : low.y), double(i & 4 ? high.z : low.z)};
        double clip[4];
        for (int c = 0; c < 4; ++c) clip[c] = column_[c][0] * p[0] + column_[c][1] * p[1] + column_[c][2] * p[2] + column_[c][3];
        if (clip[3] > 0.0) most = std::max(most, clip[2] / clip[3]);
        else if (!(clip[3] <= 0.0)) return 1.0;  // NaN: assume the worst
    }
    return most;
}
