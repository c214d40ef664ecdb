#include "state/settings.h"

#include <cmath>
#include <cstdio>

#include "base/fatal_error.h"
#include "base/token_reader.h"
#include "base/data_folder.h"

AppSettings appSettings;
char textBuffer[textBufferSize];

namespace {

// The longest frame pacing mode 1 can wait for: a frame is measured as a signed 32-bit count of
// milliseconds, so a longer target would never be passed and the frame would never end.
constexpr float maxTargetFrameMs = 2147483647.0f;

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// A number is read from the front of its token, as formatted input reads it ("2.5" is 2, and
// ".5" is left for the next label); the user is told when that is not the whole token.
void warnIfPartlyRead(TokenReader& in, const char* fileName, const char* field, const std::string& found,
                      const std::string& value, const char* kind)
{
    if (!in.tokenDone())
        reportWarning(shownPath(fileName) + ": " + field + " " + found + " is read as " + value + ": " + kind +
                      " ends at its first character that cannot continue it");
}

// A value that cannot be read keeps its start value; the user is told which and why.
bool readIntOrWarn(TokenReader& in, const char* fileName, const char* field, int32_t& value, const std::string& keeps)
{
    const std::string found = in.describeNext();
    if (in.readInt(value)) {
        warnIfPartlyRead(in, fileName, field, found, std::to_string(value), "a whole number");
        return true;
    }
    reportWarning(shownPath(fileName) + ": " + field + " is not a whole number but " + found + "; " + keeps);
    return false;
}

bool readFloatOrWarn(TokenReader& in, const char* fileName, const char* field, float& value, const std::string& keeps)
{
    const std::string found = in.describeNext();
    if (in.readFloat(value)) {
        warnIfPartlyRead(in, fileName, field, found, number(value), "a number");
        return true;
    }
    reportWarning(shownPath(fileName) + ": " + field + " is not a number but " + found + "; " + keeps);
    return false;
}

}  // namespace

bool loadResolutionSettings()
{
    TokenReader in;
    if (!in.openRequired(resolutionFileName)) return false;
    for (int i = 0; i < 6; ++i) in.skipLabel();
    int32_t mode = 0;  // unreadable counts as any other mode
    if (readIntOrWarn(in, resolutionFileName, "the display mode", mode, "using 800 x 600 at 16 bit") &&
        (mode < 1 || mode > 4))
        reportWarning(shownPath(resolutionFileName) + ": display mode " + std::to_string(mode) +
                      " is not 1, 2, 3 or 4; using 800 x 600 at 16 bit");
    switch (mode) {
    case 2: appSettings.screenWidth = 800; appSettings.screenHeight = 600; appSettings.colorDepth = 32; break;
    case 3: appSettings.screenWidth = 1024; appSettings.screenHeight = 768; appSettings.colorDepth = 16; break;
    case 4: appSettings.screenWidth = 1024; appSettings.screenHeight = 768; appSettings.colorDepth = 32; break;
    default: appSettings.screenWidth = 800; appSettings.screenHeight = 600; appSettings.colorDepth = 16; break;
    }
    in.skipLabel();
    int32_t flag = -1;
    appSettings.fullScreen = 1;
    if (readIntOrWarn(in, resolutionFileName, "the full-screen flag", flag, "using full screen")) {
        if (flag == 0)
            appSettings.fullScreen = 0;
        else if (flag != 1)
            reportWarning(shownPath(resolutionFileName) + ": full-screen flag " + std::to_string(flag) +
                          " is neither 0 nor 1; using full screen");
    }
    return true;
}

bool loadRenderingSettings()
{
    TokenReader in;
    if (!in.openRequired(renderingFileName)) return false;
    for (int i = 0; i < 5; ++i) in.skipLabel();
    readIntOrWarn(in, renderingFileName, "the vertex processing", appSettings.vertexProcessing,
                  "keeping " + std::to_string(appSettings.vertexProcessing));
    in.skipLabel();
    if (readIntOrWarn(in, renderingFileName, "the frame pacing", appSettings.pacingMode,
                      "keeping " + std::to_string(appSettings.pacingMode) + ", so time stands still") &&
        appSettings.pacingMode != 1 && appSettings.pacingMode != 2)
        reportWarning(shownPath(renderingFileName) + ": frame pacing " + std::to_string(appSettings.pacingMode) +
                      " is neither 1 nor 2, so time stands still");
    in.skipLabel();
    // Only pacing mode 1 waits for the target, so only there is it worth a word.
    if (appSettings.pacingMode == 1)
        readFloatOrWarn(in, renderingFileName, "the target frame rate", appSettings.targetFps,
                        "keeping " + number(appSettings.targetFps));
    else
        in.readFloat(appSettings.targetFps);
    // A rate of 0 means an endless frame; said without dividing by zero.
    appSettings.targetFrameMs = appSettings.targetFps == 0.0f ? INFINITY : 1000.0f / appSettings.targetFps;
    in.skipLabel();
    float unused = 0.0f;
    in.readFloat(unused);  // reserved: has no effect, so nothing about it is worth a message

    // Values the program cannot run with are refused here rather than hanging or failing later.
    if (appSettings.vertexProcessing < 0 || appSettings.vertexProcessing > 3) {
        reportFatal(shownPath(renderingFileName) + ": vertex processing must be 0, 1, 2 or 3, not " +
                    std::to_string(appSettings.vertexProcessing));
        return false;
    }
    // Any positive rate paces: 0.5 gives frames of 2,000 ms, a rate above 1,000 frames of one tick.
    // The other modes never read it.
    if (appSettings.pacingMode == 1 &&
        !(appSettings.targetFps > 0.0f && std::isfinite(appSettings.targetFps) && appSettings.targetFrameMs < maxTargetFrameMs)) {
        reportFatal(shownPath(renderingFileName) + ": with pacing mode 1 the target frame rate must be a finite number above " +
                    number(1000.0 / 2147483648.0) + " frames per second (a frame of at most 24.8 days), not " +
                    number(appSettings.targetFps));
        return false;
    }
    return true;
}

bool loadGameSettings()
{
    TokenReader in;
    if (!in.openRequired(gameSettingsFileName)) return false;
    in.skipLabel();
    readFloatOrWarn(in, gameSettingsFileName, "the view distance", appSettings.viewDistance,
                    "keeping " + number(appSettings.viewDistance));
    appSettings.viewDistanceSq = appSettings.viewDistance * appSettings.viewDistance;
    // A distance that is not a positive finite number, or whose square overflows, leaves
    // nothing to draw.
    if (!(appSettings.viewDistance > 0.0f && std::isfinite(appSettings.viewDistanceSq))) {
        reportFatal(shownPath(gameSettingsFileName) +
                    ": the view distance must be a finite number above 0 (and below 1.8e19), not " +
                    number(appSettings.viewDistance));
        return false;
    }
    return true;
}
