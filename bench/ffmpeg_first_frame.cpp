// The least a player can do before its first sound, as a yardstick for the
// comparison script: load FFmpeg (linked, as a plain player would), open the
// address with a small probe, decode until a frame carries sound and write
// that frame to standard output as signed 16-bit samples.
//   ffmpeg_first_frame URL
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The frame as interleaved 16-bit samples; empty when it is silent or in a
// sample format this yardstick does not convert.
std::vector<std::int16_t> loudSamples(const AVFrame& frame) {
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = frame.format == AV_SAMPLE_FMT_FLTP;
    if (channels <= 0 || (!planar && frame.format != AV_SAMPLE_FMT_FLT)) {
        return {};
    }
    std::vector<std::int16_t> out(static_cast<std::size_t>(frame.nb_samples) * static_cast<std::size_t>(channels));
    bool loud = false;
    for (int i = 0; i < frame.nb_samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const float* data = reinterpret_cast<const float*>(frame.extended_data[planar ? c : 0]);
            const float value = planar ? data[i] : data[i * channels + c];
            const auto sample = static_cast<std::int16_t>(std::clamp(value, -1.0f, 1.0f) * 32767.0f);
            loud = loud || std::abs(sample) > 64;
            out[static_cast<std::size_t>(i * channels + c)] = sample;
        }
    }
    return loud ? out : std::vector<std::int16_t>();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ffmpeg_first_frame URL\n");
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* format = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "32768", 0);
    const int opened = avformat_open_input(&format, argv[1], nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        return 1;
    }
    int result = 1;
    int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    // Without probing the stream's rate is not known yet, which
    // av_find_best_stream insists on: the first audio stream will do.
    for (unsigned i = 0; index < 0 && i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            index = static_cast<int>(i);
        }
    }
    const AVCodec* decoder =
        index >= 0 ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext* codec = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (codec != nullptr && avcodec_parameters_to_context(codec, format->streams[index]->codecpar) >= 0 &&
        avcodec_open2(codec, decoder, nullptr) >= 0) {
        while (result != 0 && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0) {
                while (result != 0 && avcodec_receive_frame(codec, frame) >= 0) {
                    const std::vector<std::int16_t> samples = loudSamples(*frame);
                    if (!samples.empty()) {
                        std::fwrite(samples.data(), sizeof samples[0], samples.size(), stdout);
                        std::fflush(stdout);
                        result = 0;
                    }
                }
            }
            av_packet_unref(packet);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return result;
}
