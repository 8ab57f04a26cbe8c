#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace korvanel {

// Every FFmpeg function the engine calls, by library. FFmpeg is loaded at run
// time (see FfmpegLoader), so the engine calls it through these tables, whose
// members have the names and types of the headers' declarations: the codec
// libraries in one, libavformat (only some streams need it) in the other.
#define KORVANEL_AVUTIL_FUNCTIONS(X)                                                    \
    X(av_log_set_level) X(av_malloc) X(av_free) X(av_freep) X(av_dict_set) X(av_dict_get) \
    X(av_dict_copy) X(av_dict_free) X(av_channel_layout_copy) X(av_channel_layout_default) \
    X(av_channel_layout_uninit) X(av_frame_alloc) X(av_frame_unref) X(av_frame_free)
#define KORVANEL_SWRESAMPLE_FUNCTIONS(X) \
    X(swr_alloc_set_opts2) X(swr_init) X(swr_get_out_samples) X(swr_convert) X(swr_free)
#define KORVANEL_AVCODEC_FUNCTIONS(X)                                                           \
    X(avcodec_find_decoder) X(avcodec_alloc_context3) X(avcodec_parameters_to_context)        \
    X(avcodec_open2) X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_free_context) \
    X(av_packet_alloc) X(av_packet_unref) X(av_packet_free) X(av_packet_get_side_data)      \
    X(av_packet_unpack_dictionary) X(av_parser_init) X(av_parser_parse2) X(av_parser_close)
#define KORVANEL_AVFORMAT_FUNCTIONS(X)                                                          \
    X(avformat_alloc_context) X(avformat_open_input) X(avformat_find_stream_info)              \
    X(avformat_close_input) X(avio_alloc_context) X(avio_context_free) X(av_find_input_format) \
    X(av_find_best_stream) X(av_read_frame)

#define KORVANEL_FFMPEG_MEMBER(name) decltype(&::name) name = nullptr;
struct FfmpegCodecFunctions {
    KORVANEL_AVUTIL_FUNCTIONS(KORVANEL_FFMPEG_MEMBER)
    KORVANEL_SWRESAMPLE_FUNCTIONS(KORVANEL_FFMPEG_MEMBER)
    KORVANEL_AVCODEC_FUNCTIONS(KORVANEL_FFMPEG_MEMBER)
};
struct FfmpegFormatFunctions {
    KORVANEL_AVFORMAT_FUNCTIONS(KORVANEL_FFMPEG_MEMBER)
};
#undef KORVANEL_FFMPEG_MEMBER

}  // namespace korvanel
