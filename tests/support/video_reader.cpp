#include "support/video_reader.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

struct Decoder {
    AVCodecContext* context = nullptr;
    int stream = -1;
    ~Decoder() { avcodec_free_context(&context); }
    bool open(AVFormatContext* format, AVMediaType type)
    {
        stream = av_find_best_stream(format, type, -1, -1, nullptr, 0);
        if (stream < 0) return false;
        const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
        context = avcodec_alloc_context3(codec);
        return codec && context && avcodec_parameters_to_context(context, format->streams[stream]->codecpar) >= 0 &&
               avcodec_open2(context, codec, nullptr) >= 0;
    }
};

int64_t toMs(int64_t t, AVRational base) { return av_rescale_q(t, base, AVRational{1, 1000}); }

}  // namespace

bool readVideo(const std::string& path, const std::vector<int64_t>& wantMs, DecodedVideo& out, std::string& error)
{
    out = DecodedVideo{};
    out.picturesAt.resize(wantMs.size());
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        error = "cannot open " + path;
        return false;
    }
    avformat_find_stream_info(format, nullptr);
    Decoder video, audio;
    if (!video.open(format, AVMEDIA_TYPE_VIDEO)) {
        error = "no video stream in " + path;
        avformat_close_input(&format);
        return false;
    }
    const bool hasAudio = audio.open(format, AVMEDIA_TYPE_AUDIO);
    // The encoder's lead-in is trimmed here rather than by the decoder, so that the first kept
    // sample's time is known.
    if (hasAudio) audio.context->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    out.videoCodec = avcodec_get_name(video.context->codec_id);
    if (hasAudio) out.audioCodec = avcodec_get_name(audio.context->codec_id);
    out.width = video.context->width;
    out.height = video.context->height;
    const AVRational videoBase = format->streams[video.stream]->time_base;
    const AVRational audioBase = hasAudio ? format->streams[audio.stream]->time_base : AVRational{1, 1};

    SwsContext* toRgba = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool firstSound = true;
    int64_t origin0 = 0;
    auto takeVideo = [&] {
        while (avcodec_receive_frame(video.context, frame) >= 0) {
            const int64_t ms = toMs(frame->best_effort_timestamp, videoBase);
            if (out.pictureMs.empty()) origin0 = ms;
            out.pictureMs.push_back(ms);
            for (size_t i = 0; i < wantMs.size(); ++i) {
                if (ms - origin0 > wantMs[i]) continue;
                RgbaImage& image = out.picturesAt[i];
                image.width = frame->width;
                image.height = frame->height;
                image.pixels.resize(size_t(frame->width) * size_t(frame->height) * 4);
                toRgba = sws_getCachedContext(toRgba, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                              frame->height, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr,
                                              nullptr);
                uint8_t* planes[1] = {image.pixels.data()};
                const int strides[1] = {frame->width * 4};
                sws_scale(toRgba, frame->data, frame->linesize, 0, frame->height, planes, strides);
            }
            av_frame_unref(frame);
        }
    };
    auto takeAudio = [&] {
        while (avcodec_receive_frame(audio.context, frame) >= 0) {
            int skip = 0;
            if (const AVFrameSideData* side = av_frame_get_side_data(frame, AV_FRAME_DATA_SKIP_SAMPLES))
                skip = std::min(int(AV_RL32(side->data)), frame->nb_samples);
            if (skip == frame->nb_samples) {
                av_frame_unref(frame);
                continue;
            }
            if (firstSound) {
                firstSound = false;
                out.soundStartMs = double(av_rescale_q(frame->pts, audioBase, AVRational{1, 1000000})) / 1000.0 +
                                   1000.0 * skip / frame->sample_rate;
                AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
                swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, 44100, &frame->ch_layout,
                                    AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
                swr_init(resampler);
            }
            const int kept = frame->nb_samples - skip;
            const AVSampleFormat sampleFormat = AVSampleFormat(frame->format);
            const int channels = frame->ch_layout.nb_channels;
            const bool planar = av_sample_fmt_is_planar(sampleFormat);
            const int step = av_get_bytes_per_sample(sampleFormat) * skip * (planar ? 1 : channels);
            std::vector<const uint8_t*> planes;
            for (int c = 0; c < (planar ? channels : 1); ++c) planes.push_back(frame->extended_data[c] + step);
            const int room = swr_get_out_samples(resampler, kept);
            std::vector<int16_t> block(size_t(room) * 2 + 2);
            uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(block.data())};
            const int got = swr_convert(resampler, dst, room, planes.data(), kept);
            if (got > 0) out.sound.insert(out.sound.end(), block.begin(), block.begin() + got * 2);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video.stream) {
            if (avcodec_send_packet(video.context, packet) >= 0) takeVideo();
        }
        if (hasAudio && packet->stream_index == audio.stream && avcodec_send_packet(audio.context, packet) >= 0) takeAudio();
        av_packet_unref(packet);
    }
    avcodec_send_packet(video.context, nullptr);
    takeVideo();
    if (hasAudio) {
        avcodec_send_packet(audio.context, nullptr);
        takeAudio();
    }
    // Containers keep the last picture's duration in the stream's or the file's length.
    const AVStream* vs = format->streams[video.stream];
    if (vs->duration != AV_NOPTS_VALUE)
        out.videoEndMs = std::max(out.videoEndMs, toMs((vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0) + vs->duration, videoBase));
    else if (format->duration != AV_NOPTS_VALUE)
        out.videoEndMs = std::max(out.videoEndMs, toMs(format->duration + (format->start_time != AV_NOPTS_VALUE ? format->start_time : 0), AVRational{1, AV_TIME_BASE}));
    sws_freeContext(toRgba);
    swr_free(&resampler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    // Times from the first picture on: a container may start its clock a little earlier to hold
    // the sound encoder's lead-in.
    const int64_t origin = out.pictureMs.empty() ? 0 : out.pictureMs.front();
    for (int64_t& t : out.pictureMs) t -= origin;
    out.videoEndMs -= origin;
    out.soundStartMs -= double(origin);
    return true;
}

double psnr(const RgbaImage& a, const RgbaImage& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
    double sum = 0.0;
    size_t n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
        ++n;
    }
    const double mse = sum / double(n);
    return mse <= 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double soundCorrelation(const std::vector<int16_t>& sound, const std::vector<int16_t>& reference, int64_t lag)
{
    double sr = 0, ss = 0, rr = 0;
    for (size_t i = 0; i < sound.size(); ++i) {
        const int64_t j = int64_t(i) + lag * 2;
        if (j < 0 || j >= int64_t(reference.size())) continue;
        sr += double(sound[i]) * reference[size_t(j)];
        ss += double(sound[i]) * sound[i];
        rr += double(reference[size_t(j)]) * reference[size_t(j)];
    }
    return ss > 0 && rr > 0 ? sr / std::sqrt(ss * rr) : 0.0;
}
