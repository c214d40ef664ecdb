#include "platform/video/video_encoder.h"

#include "base/stop_signals.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

bool endsWith(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

struct VideoEncoder::State {
    std::string path;
    VideoEncoderSettings settings;
    bool webm = false;
    AVFormatContext* format = nullptr;
    bool headerWritten = false;
    bool finished = false;
    AVPacket* packet = nullptr;

    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* picture = nullptr;
    int sourceWidth = 0, sourceHeight = 0;
    // Containers take a stream's length from its packet durations in decoding order: each video
    // packet waits for the next one's decoding time, the last one lasts until the video's end.
    AVPacket* heldPacket = nullptr;
    bool packetHeld = false;
    int64_t videoEnd = 0;
    uint64_t written = 0;

    // The picture waiting for its end: the next one's time, or the end of the video.
    std::vector<uint8_t> held;
    bool holding = false;
    int64_t heldTime = 0;
    int64_t nextSlot = 0;  // constant frame rate: the next output frame's number

    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* sound = nullptr;
    int64_t soundPts = 0;
    std::vector<int16_t> early;  // sound that came before the streams were set up

    ~State()
    {
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        sws_freeContext(scaler);
        swr_free(&resampler);
        if (fifo) av_audio_fifo_free(fifo);
        av_frame_free(&picture);
        av_frame_free(&sound);
        av_packet_free(&packet);
        av_packet_free(&heldPacket);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    bool fail(std::string& why, const std::string& what, int code)
    {
        why = "cannot write video " + path + ": " + what + (code ? ": " + avError(code) : std::string());
        return false;
    }

    bool write(AVPacket* p, AVCodecContext* encoder, AVStream* stream, std::string& why)
    {
        av_packet_rescale_ts(p, encoder->time_base, stream->time_base);
        p->stream_index = stream->index;
        const int w = av_interleaved_write_frame(format, p);
        av_packet_unref(p);
        return w >= 0 || fail(why, "the file refused a packet", w);
    }

    bool drain(AVCodecContext* encoder, AVStream* stream, std::string& why)
    {
        for (;;) {
            const int r = avcodec_receive_packet(encoder, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return fail(why, "the encoder failed", r);
            if (encoder != video) {
                // WebM readers take Opus's lead-in (its codec delay) off each block's time
                // themselves; the encoder's times have it taken off already.
                if (webm && packet->pts != AV_NOPTS_VALUE) packet->pts += encoder->initial_padding;
                if (webm && packet->dts != AV_NOPTS_VALUE) packet->dts += encoder->initial_padding;
                if (!write(packet, encoder, stream, why)) return false;
                continue;
            }
            if (packetHeld) {
                heldPacket->duration = std::max<int64_t>(packet->dts - heldPacket->dts, 0);
                if (!write(heldPacket, encoder, stream, why)) return false;
            }
            av_packet_move_ref(heldPacket, packet);
            packetHeld = true;
        }
    }

    bool writeLastVideoPacket(std::string& why)
    {
        if (!packetHeld) return true;
        packetHeld = false;
        heldPacket->duration = std::max<int64_t>(videoEnd - heldPacket->dts, 1);
        return write(heldPacket, video, videoStream, why);
    }

    bool openVideo(int width, int height, std::string& why)
    {
        const AVCodec* codec = webm ? avcodec_find_encoder_by_name("libvpx-vp9") : avcodec_find_encoder_by_name("libx264");
        if (!codec) codec = avcodec_find_encoder(webm ? AV_CODEC_ID_VP9 : AV_CODEC_ID_H264);
        if (!codec) return fail(why, webm ? "no VP9 encoder is available" : "no H.264 encoder is available", 0);
        video = avcodec_alloc_context3(codec);
        if (!video) return fail(why, "out of memory", 0);
        // 4:2:0 needs even sides: an odd last column or row is left out.
        video->width = width & ~1;
        video->height = height & ~1;
        video->pix_fmt = AV_PIX_FMT_YUV420P;
        video->colorspace = AVCOL_SPC_BT470BG;
        video->color_range = AVCOL_RANGE_MPEG;
        if (settings.fps > 0) {
            video->time_base = AVRational{1, settings.fps};
            video->framerate = AVRational{settings.fps, 1};
        } else {
            video->time_base = AVRational{1, 1000};
        }
        if (format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int quality = settings.quality >= 0 ? settings.quality : (webm ? 32 : 20);
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "crf", quality, 0);
        if (webm) {
            video->bit_rate = 0;
            av_dict_set(&options, "deadline", "good", 0);
            av_dict_set(&options, "cpu-used", "4", 0);
            av_dict_set(&options, "row-mt", "1", 0);
        } else {
            av_dict_set(&options, "preset", "fast", 0);
            // Without reordered pictures every packet's decoding time is its showing time, so the
            // last picture's duration (and with it the video's length) reaches each container as is.
            video->max_b_frames = 0;
        }
        const int r = avcodec_open2(video, codec, &options);
        av_dict_free(&options);
        if (r < 0) return fail(why, "the video encoder cannot be opened", r);
        videoStream = avformat_new_stream(format, nullptr);
        if (!videoStream) return fail(why, "out of memory", 0);
        videoStream->time_base = video->time_base;
        if (avcodec_parameters_from_context(videoStream->codecpar, video) < 0) return fail(why, "out of memory", 0);
        scaler = sws_getContext(video->width, video->height, AV_PIX_FMT_RGBA, video->width, video->height,
                                AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        picture = av_frame_alloc();
        if (!scaler || !picture) return fail(why, "out of memory", 0);
        picture->format = video->pix_fmt;
        picture->width = video->width;
        picture->height = video->height;
        if (av_frame_get_buffer(picture, 0) < 0) return fail(why, "out of memory", 0);
        sourceWidth = width;
        sourceHeight = height;
        return true;
    }

    bool openAudio(std::string& why)
    {
        const AVCodec* codec = webm ? avcodec_find_encoder_by_name("libopus") : avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) return fail(why, webm ? "no Opus encoder is available" : "no AAC encoder is available", 0);
        audio = avcodec_alloc_context3(codec);
        if (!audio) return fail(why, "out of memory", 0);
        audio->sample_rate = webm ? 48000 : settings.audioRate;  // Opus runs at 48 kHz only
        audio->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        audio->bit_rate = webm ? 128000 : 192000;
        audio->time_base = AVRational{1, audio->sample_rate};
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&audio->ch_layout, &stereo);
        if (format->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(audio, codec, nullptr);
        if (r < 0) return fail(why, "the sound encoder cannot be opened", r);
        audioStream = avformat_new_stream(format, nullptr);
        if (!audioStream) return fail(why, "out of memory", 0);
        audioStream->time_base = audio->time_base;
        if (avcodec_parameters_from_context(audioStream->codecpar, audio) < 0) return fail(why, "out of memory", 0);
        r = swr_alloc_set_opts2(&resampler, &audio->ch_layout, audio->sample_fmt, audio->sample_rate, &stereo,
                                AV_SAMPLE_FMT_S16, settings.audioRate, 0, nullptr);
        if (r < 0 || swr_init(resampler) < 0) return fail(why, "the sound cannot be converted", r);
        fifo = av_audio_fifo_alloc(audio->sample_fmt, 2, 8192);
        sound = av_frame_alloc();
        if (!fifo || !sound) return fail(why, "out of memory", 0);
        return true;
    }

    bool open(int width, int height, std::string& why)
    {
        if (width < 2 || height < 2) return fail(why, "the picture is smaller than 2 x 2", 0);
        if (!openVideo(width, height, why)) return false;
        if (settings.audioRate > 0 && !openAudio(why)) return false;
        const int r = avformat_write_header(format, nullptr);
        if (r < 0) return fail(why, "the header cannot be written", r);
        headerWritten = true;
        if (!early.empty()) {
            std::vector<int16_t> pending;
            pending.swap(early);
            return sendSound(pending.data(), pending.size() / 2, why);
        }
        return true;
    }

    bool encodePicture(const uint8_t* rgba, int64_t pts, int64_t duration, std::string& why)
    {
        if (av_frame_make_writable(picture) < 0) return fail(why, "out of memory", 0);
        const uint8_t* planes[1] = {rgba};
        const int strides[1] = {sourceWidth * 4};
        sws_scale(scaler, planes, strides, 0, video->height, picture->data, picture->linesize);
        picture->pts = pts;
        videoEnd = std::max(videoEnd, pts + std::max<int64_t>(duration, 1));
        const int r = avcodec_send_frame(video, picture);
        if (r < 0) return fail(why, "the encoder refused a picture", r);
        ++written;
        return drain(video, videoStream, why);
    }

    // Constant rate: every output frame whose time falls before endMs shows the held picture,
    // up to maxRepeatedFrames of them; the last of those lasts until endMs.
    bool emitHeld(int64_t endMs, std::string& why)
    {
        if (!holding) return true;
        if (settings.fps <= 0) {
            return encodePicture(held.data(), heldTime, endMs - heldTime, why);
        }
        const int64_t endSlot = (endMs * settings.fps + 999) / 1000;  // the first at or after endMs
        for (int repeats = 1; nextSlot < endSlot; ++repeats) {
            // A long gap is a long encode: a stop request is heard between the frames.
            if (stopSignal()) {
                why = stopMessage();
                return false;
            }
            const int64_t duration = repeats == VideoEncoder::maxRepeatedFrames ? endSlot - nextSlot : 1;
            if (!encodePicture(held.data(), nextSlot, duration, why)) return false;
            nextSlot += duration;
        }
        return true;
    }

    bool encodeSoundFrames(bool last, std::string& why)
    {
        const int size = audio->frame_size > 0 ? audio->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= size || (last && av_audio_fifo_size(fifo) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(fifo));
            av_frame_unref(sound);
            sound->nb_samples = n;
            sound->format = audio->sample_fmt;
            sound->sample_rate = audio->sample_rate;
            av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
            if (av_frame_get_buffer(sound, 0) < 0) return fail(why, "out of memory", 0);
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), n) != n)
                return fail(why, "the sound buffer failed", 0);
            sound->pts = soundPts;
            soundPts += n;
            const int r = avcodec_send_frame(audio, sound);
            if (r < 0) return fail(why, "the encoder refused sound", r);
            if (!drain(audio, audioStream, why)) return false;
        }
        return true;
    }

    bool sendSound(const int16_t* samples, size_t frames, std::string& why)
    {
        while (frames > 0) {
            const int n = static_cast<int>(std::min<size_t>(frames, 16384));
            const int room = swr_get_out_samples(resampler, n);
            if (room < 0) return fail(why, "the sound cannot be converted", room);
            uint8_t** converted = nullptr;
            int lineSize = 0;
            if (av_samples_alloc_array_and_samples(&converted, &lineSize, 2, room + 1, audio->sample_fmt, 0) < 0)
                return fail(why, "out of memory", 0);
            const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
            const int got = swr_convert(resampler, converted, room + 1, in, n);
            const bool ok = got >= 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), got) == got;
            av_freep(&converted[0]);
            av_freep(&converted);
            if (!ok) return fail(why, "the sound cannot be converted", got < 0 ? got : 0);
            if (!encodeSoundFrames(false, why)) return false;
            samples += size_t(n) * 2;
            frames -= size_t(n);
        }
        return true;
    }

    bool flushSound(std::string& why)
    {
        const int room = swr_get_out_samples(resampler, 0);
        if (room > 0) {
            uint8_t** converted = nullptr;
            int lineSize = 0;
            if (av_samples_alloc_array_and_samples(&converted, &lineSize, 2, room, audio->sample_fmt, 0) < 0)
                return fail(why, "out of memory", 0);
            const int got = swr_convert(resampler, converted, room, nullptr, 0);
            if (got > 0) av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), got);
            av_freep(&converted[0]);
            av_freep(&converted);
        }
        if (!encodeSoundFrames(true, why)) return false;
        const int r = avcodec_send_frame(audio, nullptr);
        if (r < 0 && r != AVERROR_EOF) return fail(why, "the sound encoder cannot be drained", r);
        return drain(audio, audioStream, why);
    }
};

