#include "platform/audio/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <SDL.h>
#include <sys/stat.h>

namespace {

struct SdlWav {
    Uint8* data = nullptr;
    ~SdlWav()
    {
        if (data) SDL_FreeWAV(data);
    }
};

void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

std::string systemReason(int err) { return err ? std::strerror(err) : "unknown error"; }

uint32_t getLe32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The loader allocates what a chunk header claims before it reads: a 44-byte file claiming 2 GiB
// of data would cost 2 GiB. Every size is cut down to what the image really holds.
void clampChunkSizes(std::vector<uint8_t>& image)
{
    const size_t size = image.size();
    size_t pos = 0;
    if (size >= 12 && std::memcmp(image.data(), "RIFF", 4) == 0) {
        putLe32(&image[4], std::min<uint32_t>(getLe32(&image[4]), static_cast<uint32_t>(size - 8)));
        pos = 12;
    } else if (size >= 4 && std::memcmp(image.data(), "WAVE", 4) == 0) {
        pos = 4;  // the loader also takes a file whose RIFF header is missing
    } else {
        return;
    }
    while (pos + 8 <= size) {
        const size_t available = size - (pos + 8);
        size_t length = getLe32(&image[pos + 4]);
        if (length > available) {
            length = available;
            putLe32(&image[pos + 4], static_cast<uint32_t>(length));
        }
        pos += 8 + length + (length & 1);
    }
}

}  // namespace

bool decodeWav(const uint8_t* data, size_t size, PcmSound& out, std::string& why)
{
    if (size > maxWavFileBytes) {
        why = "is larger than 256 MiB";
        return false;
    }
    return decodeWav(std::vector<uint8_t>(data, data + size), out, why);
}

bool decodeWav(std::vector<uint8_t>&& file, PcmSound& out, std::string& why)
{
    // A sound of hundreds of megabytes is held at most twice at any moment: the file and the
    // loader's copy, then the loader's copy and the converted samples.
    std::vector<uint8_t> image = std::move(file);
    const size_t size = image.size();
    if (size > maxWavFileBytes || size > static_cast<size_t>(std::numeric_limits<int>::max())) {
        why = "is larger than 256 MiB";
        return false;
    }
    clampChunkSizes(image);
    SDL_RWops* rw = SDL_RWFromConstMem(image.data(), static_cast<int>(image.size()));
    if (!rw) {
        why = std::string("cannot be read: ") + SDL_GetError();
        return false;
    }
    SDL_AudioSpec spec;
    SdlWav wav;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &spec, &wav.data, &length)) {
        why = std::string("is not a usable WAV file (") + SDL_GetError() + ")";
        return false;
    }
    image = std::vector<uint8_t>();
    if (spec.freq < 1000 || spec.freq > 384000) {
        why = "has a sample rate of " + std::to_string(spec.freq) + " Hz; 1000 to 384000 Hz are played";
        return false;
    }
    if (spec.channels < 1 || spec.channels > 8) {
        why = "has " + std::to_string(spec.channels) + " channels; 1 to 8 are played";
        return false;
    }
    const int channels = spec.channels == 1 ? 1 : 2;
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, static_cast<Uint8>(channels),
                          spec.freq) < 0) {
        why = std::string("has a sample format that cannot be converted (") + SDL_GetError() + ")";
        return false;
    }
    const size_t inFrameBytes = static_cast<size_t>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
    const size_t frames = inFrameBytes ? length / inFrameBytes : 0;
    if (frames == 0) {
        why = "holds no sound";
        return false;
    }
    const size_t inBytes = frames * inFrameBytes;
    // Converted in place in the buffer that becomes the samples.
    const size_t workBytes = inBytes * static_cast<size_t>(cvt.len_mult > 0 ? cvt.len_mult : 1);
    std::vector<int16_t> work((workBytes + 1) / 2);
    std::memcpy(work.data(), wav.data, inBytes);
    SDL_FreeWAV(wav.data);
    wav.data = nullptr;
    size_t outBytes = inBytes;
    if (cvt.needed) {
        cvt.buf = reinterpret_cast<Uint8*>(work.data());
        cvt.len = static_cast<int>(inBytes);
        if (SDL_ConvertAudio(&cvt) < 0) {
            why = std::string("cannot be converted (") + SDL_GetError() + ")";
            return false;
        }
        outBytes = static_cast<size_t>(cvt.len_cvt);
    }
    work.resize(outBytes / 2 / static_cast<size_t>(channels) * static_cast<size_t>(channels));
    if (work.size() * 2 < work.capacity()) work.shrink_to_fit();
    out.channels = channels;
    out.rate = spec.freq;
    out.samples = std::move(work);
    if (out.samples.empty()) {
        why = "holds no sound";
        return false;
    }
    return true;
}

