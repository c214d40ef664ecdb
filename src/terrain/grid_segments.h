#pragma once

// The parts of a land tile a frame can skip, and the one other order that draws the rest with
// the same pixels.
//
// A tile's triangles stay in the grid's order (rows from the +z edge, quads from -x within a
// row); each row is cut into segments of a few quads with a box around their vertices, and a
// frame draws only the segments whose box reaches into the view volume, as runs of the index
// buffer. The order matters where two land triangles reach a pixel at the same depth: the one
// drawn last wins under the less-or-equal test. Drawn in exactly the reverse order under the
// strict test, the first drawn wins, which is the same triangle; that order runs near to far
// when the view looks towards +z, so hidden ground fails the depth test before it is shaded.

#include <cstdint>
#include <vector>

#include "device/graphics_device.h"
#include "math/matrix4.h"
#include "math/vec3.h"

struct GridSegment {
    uint32_t firstTriangle = 0, triangleCount = 0;
    Vec3 low{0, 0, 0}, high{0, 0, 0};  // the box around its vertices
};

// Quads per segment: short enough that a row's part outside the view is skipped, long enough
// that the boxes cost little to test.
inline constexpr int segmentQuads = 16;

// A tile's segments, row by row, and boxes around groups of them (groupRows rows deep, one
// segment wide), so that a frame tests most of the tile a group at a time.
struct GridSegments {
    std::vector<GridSegment> segments;
    int perRow = 0;
    struct Group {
        Vec3 low{0, 0, 0}, high{0, 0, 0};
    };
    std::vector<Group> groups;  // row-major: groupColumns = perRow groups per band of rows
};
inline constexpr int groupRows = 16;

// The segments of a columns x rows grid whose vertex positions are given row by row, in the
// order of gridIndices (two triangles a quad).
GridSegments gridSegments(const std::vector<Vec3>& positions, int columns, int rows);

// Grows every box of into to hold the same box of other (the same grid in another position:
// a water tile's animation frames).
void widen(GridSegments& into, const GridSegments& other);

class ViewVolume;
// visible[i] becomes 1 for each segment whose box reaches into the view, 0 for the others;
// deepest rises to the largest depth the groups of the visible ones can have.
void markVisible(const GridSegments& all, const ViewVolume& view, std::vector<uint8_t>& visible, double& deepest);
// The visible segments as runs of the grid's index buffer in grid order, joined where they meet.
void visibleRuns(const GridSegments& all, const ViewVolume& view, std::vector<uint8_t>& scratch,
                 std::vector<IndexRange>& runs, double& deepest);

// The view volume of world * view * projection (row vectors), widened a little so that rounding
// never hides what the driver would draw. Evaluated in double for the same reason.
class ViewVolume {
public:
    ViewVolume(const Matrix4& world, const Matrix4& view, const Matrix4& projection);
    // True only when the box lies wholly outside one side of the volume.
    bool outside(const Vec3& low, const Vec3& high) const;
    // True when the box lies wholly inside every side.
    bool inside(const Vec3& low, const Vec3& high) const;
    // The largest depth (z / w) a point of the box in front of the eye can have, 0 when none is.
    double deepest(const Vec3& low, const Vec3& high) const;

private:
    double column_[4][4];     // column c gives clip component c of a point: x, y, z, w
    double planes_[6][4];     // inside where a . (x, y, z, 1) >= 0
};

// Depths at or beyond this may round to the cleared depth of 1, where the strict test would
// lose a tie the less-or-equal test wins: a frame whose land reaches so far keeps the grid order.
inline constexpr double reverseOrderDepthLimit = 1.0 - 1.0 / 16384.0;