VideoEncoder::VideoEncoder() : s_(std::make_unique<State>()) {}
VideoEncoder::~VideoEncoder() = default;

const char* VideoEncoder::containerFor(const std::string& path)
{
    if (endsWith(path, ".mp4")) return "mp4";
    if (endsWith(path, ".mkv")) return "matroska";
    if (endsWith(path, ".webm")) return "webm";
    return nullptr;
}

int VideoEncoder::maxQuality(const std::string& path) { return endsWith(path, ".webm") ? 63 : 51; }

const std::string& VideoEncoder::path() const { return s_->path; }
uint64_t VideoEncoder::picturesWritten() const { return s_->written; }

bool VideoEncoder::create(const std::string& path, const VideoEncoderSettings& settings, std::string& why)
{
    s_ = std::make_unique<State>();
    s_->path = path;
    s_->settings = settings;
    const char* container = containerFor(path);
    if (!container) {
        why = "cannot create video " + path + ": the name must end in .mp4, .mkv or .webm";
        return false;
    }
    s_->webm = std::strcmp(container, "webm") == 0;
    av_log_set_level(AV_LOG_ERROR);
    if (avformat_alloc_output_context2(&s_->format, nullptr, container, nullptr) < 0 || !s_->format) {
        why = "cannot create video " + path + ": the " + container + " format is not available";
        return false;
    }
    s_->packet = av_packet_alloc();
    s_->heldPacket = av_packet_alloc();
    if (!s_->packet || !s_->heldPacket) {
        why = "cannot create video " + path + ": out of memory";
        return false;
    }
    // "file:" keeps a name with a colon from being taken for a protocol.
    const int r = avio_open(&s_->format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        why = "cannot create video " + path + ": " + avError(r);
        return false;
    }
    return true;
}

