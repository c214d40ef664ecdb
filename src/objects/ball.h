#pragma once

#include <memory>
#include <string>

#include "device/graphics_device.h"
#include "math/vec3.h"
#include "textures/texture_file.h"

// A textured square of side 2 that always faces the camera, blended by the texture's alpha.
class Ball {
public:
    explicit Ball(const std::string& textureFileName);
    ~Ball();
    Ball(const Ball&) = delete;
    Ball& operator=(const Ball&) = delete;

    // At p in the camera-relative frame the objects share (the camera starts at (0, 20, -20)).
    void draw(const Vec3& p);

    std::unique_ptr<TextureFile> texture;
    std::unique_ptr<VertexBuffer> quad;
};
