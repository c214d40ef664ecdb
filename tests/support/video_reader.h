#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/graphics_device.h"

// Reads a video back with the same libraries that wrote it, for checking what --video made.
struct DecodedVideo {
    std::string videoCodec, audioCodec;
    int width = 0, height = 0;
    std::vector<int64_t> pictureMs;        // each picture's time, in order of presentation
    int64_t videoEndMs = 0;                // the last picture's time plus its duration
    std::vector<RgbaImage> picturesAt;     // the picture shown at each asked time
    std::vector<int16_t> sound;            // interleaved stereo, resampled to 44,100 Hz
    double soundStartMs = 0;               // the first sample's time, the lead-in trimmed
};

// wantMs: times whose shown picture goes into picturesAt. False with error.
bool readVideo(const std::string& path, const std::vector<int64_t>& wantMs, DecodedVideo& out, std::string& error);

// Peak signal-to-noise ratio of the colour channels of two pictures of one size, in dB.
double psnr(const RgbaImage& a, const RgbaImage& b);
// The correlation of the sound with reference (both interleaved stereo) when shifted by lag
// frames: 1 for the same sound.
double soundCorrelation(const std::vector<int16_t>& sound, const std::vector<int16_t>& reference, int64_t lag);
