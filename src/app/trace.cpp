#include "app/trace.h"

#include <cerrno>
#include <cstring>

#include "app/application.h"
#include "app/camera.h"
#include "app/input.h"
#include "terrain/terrain.h"
#include "world/game_world.h"

namespace {

const char* const header =
    "frame,tick,dt,frame_ms,cam_x,cam_y,cam_z,look_x,look_y,look_z,time_factor,speed,angle,sound,mip_filter,detail,"
    "follower_x,follower_y,follower_z,segment,segment_timer,segment_duration,"
    "projectile_x,projectile_y,projectile_z,projectile_vx,projectile_vy,projectile_vz,"
    "launch_speed,launch_angle,explosion_channel,ground_height,land_tile,water_tile,water_frame";

void putFloat(std::FILE* f, float v) { std::fprintf(f, ",%.9g", static_cast<double>(v)); }
void putVec(std::FILE* f, const Vec3& v)
{
    putFloat(f, v.x);
    putFloat(f, v.y);
    putFloat(f, v.z);
}

}  // namespace

TraceWriter::~TraceWriter() { close(); }

bool TraceWriter::open(const std::string& path, std::string& error)
{
    close();
    errno = 0;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error = "cannot create trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(file_, "%s\n", header);
    return true;
}

void TraceWriter::writeRow()
{
    if (!file_) return;
    std::FILE* f = file_;
    std::fprintf(f, "%lld,%u", static_cast<long long>(frameIndex), frameClock.frameStartTick);
    putFloat(f, frameClock.dt);
    std::fprintf(f, ",%d", frameClock.frameMs);
    putVec(f, cameraPos);
    putVec(f, lookDir);
    putFloat(f, timeFactor);
    putFloat(f, speedSetting);
    putFloat(f, angleSetting);
    std::fprintf(f, ",%d,%d,%d", soundSwitch, mipFilterMode, detailTextureSwitch);
    if (const GameWorld* w = theWorld) {
        putVec(f, w->followerPos);
        std::fprintf(f, ",%d", w->segmentIndex);
        putFloat(f, w->segmentTimer);
        putFloat(f, w->segmentDuration);
        putVec(f, w->projectilePos);
        putVec(f, w->projectileVel);
        putFloat(f, w->launchSpeed);
        putFloat(f, w->launchAngle);
    } else {
        std::fprintf(f, ",,,,,,,,,,,,,,");
    }
    std::fprintf(f, ",%d", explosionChannel);
    if (const Terrain* t = theWorld ? theWorld->terrain.get() : nullptr) {
        putFloat(f, terrainFrame.groundHeight());
        std::fprintf(f, ",%d,%d,%d\n", terrainFrame.landTileIndex, terrainFrame.waterTileIndex,
                     t->waterTileCount > 0 ? t->waterTiles[0].currentFrame : -1);
    } else {
        std::fprintf(f, ",,,,\n");
    }
}

void TraceWriter::close()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
