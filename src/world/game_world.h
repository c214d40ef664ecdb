#pragma once

#include <cstdint>
#include <memory>

#include "device/graphics_device.h"
#include "math/vec3.h"
#include "state/lighting.h"

inline constexpr const char* followerBallFileName = "Graphic/Billardkugel1.bmp";
inline constexpr const char* projectileBallFileName = "Graphic/Billardkugel3.bmp";

class Terrain;
class StarField;
class Ball;

// Everything in the scene apart from the camera: terrain, lights, star field, the two balls, and
// the state of the trajectory follower (ball 1) and the projectile (ball 2).
class GameWorld {
public:
    GameWorld();
    ~GameWorld();
    GameWorld(const GameWorld&) = delete;
    GameWorld& operator=(const GameWorld&) = delete;

    void frame();
    void drawPointBatch();
    void followerStep();
    void projectileStep();
    void drawHud();

    std::unique_ptr<Terrain> terrain;
    Vec3 lightDirWork;
    Light light0;
    Light light1;
    std::unique_ptr<StarField> starField;
    std::unique_ptr<Ball> followerBall;
    std::unique_ptr<Ball> projectileBall;
    Vec3 followerPos;
    Vec3 nextPoint;
    Vec3 segmentVelocity;
    Vec3 projectilePos;
    Vec3 launchPos;
    Vec3 projectileVel;
    int32_t segmentIndex = 0;
    float segmentTimer = 0.0f;
    float launchSpeed = 0.0f;
    float launchAngle = 0.0f;
    float launchAzimuth = 0.0f;
    float gravity = 0.0f;
    float pi = 0.0f;
    float segmentDuration = 0.0f;

private:
    void setUpLight(Light& light, uint32_t index, float aDegrees, float bDegrees);
};

extern GameWorld* theWorld;
// Index 0..9 of the sound channel the next explosion uses.
extern int32_t explosionChannel;

void createWorld();
void destroyWorld();

Vec3 launchVelocity(float speed, float angle, float azimuth);
void placeExplosionSound(const Vec3& position, const Vec3& velocity);
void playExplosion();
