#include "world/game_world.h"

#include <cstring>

#include "state/clock.h"
#include "base/fatal_error.h"
#include "state/graphics.h"
#include "state/input.h"
#include "objects/ball.h"
#include "objects/star_field.h"
#include "terrain/terrain.h"
#include "world/trajectory.h"

GameWorld* theWorld = nullptr;

void createWorld() { theWorld = new GameWorld(); }

void destroyWorld()
{
    if (!theWorld) return;
    delete theWorld;
    theWorld = nullptr;
}

GameWorld::GameWorld()
{
    terrain = std::make_unique<Terrain>();
    // A terrain file that cannot be read ends the program; build nothing more.
    if (fatalErrorPending()) return;
    setUpLight(light0, 0, -50.0f, 0.0f);
    lightVector = -lightDirWork;
    setUpLight(light1, 1, -50.0f, -90.0f);

    followerBall = std::make_unique<Ball>(followerBallFileName);
    projectileBall = std::make_unique<Ball>(projectileBallFileName);
    starField = std::make_unique<StarField>();

    followerPos = nextPoint = segmentVelocity = projectilePos = projectileVel = Vec3(0.0f, 0.0f, 0.0f);
    segmentIndex = 0;
    segmentTimer = 0.0f;

    segmentDuration = timeFactor;
    followerPos = trajectoryPoint(0);
    nextPoint = trajectoryPoint(1);
    segmentVelocity = (nextPoint - followerPos) * (1.0f / segmentDuration);

    pi = 3.1415927f;
    launchSpeed = speedSetting;
    launchAngle = (pi / 180.0f) * angleSetting;
    launchAzimuth = (pi / 180.0f) * 40.0f;
    gravity = 9.0f;
    launchPos = Vec3(-30.0f, -17.0f, 50.0f);
    projectilePos = launchPos;
    projectileVel = launchVelocity(launchSpeed, launchAngle, launchAzimuth);
}

GameWorld::~GameWorld()
{
    terrain.reset();
    followerBall.reset();
    projectileBall.reset();
    starField.reset();
}

void GameWorld::setUpLight(Light& light, uint32_t index, float aDegrees, float bDegrees)
{
    std::memset(&light, 0, sizeof light);
    light.type = D3DLIGHT_DIRECTIONAL;
    light.diffuse = {0.1f, 0.1f, 0.1f, 0.0f};
    light.specular = {0.1f, 0.1f, 0.1f, 0.0f};
    const float a = degToRad(aDegrees);
    const float b = degToRad(bDegrees);
    lightDirWork = Vec3(floatSin(a) * floatCos(b), floatSin(b), floatCos(a) * floatCos(b));
    light.direction = unit(lightDirWork);
    if (graphicsDevice) {
        graphicsDevice->setLight(index, light);
        graphicsDevice->lightEnable(index, true);
    }
}

void GameWorld::frame()
{
    followerStep();
    projectileStep();
    // What stays the same while the camera stands is one layer, which the device can keep from
    // frame to frame instead of drawing it again. Without land, text and stars cost about as
    // much to draw as the kept pixels cost to put back.
    const bool layer = graphicsDevice && terrain;
    if (layer) graphicsDevice->openLayer();
    // Before any scene geometry, so the scene is drawn over the text where they meet.
    drawHud();
    if (starField) starField->draw();
    if (terrain) terrain->renderLand();
    if (layer) graphicsDevice->closeLayer();
    if (terrain) terrain->renderWater();
    // The balls come last and without depth test, so the landscape never hides them.
    if (followerBall) followerBall->draw(followerPos);
    if (projectileBall) projectileBall->draw(projectilePos);
}

void GameWorld::drawPointBatch()
{
    // Nothing fills the point batch, so it issues no draw call.
}

void GameWorld::followerStep()
{
    const float dt = frameClock.dt;
    if (segmentTimer > segmentDuration) {
        ++segmentIndex;
        const int c = segmentIndex;
        followerPos = trajectoryPoint(c);
        nextPoint = trajectoryPoint(c + 1);
        // The old duration sets the pace of this segment, even at the wrap.
        const float r = 1.0f / segmentDuration;
        segmentVelocity = (nextPoint - followerPos) * r;
        if (c == 30) {
            segmentIndex = 0;
            segmentDuration = timeFactor;
            launchSpeed = speedSetting;
            launchAngle = (pi / 180.0f) * angleSetting;
        }
        segmentTimer = 0.0f;
    } else {
        followerPos = followerPos + segmentVelocity * dt;
    }
    segmentTimer = segmentTimer + dt;
}
