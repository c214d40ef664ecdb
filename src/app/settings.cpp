#include "app/settings.h"

#include <cmath>

#include "app/fatal_error.h"
#include "app/token_reader.h"

AppSettings appSettings;
char textBuffer[textBufferSize];

bool loadResolutionSettings()
{
    TokenReader in;
    if (!in.openRequired(resolutionFileName)) return false;
    for (int i = 0; i < 6; ++i) in.skipLabel();
    int32_t mode = 0;  // unreadable counts as any other mode
    in.readInt(mode);
    switch (mode) {
    case 2: appSettings.screenWidth = 800; appSettings.screenHeight = 600; appSettings.colorDepth = 32; break;
    case 3: appSettings.screenWidth = 1024; appSettings.screenHeight = 768; appSettings.colorDepth = 16; break;
    case 4: appSettings.screenWidth = 1024; appSettings.screenHeight = 768; appSettings.colorDepth = 32; break;
    default: appSettings.screenWidth = 800; appSettings.screenHeight = 600; appSettings.colorDepth = 16; break;
    }
    in.skipLabel();
    int32_t flag = -1;
    appSettings.fullScreen = 1;
    if (in.readInt(flag) && flag == 0) appSettings.fullScreen = 0;
    return true;
}

bool loadRenderingSettings()
{
    TokenReader in;
    if (!in.openRequired(renderingFileName)) return false;
    for (int i = 0; i < 5; ++i) in.skipLabel();
    in.readInt(appSettings.vertexProcessing);
    in.skipLabel();
    in.readInt(appSettings.pacingMode);
    in.skipLabel();
    in.readFloat(appSettings.targetFps);
    appSettings.targetFrameMs = 1000.0f / appSettings.targetFps;
    in.skipLabel();
    float unused = 0.0f;
    in.readFloat(unused);

    // Values the program cannot run with are refused here rather than hanging or failing later.
    if (appSettings.vertexProcessing < 0 || appSettings.vertexProcessing > 3) {
        reportFatal(std::string(renderingFileName) + ": vertex processing must be 0, 1, 2 or 3, not " +
                    std::to_string(appSettings.vertexProcessing));
        return false;
    }
    if (appSettings.pacingMode == 1 && !(appSettings.targetFps > 0.0f && std::isfinite(appSettings.targetFrameMs))) {
        reportFatal(std::string(renderingFileName) +
                    ": pacing mode 1 needs a target frame rate above 0 (the frame would never end)");
        return false;
    }
    return true;
}

bool loadGameSettings()
{
    TokenReader in;
    if (!in.openRequired(gameSettingsFileName)) return false;
    in.skipLabel();
    in.readFloat(appSettings.viewDistance);
    appSettings.viewDistanceSq = appSettings.viewDistance * appSettings.viewDistance;
    return true;
}
