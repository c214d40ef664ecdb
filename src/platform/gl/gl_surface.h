#pragma once

// The window a GL device draws into and its context, as the device reaches them: SDL's window and
// OpenGL context in the program, the page's canvas and its WebGL 2 context in the browser build
// (defined in platform/web).

#ifdef __EMSCRIPTEN__
struct GlCanvas;  // the page's canvas; never dereferenced
using GlWindow = GlCanvas;
using GlContext = void*;  // the WebGL context's handle

void glSurfaceMakeCurrent(GlWindow* window, GlContext context);
void glSurfaceDeleteContext(GlContext context);
void glSurfaceDrawableSize(GlWindow* window, int* width, int* height);
// The browser shows the frame when the frame callback returns.
inline void glSurfaceSwap(GlWindow*) {}
const char* glSurfaceSetting(const char* name);
#else
#include <SDL.h>

using GlWindow = SDL_Window;
using GlContext = SDL_GLContext;

inline void glSurfaceMakeCurrent(GlWindow* window, GlContext context) { SDL_GL_MakeCurrent(window, context); }
inline void glSurfaceDeleteContext(GlContext context) { SDL_GL_DeleteContext(context); }
inline void glSurfaceDrawableSize(GlWindow* window, int* width, int* height)
{
    SDL_GL_GetDrawableSize(window, width, height);
}
inline void glSurfaceSwap(GlWindow* window) { SDL_GL_SwapWindow(window); }
// A debugging switch from the environment.
inline const char* glSurfaceSetting(const char* name) { return SDL_getenv(name); }
#endif
