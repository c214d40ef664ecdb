#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The settings of the three start-up files, read once each.
struct AppSettings {
    int32_t screenWidth = 800;
    int32_t screenHeight = 600;
    int32_t colorDepth = 16;
    int32_t fullScreen = 1;
    int32_t vertexProcessing = 0;
    int32_t pacingMode = 0;
    float targetFps = 0.0f;
    float targetFrameMs = 0.0f;
    float viewDistance = 1000.0f;
    float viewDistanceSq = 1000000.0f;
};

extern AppSettings appSettings;

// Shared scratch space for single words and short lines; its contents mean nothing between uses.
inline constexpr size_t textBufferSize = 200;
extern char textBuffer[textBufferSize];

inline constexpr const char* resolutionFileName = "Resolutions.txt";
inline constexpr const char* renderingFileName = "RenderingAndMore.txt";
inline constexpr const char* gameSettingsFileName = "SpielEinstellungen.txt";

// Each reads its file from the working directory into appSettings. False, with a fatal error
// reported, when the file cannot be opened or holds a value the program cannot run with.
bool loadResolutionSettings();
bool loadRenderingSettings();
bool loadGameSettings();
