// What the driver alone charges for the parts of a frame that zentrix and the peers draw alike:
// an 800 x 600 window with an OpenGL 3.3 core context as the program's (16-bit depth asked for,
// no vsync), cleared and presented, with and without 5,000 one-pixel points (the star field's
// count and primitive). Run in the same X session as the peer comparison; bench/README.md uses
// it to show how much of the scene without terrain is left to the program at all.
//
//   build/driver_floor [frames]      (under X, e.g. xvfb-run; vblank_mode=0 for Mesa)

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

GLuint pointProgram()
{
    const char* vertex = "#version 330 core\nlayout(location = 0) in vec2 p;\nvoid main() { gl_Position = vec4(p, 0.5, 1.0); }\n";
    const char* fragment = "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(0.9); }\n";
    const GLuint program = glCreateProgram();
    for (auto [kind, source] : {std::pair{GL_VERTEX_SHADER, vertex}, std::pair{GL_FRAGMENT_SHADER, fragment}}) {
        const GLuint shader = glCreateShader(kind);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
        glDeleteShader(shader);
    }
    glLinkProgram(program);
    return program;
}

// Milliseconds a frame: the median of 9 blocks of frames / 9 frames each.
double timeFrames(SDL_Window* window, int frames, GLbitfield clearMask, int points)
{
    std::vector<double> blocks;
    for (int b = 0; b < 9; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int f = 0; f < frames / 9; ++f) {
            glClear(clearMask);
            if (points > 0) glDrawArrays(GL_POINTS, 0, points);
            SDL_GL_SwapWindow(window);
        }
        blocks.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                         (frames / 9));
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks[4];
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(90, std::atoi(argv[1])) : 1800;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "driver_floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_Window* window = SDL_CreateWindow("driver_floor", 0, 0, 800, 600, SDL_WINDOW_OPENGL);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        std::fprintf(stderr, "driver_floor: no OpenGL 3.3 window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetSwapInterval(0);
    std::vector<float> positions;
    std::srand(1);
    for (int i = 0; i < 2 * 5000; ++i) positions.push_back(float(std::rand()) / float(RAND_MAX) * 2.0f - 1.0f);
    GLuint array = 0, buffer = 0;
    glGenVertexArrays(1, &array);
    glBindVertexArray(array);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(positions.size() * sizeof(float)), positions.data(), GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glUseProgram(pointProgram());
    glClearColor(0.39f, 0.8f, 1.0f, 1.0f);

    timeFrames(window, 90, GL_COLOR_BUFFER_BIT, 5000);  // warm up: shaders built, buffers placed
    std::printf("driver_floor: %s, 800x600 window, ms a frame (median of 9 blocks of %d frames)\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)), frames / 9);
    std::printf("  clear colour + depth, present          %6.3f\n",
                timeFrames(window, frames, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, 0));
    std::printf("  clear colour, present                  %6.3f\n", timeFrames(window, frames, GL_COLOR_BUFFER_BIT, 0));
    std::printf("  clear colour, 5,000 points, present    %6.3f\n", timeFrames(window, frames, GL_COLOR_BUFFER_BIT, 5000));
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
