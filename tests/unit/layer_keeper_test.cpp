// The kept layer's matching, without a GPU: the recording device stands in for one that can copy
// pixels, and its call list shows what was drawn, kept and put back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/recording_device.h"

namespace {

constexpr uint32_t targetAndDepth = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;

class LayerKeeperTest : public testing::Test {
protected:
    RecordingDevice device;
    std::unique_ptr<VertexBuffer> text = device.createVertexBuffer(64, D3DUSAGE_DYNAMIC, D3DFVF_XYZRHW, 0);
    std::unique_ptr<VertexBuffer> land = device.createVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_MANAGED);
    std::unique_ptr<IndexBuffer> indices = device.createIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED);
    std::unique_ptr<Texture> ground = device.createTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    uint8_t textByte = 1;
    float world = 0.0f;  // the balls' placement, left behind for the next frame

    // One frame: the text (written again each frame), then the land; the world transform left
    // from the frame before, which the pretransformed text cannot read, changes every frame.
    void frame(const std::function<void()>& insideLayer = {})
    {
        device.calls.clear();
        device.clear(targetAndDepth, 0xFF8080FF, 1.0f, 0);
        device.openLayer();
        Matrix4 m = identity();
        m.m[3][0] = world += 1.0f;
        device.setTransform(D3DTS_WORLD, m);
        uint8_t* bytes = text->lock(0, 0, D3DLOCK_DISCARD);
        std::memset(bytes, textByte, 64);
        text->unlock();
        device.setFVF(D3DFVF_XYZRHW);
        device.setTexture(0, nullptr);
        device.setStreamSource(0, text.get(), 0, 16);
        device.drawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
        device.setFVF(D3DFVF_XYZ);
        device.setTransform(D3DTS_WORLD, identity());
        device.setStreamSource(0, land.get(), 0, 12);
        device.setIndices(indices.get());
        device.setTexture(0, ground.get());
        const IndexRange runs[] = {{0, 1}, {3, 1}};
        device.drawIndexedRanges(D3DPT_TRIANGLELIST, 0, 0, 4, runs, 2);
        if (insideLayer) insideLayer();
        device.closeLayer();
    }
    long count(const std::string& prefix) const { return long(device.callsStartingWith(prefix).size()); }
    int drawn() const { return int(count("DrawPrimitive") + count("DrawIndexedPrimitive")); }
};

}  // namespace

// A device that cannot keep pixels holds nothing back: every call is recorded as it is made.
TEST_F(LayerKeeperTest, ADeviceThatCannotKeepPixelsPassesItsCallsThroughInOrder)
{
    for (int i = 0; i < 3; ++i) frame();
    const std::vector<std::string>& c = device.calls;
    const auto at = [&](const std::string& prefix) {
        return std::find_if(c.begin(), c.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }) - c.begin();
    };
    EXPECT_LT(at("DrawPrimitive"), at("SetFVF 2"));
    EXPECT_LT(at("SetTexture"), at("DrawIndexedPrimitive"));
    EXPECT_EQ(drawn(), 3);
    EXPECT_EQ(count("KeepPixels") + count("RestorePixels"), 0);
}

// Drawn, then kept when it repeats, then put back while nothing it reads changes: a state the
// pretransformed text cannot read (the world transform) and text written again with the same
// bytes do not count as changes.
TEST_F(LayerKeeperTest, ALayerThatRepeatsIsKeptAndPutBackUntilItsBytesChange)
{
    device.keepsPixels = true;
    frame();
    EXPECT_EQ(drawn(), 3);
    EXPECT_EQ(count("KeepPixels"), 0);
    frame();
    EXPECT_EQ(drawn(), 3);
    EXPECT_EQ(device.callsStartingWith("KeepPixels"), std::vector<std::string>{"KeepPixels 1"});
    frame();
    EXPECT_EQ(drawn(), 0);
    EXPECT_EQ(device.callsStartingWith("RestorePixels"), std::vector<std::string>{"RestorePixels 1"});
    EXPECT_TRUE(device.lastLayerRestored());

    textByte = 2;  // the text changed
    frame();
    EXPECT_EQ(drawn(), 3);
    EXPECT_FALSE(device.lastLayerRestored());
    frame();  // repeats the changed one: kept again
    EXPECT_EQ(count("KeepPixels"), 1);
    frame();
    EXPECT_TRUE(device.lastLayerRestored());

    frame([&] { device.drawPrimitive(D3DPT_TRIANGLELIST, 0, 1); });  // one draw more
    EXPECT_EQ(drawn(), 4);
    EXPECT_FALSE(device.lastLayerRestored());
}

// A write to what a held draw reads draws the held draws first, with what they read; that
// frame's layer is no layer. A write to the ground texture outside any layer changes the next.
TEST_F(LayerKeeperTest, WritesWhileHeldDrawFirstAndAnyWriteMakesANewVersion)
{
    device.keepsPixels = true;
    device.recordUnlocks = true;
    frame();
    frame();
    frame([&] {
        text->lock(0, 4, 0);
        EXPECT_EQ(drawn(), 3) << "the held draws were not drawn before the write";
        text->unlock();
    });
    EXPECT_FALSE(device.lastLayerRestored());

    // The text has a new version now: two frames to be kept again, put back in the third.
    frame();
    frame();
    frame();
    ASSERT_TRUE(device.lastLayerRestored());
    ground->lockRect(0);
    ground->unlockRect(0);
    frame();
    EXPECT_FALSE(device.lastLayerRestored());
    EXPECT_EQ(drawn(), 3);

    // A buffer that goes while a held draw reads it is drawn from first.
    frame([&] {
        land.reset();
        EXPECT_EQ(drawn(), 3);
    });
}

// A kept layer that cannot be put back (the target changed size) is drawn and kept anew, so a
// standing camera gets its kept layer back in the next frame.
TEST_F(LayerKeeperTest, AKeptLayerThatCannotBePutBackIsKeptAgain)
{
    device.keepsPixels = true;
    frame();
    frame();
    device.restoreFails = true;
    frame();
    EXPECT_EQ(drawn(), 3);
    EXPECT_EQ(count("KeepPixels"), 1);
    device.restoreFails = false;
    frame();
    EXPECT_TRUE(device.lastLayerRestored());
    EXPECT_EQ(drawn(), 0);
}
