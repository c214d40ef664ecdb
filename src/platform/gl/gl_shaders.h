#pragma once

#include <string>

#include <epoxy/gl.h>

// The uniform-buffer binding of the "DeviceState" block and the texture units of the two stages.
inline constexpr GLuint deviceStateBinding = 0;
inline constexpr GLint stageTextureUnit[2] = {0, 1};

// Attribute locations of the program.
enum VertexAttribute : GLuint {
    attributePosition = 0,
    attributeNormal = 1,
    attributeDiffuse = 2,
    attributeSpecular = 3,
    attributeTexCoord0 = 4,  // stage 0's coordinate set
    attributeTexCoord1 = 5,  // stage 1's coordinate set
};

// Compiles and links the fixed-function program, binds its uniform block and samplers.
// Returns 0 and fills error when the driver refuses it.
GLuint buildFixedFunctionProgram(std::string& error);
