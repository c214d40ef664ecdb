#include "state/clock.h"
#include "state/camera.h"
#include "state/input.h"
#include "sound/sound_system.h"
#include "world/game_world.h"

int32_t explosionChannel = 0;

Vec3 launchVelocity(float speed, float angle, float azimuth)
{
    const float t = floatCos(angle) * speed;
    return {floatSin(azimuth) * t, floatSin(angle) * speed, floatCos(azimuth) * (floatCos(angle) * speed)};
}

void GameWorld::projectileStep()
{
    const float dt = frameClock.dt;
    if (projectilePos.y > -20.0f) {
        // The height uses the velocity from before this step's change: the exact path of
        // constant acceleration whatever the step size.
        projectilePos.y = projectilePos.y + (projectileVel.y - 0.5f * gravity * dt) * dt;
        projectilePos.x = projectilePos.x + dt * projectileVel.x;
        projectilePos.z = projectilePos.z + dt * projectileVel.z;
        projectileVel.y = projectileVel.y - gravity * dt;
        return;
    }
    if (soundSwitch != 0) {
        const float r = 1.0f / 10.0f;
        projectilePos = projectilePos * r;
        placeExplosionSound(projectilePos, projectileVel);
        playExplosion();
    }
    projectilePos = launchPos;
    projectileVel = Vec3(0.0f, 0.0f, 0.0f);
    projectileVel = launchVelocity(launchSpeed, launchAngle, launchAzimuth);
}

void placeExplosionSound(const Vec3& p, const Vec3& v)
{
    // The listener stays at the origin facing +z, so the sound is turned into the camera's axes.
    const Matrix4 m = inverse(cameraOrientation);
    const Vec3 pp = transformDirection(p, m);
    const Vec3 vv = transformDirection(v, m);
    Sound3DParams& params = soundSystem.bufferParams[explosionChannel];
    params.position = pp;
    params.velocity = vv;
    if (SoundBuffer3D* buffer = soundSystem.soundBuffers[explosionChannel].get()) {
        buffer->setPosition(pp);
        buffer->setVelocity(vv);
    }
}

void playExplosion()
{
    if (SoundSegment* segment = soundSystem.explosionSegment.get()) {
        segment->play(DMUS_SEGF_SECONDARY, soundSystem.soundPaths[explosionChannel].get());
        explosionChannel = explosionChannel + 1;
    }
    if (explosionChannel == 10) explosionChannel = 0;
}
