#pragma once

// The OpenGL the device is written against: desktop OpenGL 3.3 core through libepoxy in the
// program, OpenGL ES 3.0 (WebGL 2) in the browser build. The few entry points and constants ES
// lacks are given here in ES terms, so the device code reads the same for both; what ES cannot
// do at all (wireframe fill, waiting on a fence, base-vertex draws, swizzled or BGRA textures)
// is handled where the device uses it, by glesDevice.

#ifdef __EMSCRIPTEN__
#include <GLES3/gl3.h>

inline constexpr bool glesDevice = true;

// Only as values the device compares or passes to its own conversions; never given to ES.
#define GL_BGRA 0x80E1
#define GL_UNSIGNED_SHORT_4_4_4_4_REV 0x8365
#define GL_UNSIGNED_SHORT_1_5_5_5_REV 0x8366
#define GL_DEPTH_COMPONENT32 0x81A7
#define GL_POINT 0x1B00
#define GL_LINE 0x1B01
#define GL_FILL 0x1B02

inline void glClearDepth(double depth) { glClearDepthf(static_cast<float>(depth)); }
// Points are one pixel through gl_PointSize in the vertex shader.
inline void glPointSize(float) {}
// Polygons are always filled: WebGL has no fill mode.
inline void glPolygonMode(GLenum, GLenum) {}
inline void glFramebufferTexture(GLenum target, GLenum attachment, GLuint texture, GLint level)
{
    glFramebufferTexture2D(target, attachment, GL_TEXTURE_2D, texture, level);
}
// The device shifts the attribute pointers by the base vertex before these, as ES has no base
// vertex of its own.
inline void glDrawElementsBaseVertex(GLenum mode, GLsizei count, GLenum type, const void* indices, GLint)
{
    glDrawElements(mode, count, type, indices);
}
inline void glMultiDrawElementsBaseVertex(GLenum mode, const GLsizei* counts, GLenum type, const void* const* indices,
                                          GLsizei drawCount, const GLint*)
{
    for (GLsizei i = 0; i < drawCount; ++i) glDrawElements(mode, counts[i], type, indices[i]);
}
inline int glContextVersion() { return 33; }  // the context is made as WebGL 2 or not at all
// The shader language header of every program.
inline constexpr const char* glslVersionLine = "#version 300 es\nprecision highp float;\nprecision highp int;\n"
                                               "#define GLES_DEVICE 1\n";
#else
#include <epoxy/gl.h>

inline constexpr bool glesDevice = false;
inline int glContextVersion() { return epoxy_gl_version(); }
inline constexpr const char* glslVersionLine = "#version 330 core\n";
#endif

// The vertex attribute size of a 32-bit colour (B, G, R, A in memory): GL reads it in that order
// itself; ES reads R, G, B, A and the shader swaps red and blue back.
inline constexpr GLint colorAttributeSize = glesDevice ? 4 : GL_BGRA;
