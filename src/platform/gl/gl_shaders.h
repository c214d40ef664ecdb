#pragma once

#include <string>

#include "platform/gl/gl_api.h"

// The uniform-buffer bindings of the "DrawState" and "FrameState" blocks and the texture units of
// the two stages.
inline constexpr GLuint drawStateBinding = 0;
inline constexpr GLuint frameStateBinding = 1;
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

struct ProgramKey;

// Compiles and links the fixed-function program, binds its uniform blocks and samplers, and leaves
// it in use. Without a specialisation it is the general program that reads every state from the
// blocks; with one, the key's states are constants in the same source. Returns 0 and fills error
// when the driver refuses it.
GLuint buildFixedFunctionProgram(std::string& error, const ProgramKey* specialisation = nullptr);
