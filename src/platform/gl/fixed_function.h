#pragma once

// The parts of the fixed-function emulation that need no GL context: vertex layouts, primitive
// counts, the capability policy of device creation, and the block of shader inputs gathered from
// the device's state. Kept apart so they can be checked without a window.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/graphics_device.h"

// Where each component of a flexible vertex format lies, in bytes from the vertex start;
// -1 where the format has none.
struct VertexLayout {
    bool valid = false;          // has exactly one of XYZ / XYZRHW
    bool pretransformed = false;  // XYZRHW: screen pixels plus reciprocal w
    int positionSize = 0;        // floats
    int normal = -1;
    int diffuse = -1;
    int specular = -1;
    int texCoordCount = 0;
    int texCoord[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

VertexLayout vertexLayout(uint32_t fvf);

// Vertices a draw of primitiveCount primitives reads; 0 for an unknown primitive type.
uint32_t verticesForPrimitives(uint32_t primitiveType, uint32_t primitiveCount);

// A GL renderer that rasterises on the CPU.
bool isSoftwareRenderer(const std::string& rendererName);

// Empty when the renderer can offer the requested vertex-processing mode, else the reason.
std::string vertexProcessingRefusal(uint32_t behaviorFlags, const std::string& rendererName);

// Display format of a desktop with this many bits per pixel.
uint32_t displayFormatForDepth(int bitsPerPixel);

// Whether a back buffer of backBufferFormat can be shown on an adapter in adapterFormat.
bool formatsCompatible(uint32_t adapterFormat, uint32_t backBufferFormat);

// The shader inputs, laid out as the std140 uniform block "DeviceState" in gl_shaders.cpp.
// Matrices are copied as stored (row-major rows become GLSL columns), which is why the shader
// multiplies matrix * vector.
struct alignas(16) ShaderState {
    float world[16];
    float view[16];
    float projection[16];
    float viewport[4];           // width, height in pixels
    int32_t vertexMode[4];       // pretransformed, lighting, vertex has diffuse, colour from vertex
    int32_t pixelMode[4];        // specular enabled, vertex has specular, alpha test, alpha function
    float alphaReference[4];     // 0..255
    float ambient[4];
    float materialDiffuse[4];
    float materialAmbient[4];
    float materialSpecular[4];
    float materialEmissive[4];
    float materialPower[4];
    int32_t lightCount[4];
    float lightDirection[8][4];  // unit length, pointing from the light
    float lightDiffuse[8][4];
    float lightAmbient[8][4];
    float lightSpecular[8][4];
    int32_t stageColor[2][4];    // op, arg1, arg2, has a texture
    int32_t stageAlpha[2][4];    // op, arg1, arg2, unused
};

// The two uniform blocks are cut from ShaderState at this member: "DrawState" holds what changes
// with nearly every draw (the world matrix), "FrameState" the rest, so each is uploaded only
// when its own bytes change.
inline constexpr size_t drawStateBytes = offsetof(ShaderState, view);

// The states that decide which branches the shader takes per vertex and per pixel. A program
// built for one key turns them into constants, so the compiler drops the untaken work (a
// texture fetch for a stage without texture, the light loop when lighting is off...).
struct ProgramKey {
    int32_t vertexMode[4];
    int32_t pixelMode[4];
    int32_t lightCount;
    int32_t stageColor[2][4];
    int32_t stageAlpha[2][4];
    // 1 for point lists: a point has one vertex, so every fragment takes its values whichever the
    // interpolation, and flat inputs spare the driver setting up their planes point by point.
    int32_t flatInputs = 0;
    bool operator==(const ProgramKey&) const = default;
};

ProgramKey programKey(const ShaderState& state);

struct ProgramKeyHash {
    size_t operator()(const ProgramKey& key) const;
};

// hasTexture[s]: stage s has a texture the device can sample.
ShaderState gatherShaderState(const GraphicsDevice& device, float viewportWidth, float viewportHeight,
                              const bool hasTexture[2]);