bool VideoEncoder::addPicture(const uint8_t* rgba, int width, int height, int64_t timeMs, std::string& why)
{
    State& s = *s_;
    if (!s.format || s.finished) return true;
    if (!s.headerWritten && !s.open(width, height, why)) return false;
    if (width != s.sourceWidth || height != s.sourceHeight)
        return s.fail(why, "the picture size changed during the run", 0);
    if (s.holding && timeMs > s.heldTime && !s.emitHeld(timeMs, why)) return false;
    if (s.holding && timeMs < s.heldTime) timeMs = s.heldTime;
    s.held.assign(rgba, rgba + size_t(width) * size_t(height) * 4);
    s.holding = true;
    s.heldTime = timeMs;
    return true;
}

bool VideoEncoder::addSound(const int16_t* samples, size_t frames, std::string& why)
{
    State& s = *s_;
    if (!s.format || s.finished || s.settings.audioRate <= 0) return true;
    if (!s.headerWritten) {
        s.early.insert(s.early.end(), samples, samples + frames * 2);
        return true;
    }
    return s.sendSound(samples, frames, why);
}

bool VideoEncoder::finish(int64_t endMs, std::string& why)
{
    State& s = *s_;
    if (!s.format || s.finished) return true;
    s.finished = true;
    if (!s.headerWritten) return s.fail(why, "the run ended before its first picture", 0);
    if (s.settings.fps > 0 && s.nextSlot == 0 && endMs * s.settings.fps <= 0) endMs = 1;
    if (!s.emitHeld(std::max(endMs, s.heldTime + 1), why)) return false;
    // A constant-rate video shorter than one frame still gets its picture.
    if (s.settings.fps > 0 && s.nextSlot == 0 && !s.encodePicture(s.held.data(), 0, 1, why)) return false;
    int r = avcodec_send_frame(s.video, nullptr);
    if (r < 0) return s.fail(why, "the video encoder cannot be drained", r);
    if (!s.drain(s.video, s.videoStream, why) || !s.writeLastVideoPacket(why)) return false;
    if (s.audio && !s.flushSound(why)) return false;
    r = av_write_trailer(s.format);
    if (r < 0) return s.fail(why, "the end of the file cannot be written", r);
    avio_flush(s.format->pb);
    if (s.format->pb->error < 0) return s.fail(why, "the file refused data", s.format->pb->error);
    r = avio_closep(&s.format->pb);
    if (r < 0) return s.fail(why, "the file cannot be closed", r);
    return true;
}
