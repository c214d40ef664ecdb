#include "app/trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "app/application.h"
#include "app/run_output.h"
#include "state/camera.h"
#include "app/input.h"
#include "terrain/terrain.h"
#include "world/game_world.h"

namespace {

const char* const header =
    "frame,tick,dt,frame_ms,cam_x,cam_y,cam_z,look_x,look_y,look_z,time_factor,speed,angle,sound,mip_filter,detail,"
    "follower_x,follower_y,follower_z,segment,segment_timer,segment_duration,"
    "projectile_x,projectile_y,projectile_z,projectile_vx,projectile_vy,projectile_vz,"
    "launch_speed,launch_angle,explosion_channel,ground_height,land_tile,water_tile,water_frame";

// A row is formatted whole and written with one checked write.
void put(std::string& row, const char* format, ...) __attribute__((format(printf, 2, 3)));
void put(std::string& row, const char* format, ...)
{
    char text[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) row.append(text, std::min(size_t(n), sizeof text - 1));
}
void putFloat(std::string& row, float v) { put(row, ",%.9g", static_cast<double>(v)); }
void putVec(std::string& row, const Vec3& v)
{
    putFloat(row, v.x);
    putFloat(row, v.y);
    putFloat(row, v.z);
}

}  // namespace

bool TraceWriter::open(const std::string& path, std::string& error)
{
    if (!file_.open(path, "trace file") || !file_.write(std::string(header) + "\n")) {
        error = file_.error();
        return false;
    }
    return true;
}

bool TraceWriter::writeRow()
{
    if (!file_.isOpen()) return true;
    std::string f;
    put(f, "%" PRId64 ",%" PRIu32, frameIndex, frameClock.frameStartTick);
    putFloat(f, frameClock.dt);
    put(f, ",%" PRId32, frameClock.frameMs);
    putVec(f, cameraPos);
    putVec(f, lookDir);
    putFloat(f, timeFactor);
    putFloat(f, speedSetting);
    putFloat(f, angleSetting);
    put(f, ",%d,%d,%d", int(soundSwitch), int(mipFilterMode), int(detailTextureSwitch));
    if (const GameWorld* w = theWorld) {
        putVec(f, w->followerPos);
        put(f, ",%d", int(w->segmentIndex));
        putFloat(f, w->segmentTimer);
        putFloat(f, w->segmentDuration);
        putVec(f, w->projectilePos);
        putVec(f, w->projectileVel);
        putFloat(f, w->launchSpeed);
        putFloat(f, w->launchAngle);
    } else {
        f += ",,,,,,,,,,,,,,";
    }
    put(f, ",%d", int(explosionChannel));
    if (const Terrain* t = theWorld ? theWorld->terrain.get() : nullptr) {
        putFloat(f, terrainFrame.groundHeight());
        put(f, ",%d,%d,%d\n", terrainFrame.landTileIndex, terrainFrame.waterTileIndex,
            t->waterTileCount > 0 ? t->waterTiles[0].currentFrame : -1);
    } else {
        f += ",,,,\n";
    }
    return file_.write(f);
}

bool TraceWriter::finish() { return file_.finish(); }

namespace {

class TraceOutput final : public RunOutput {
public:
    explicit TraceOutput(std::string path) : path_(std::move(path)) {}
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>&) const override
    {
        writes.push_back({path_, "--trace " + path_});
    }
    bool open(std::string& error) override { return trace_.open(path_, error); }
    bool afterFrame(const FrameDone&, std::string& error) override { return trace_.writeRow() || fails(trace_.error(), error); }
    bool finish(const char*, std::string& error) override { return trace_.finish() || fails(trace_.error(), error); }
    bool commit(std::string& error) override { return trace_.commit() || fails(trace_.error(), error); }
    void abandon() override { trace_.abandon(); }

private:
    std::string path_;
    TraceWriter trace_;
};

}  // namespace

std::unique_ptr<RunOutput> makeTraceOutput(const RunOptions& options)
{
    if (options.traceFile.empty()) return nullptr;
    return std::make_unique<TraceOutput>(options.traceFile);
}