bool loadWavFile(const std::string& path, PcmSound& out, std::string& why)
{
    // A directory, device or pipe is refused by its type before anything is read.
    std::FILE* f = openRegularFile(path);
    if (!f) {
        const int err = errno;
        why = err == EISDIR ? "is a directory, not a sound file"
              : err == EINVAL ? "is not a regular file"
                              : "cannot be opened: " + openFailureReason(err);
        return false;
    }
    std::vector<uint8_t> bytes;
    // Room for the size the file states (the loop still stops at the limit whatever it states),
    // so that the buffer is not regrown and copied along the way.
    struct stat info {};
    if (fstat(fileno(f), &info) == 0 && info.st_size > 0)
        bytes.reserve(std::min<size_t>(size_t(info.st_size), maxWavFileBytes + 1));
    uint8_t chunk[65536];
    size_t n = 0;
    bool tooLarge = false;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes.size() + n > maxWavFileBytes) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool readError = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (tooLarge) {
        why = "is larger than 256 MiB";
        return false;
    }
    if (readError) {
        why = "cannot be read: " + systemReason(err);
        return false;
    }
    return decodeWav(std::move(bytes), out, why);
}

PcmSound downmixToMono(const PcmSound& sound)
{
    if (sound.channels != 2) return sound;
    PcmSound mono;
    mono.channels = 1;
    mono.rate = sound.rate;
    const size_t frames = sound.frames();
    mono.samples.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        const int sum = sound.samples[2 * i] + sound.samples[2 * i + 1];
        mono.samples[i] = static_cast<int16_t>(sum / 2);
    }
    return mono;
}

bool WavWriter::open(const std::string& path, int channels, int rate, std::string& why)
{
    file_.abandon();
    channels_ = channels;
    dataBytes_ = 0;
    if (!file_.open(path, "sound file")) {
        why = file_.error();
        return false;
    }
    uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    putLe32(header + 16, 16);
    putLe16(header + 20, 1);  // PCM
    putLe16(header + 22, static_cast<uint16_t>(channels));
    putLe32(header + 24, static_cast<uint32_t>(rate));
    putLe32(header + 28, static_cast<uint32_t>(rate) * frameBytes());
    putLe16(header + 32, static_cast<uint16_t>(frameBytes()));
    putLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    // A pipe cannot be rewound to update the sizes, so it is told the largest ones, as streamed
    // WAV data usually is.
    putLe32(header + 4, file_.seekable() ? 36u : 0xFFFFFFFFu);
    putLe32(header + 40, file_.seekable() ? 0u : 0xFFFFFFFFu);
    if (!file_.write(header, sizeof header) || !file_.flush()) {
        why = file_.error();
        file_.abandon();
        return false;
    }
    return true;
}

bool WavWriter::updateHeader()
{
    if (!file_.seekable()) return file_.flush();
    uint8_t size[4];
    putLe32(size, 36u + dataBytes_);
    if (!file_.writeAt(4, size, 4)) return false;
    putLe32(size, dataBytes_);
    return file_.writeAt(40, size, 4) && file_.flush();
}

bool WavWriter::write(const int16_t* samples, size_t frames, std::string& why)
{
    if (!file_.isOpen()) {
        why = "sound file " + file_.path() + " is not open";
        return false;
    }
    // The sizes in the header are 32-bit.
    if (frames > maxFrames() - framesWritten()) {
        why = "sound file " + file_.path() + " reached the 4 GiB limit of the WAV format";
        return false;
    }
    const size_t count = frames * static_cast<size_t>(channels_);
    std::vector<uint8_t> bytes(count * 2);
    for (size_t i = 0; i < count; ++i) putLe16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    if (!file_.write(bytes.data(), bytes.size())) {
        why = file_.error();
        return false;
    }
    dataBytes_ += static_cast<uint32_t>(bytes.size());
    if (!updateHeader()) {
        why = file_.error();
        return false;
    }
    return true;
}

bool WavWriter::close(std::string& why) { return finish(why) && commit(why); }

bool WavWriter::finish(std::string& why)
{
    if (!file_.isOpen()) return true;
    if (!file_.failed()) updateHeader();
    if (!file_.finish()) {
        why = file_.error();
        return false;
    }
    return true;
}

bool WavWriter::commit(std::string& why)
{
    if (!file_.commit()) {
        why = file_.error();
        return false;
    }
    return true;
}

bool writeWavFile(const std::string& path, const PcmSound& sound, std::string& why)
{
    WavWriter writer;
    if (!writer.open(path, sound.channels, sound.rate, why)) return false;
    if (!writer.write(sound.samples.data(), sound.frames(), why)) return false;
    return writer.close(why);
}
