#pragma once

// The OpenAL the engine is written against: OpenAL Soft with its extensions in the program,
// emscripten's OpenAL on Web Audio in the browser build. The browser's has none of the
// extensions (it says so when asked), so there only their names are given, for code that asks.

#include <AL/al.h>
#include <AL/alc.h>

#ifdef __EMSCRIPTEN__
// Web Audio: no sound library of the system (alsa-lib) behind it to quieten.
inline constexpr bool openAlOnWebAudio = true;
#define ALC_FORMAT_CHANNELS_SOFT 0x1990
#define ALC_FORMAT_TYPE_SOFT 0x1991
#define ALC_FLOAT_SOFT 0x1406
#define ALC_STEREO_SOFT 0x1501
#define ALC_HRTF_SOFT 0x1992
#define ALC_OUTPUT_LIMITER_SOFT 0x199A
#define AL_SOURCE_SPATIALIZE_SOFT 0x1214
typedef ALCdevice* (*LPALCLOOPBACKOPENDEVICESOFT)(const ALCchar*);
typedef ALCboolean (*LPALCISRENDERFORMATSUPPORTEDSOFT)(ALCdevice*, ALCsizei, ALCenum, ALCenum);
typedef void (*LPALCRENDERSAMPLESSOFT)(ALCdevice*, ALCvoid*, ALCsizei);
#else
#include <AL/alext.h>
inline constexpr bool openAlOnWebAudio = false;
#endif
