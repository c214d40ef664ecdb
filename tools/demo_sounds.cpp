#include "demo_sounds.h"

#include "output_files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr double twoPi = 6.283185307179586;

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Small own generator, so the sounds do not depend on the library's rand().
struct Noise {
    uint32_t state = 0x2545F491u;
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

PcmSound toPcm(const std::vector<double>& left, const std::vector<double>* right, double peak)
{
    double maxAbs = 1e-9;
    for (double v : left) maxAbs = std::max(maxAbs, std::fabs(v));
    if (right)
        for (double v : *right) maxAbs = std::max(maxAbs, std::fabs(v));
    const double scale = peak * 32767.0 / maxAbs;
    PcmSound pcm;
    pcm.channels = right ? 2 : 1;
    pcm.rate = rate;
    pcm.samples.reserve(left.size() * static_cast<size_t>(pcm.channels));
    for (size_t i = 0; i < left.size(); ++i) {
        pcm.samples.push_back(static_cast<int16_t>(std::lround(left[i] * scale)));
        if (right) pcm.samples.push_back(static_cast<int16_t>(std::lround((*right)[i] * scale)));
    }
    return pcm;
}

// A note written into a circular stereo buffer: attack, hold, then exponential release.
struct Loop {
    std::vector<double> left, right;
    explicit Loop(size_t n) : left(n, 0.0), right(n, 0.0) {}

    void note(double startS, double lengthS, double hz, double gain, double pan, double attackS, double releaseS,
              const double* partials, int partialCount, double detune)
    {
        const size_t n = left.size();
        const size_t start = static_cast<size_t>(startS * rate);
        const size_t total = static_cast<size_t>((lengthS + 5.0 * releaseS) * rate);
        const double l = std::cos((pan + 1.0) * 0.25 * 3.141592653589793);
        const double r = std::sin((pan + 1.0) * 0.25 * 3.141592653589793);
        for (size_t i = 0; i < total; ++i) {
            const double t = static_cast<double>(i) / rate;
            double env = std::min(1.0, t / attackS);
            if (t > lengthS) env *= std::exp(-(t - lengthS) / releaseS);
            double v = 0.0;
            for (int p = 0; p < partialCount; ++p) {
                const double f = hz * (p + 1);
                v += partials[p] * (std::sin(twoPi * f * (1.0 + detune) * t) + std::sin(twoPi * f * (1.0 - detune) * t));
            }
            v *= gain * env;
            const size_t k = (start + i) % n;
            left[k] += v * l;
            right[k] += v * r;
        }
    }
};

}  // namespace

PcmSound demoMusic()
{
    constexpr double chordS = 4.0;
    // Roots and chord tones (MIDI note numbers) of C, Am, F, G, C, Em, F, G.
    const int chords[8][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62},
                              {60, 64, 67}, {52, 55, 59}, {53, 57, 60}, {55, 59, 62}};
    Loop loop(static_cast<size_t>(8 * chordS * rate));
    const double padPartials[] = {1.0, 0.25, 0.08};
    const double bassPartials[] = {1.0, 0.15};
    const double bellPartials[] = {1.0, 0.0, 0.12};
    for (int c = 0; c < 8; ++c) {
        const double t0 = c * chordS;
        for (int v = 0; v < 3; ++v)
            loop.note(t0, chordS - 0.6, midiHz(chords[c][v]), 0.10, -0.5 + 0.5 * v, 0.9, 0.7, padPartials, 3, 0.0015);
        loop.note(t0, chordS - 0.5, midiHz(chords[c][0] - 24), 0.16, 0.0, 0.05, 0.5, bassPartials, 2, 0.0);
        // Melody: chord tones an octave up, on beats 1, 2 and 3, with a passing note on beat 4
        // every other bar.
        const int pattern[4] = {chords[c][2] + 12, chords[c][1] + 12, chords[c][0] + 12,
                                c % 2 ? chords[c][1] + 12 : -1};
        for (int beat = 0; beat < 4; ++beat) {
            if (pattern[beat] < 0) continue;
            loop.note(t0 + beat * 1.0, 0.05, midiHz(pattern[beat]), 0.09, 0.15, 0.01, 0.35, bellPartials, 3, 0.0);
        }
    }
    return toPcm(loop.left, &loop.right, 0.5);
}

PcmSound demoExplosion()
{
    const size_t n = static_cast<size_t>(2.0 * rate);
    std::vector<double> out(n, 0.0);
    Noise noise;
    double phase = 0.0;
    double low = 0.0;
    double low2 = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        // Thump: a falling sine.
        const double hz = 38.0 + 52.0 * std::exp(-t / 0.12);
        phase += twoPi * hz / rate;
        const double thump = std::sin(phase) * std::min(1.0, t / 0.004) * std::exp(-t / 0.35);
        // Rumble: noise through two one-pole low-passes whose cutoff falls.
        const double cutoff = 200.0 + 4800.0 * std::exp(-t / 0.18);
        const double a = 1.0 - std::exp(-twoPi * cutoff / rate);
        double x = noise.next();
        if (t < 0.5 && noise.next() > 0.995) x += 6.0 * noise.next();  // crackle
        low += a * (x - low);
        low2 += a * (low - low2);
        const double rumble = low2 * std::min(1.0, t / 0.002) * std::exp(-t / 0.45);
        double v = 1.0 * thump + 2.2 * rumble;
        // The last 50 ms fade to silence.
        const double tail = 2.0 - t;
        if (tail < 0.05) v *= tail / 0.05;
        out[i] = v;
    }
    return toPcm(out, nullptr, 0.9);
}

bool writeDemoSounds(OutputSet& set, const std::filesystem::path& outDir, Existing existing, std::string& error)
{
    // Each sound is made only when it is to be written: the music takes seconds.
    const auto write = [](PcmSound (*make)()) {
        return [make](const std::string& temporary, std::string& why) { return writeWavFile(temporary, make(), why); };
    };
    return set.write(outDir / "Backgroundmusic.wav", existing, error, write(demoMusic)) &&
           set.write(outDir / "Explosion.wav", existing, error, write(demoExplosion));
}
