#pragma once

#include <memory>

#include "device/graphics_device.h"

// 5000 grey points on a 6 x 5 plane five units ahead, drawn behind everything else.
class StarField {
public:
    StarField();
    StarField(const StarField&) = delete;
    StarField& operator=(const StarField&) = delete;

    void draw();

    int shade = 0;  // the grey of the last point made
    int pointCount = 0;
    std::unique_ptr<VertexBuffer> points;
};
