#pragma once

#include <filesystem>
#include <string>

#include "output_files.h"
#include "platform/audio/wav_file.h"

// The background music: a 32-second stereo loop at 44.1 kHz. Eight chords of four seconds
// (C, A minor, F, G, C, E minor, F, G) as a soft pad of slightly detuned sine voices spread across
// the stereo field, a sine bass on each root, and a bell-like melody of decaying sines. Every note
// is written around the loop, so its tail wraps to the start and the loop has no seam.
PcmSound demoMusic();

// The explosion: two seconds of mono at 44.1 kHz. A low sine thump falling from 90 to 38 Hz under
// a burst of white noise whose low-pass cutoff falls from about 5 kHz to 200 Hz, with sparse
// crackles in the first half second; everything decays exponentially and fades to silence.
PcmSound demoExplosion();

// Writes OUTDIR/Backgroundmusic.wav and OUTDIR/Explosion.wav.
bool writeDemoSounds(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error);
