// Kept layers on OpenGL: the back buffer's colour and depth copied aside into textures and back
// again, by framebuffer blits that copy texel for texel.

#include "platform/gl/gl_device.h"

// A depth blit needs the same format on both sides, so the kept depth takes the back buffer's.
GLenum GlDevice::defaultDepthFormat(GLenum& type)
{
    GLint object = GL_NONE, bits = 0, component = GL_NONE;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &object);
    if (object == GL_NONE) return 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH, GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &bits);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH, GL_FRAMEBUFFER_ATTACHMENT_COMPONENT_TYPE, &component);
    type = bits == 16 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
    if (component == GL_FLOAT) {
        type = GL_FLOAT;
        return bits == 32 ? GL_DEPTH_COMPONENT32F : 0;
    }
    if (bits == 16) return GL_DEPTH_COMPONENT16;
    if (bits == 24) return GL_DEPTH_COMPONENT24;
    if (bits == 32) return GL_DEPTH_COMPONENT32;
    return 0;
}

bool GlDevice::makeLayerTarget(bool depth)
{
    if (layerFramebuffer_ && layerWidth_ == width_ && layerHeight_ == height_ && (!depth || layerDepth_)) return true;
    if (layerTargetFailed_ || width_ <= 0 || height_ <= 0) return false;
    glDeleteFramebuffers(1, &layerFramebuffer_);
    glDeleteTextures(1, &layerColor_);
    glDeleteTextures(1, &layerDepth_);
    layerFramebuffer_ = layerColor_ = layerDepth_ = 0;
    while (glGetError() != GL_NO_ERROR) {
    }
    const GLenum depthFormat = depthFormat_, depthType = depthType_;
    gl_.texturesKnown = false;  // the textures are bound on the active unit to be made
    glGenTextures(1, &layerColor_);
    glBindTexture(GL_TEXTURE_2D, layerColor_);
    // Given as BGRA, the driver may store it as the back buffer is, and copy without converting.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    if (depthFormat) {
        glGenTextures(1, &layerDepth_);
        glBindTexture(GL_TEXTURE_2D, layerDepth_);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(depthFormat), width_, height_, 0, GL_DEPTH_COMPONENT, depthType,
                     nullptr);
    }
    glGenFramebuffers(1, &layerFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, layerFramebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, layerColor_, 0);
    if (layerDepth_) glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, layerDepth_, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, frameFramebuffer_);
    layerWidth_ = width_;
    layerHeight_ = height_;
    // A driver that cannot make them will not make them next frame either.
    layerTargetFailed_ = !complete || glGetError() != GL_NO_ERROR;
    return !layerTargetFailed_ && (!depth || layerDepth_);
}

bool GlDevice::copyLayer(bool toKept, bool depth)
{
    while (glGetError() != GL_NO_ERROR) {
    }
    // The write masks are set as a clear sets them, then again as the render states say.
    setColorMask(0xF);
    if (depth) setDepthMask(true);
    pipelineDirty_ = true;
    glBindFramebuffer(toKept ? GL_DRAW_FRAMEBUFFER : GL_READ_FRAMEBUFFER, layerFramebuffer_);
    // Mirrored on the way in and again on the way out. The back buffer's rows run the other way
    // to a texture's inside the driver, so a copy that is straight here is a mirrored one there,
    // which llvmpipe can only do by drawing; mirrored here, it copies depth as plain memory
    // (about 1.1 ms less a copy in the window).
    glBlitFramebuffer(0, 0, width_, height_, 0, height_, width_, 0,
                      GL_COLOR_BUFFER_BIT | (depth ? GL_DEPTH_BUFFER_BIT : 0), GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, frameFramebuffer_);
    return glGetError() == GL_NO_ERROR;
}

bool GlDevice::keepLayerPixels(bool depth)
{
    // The layer's pixels include its clears, even where none of its draws reached them.
    clearPendingColor();
    if (depth && depthClearPending_) clearPendingDepth();
    return makeLayerTarget(depth) && copyLayer(true, depth);
}

bool GlDevice::restoreLayerPixels(bool depth)
{
    if (!layerFramebuffer_ || layerWidth_ != width_ || layerHeight_ != height_ || (depth && !layerDepth_)) return false;
    if (!copyLayer(false, depth)) return false;
    // The copy overwrote what the held-back clears would have set; without depth the depth
    // clear still holds.
    colorClearPending_ = false;
    if (depth) depthClearPending_ = false;
    return true;
}
