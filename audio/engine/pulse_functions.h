#pragma once

#include <pulse/pulseaudio.h>

namespace korvanel {

// The libpulse functions the sound-server output calls; libpulse is loaded
// when the engine first looks for a sound output, so the program runs where
// it is missing. Members have the names and types of libpulse's declarations.
#define KORVANEL_PULSE_FUNCTIONS(X)                                                                 \
    X(pa_threaded_mainloop_new) X(pa_threaded_mainloop_free) X(pa_threaded_mainloop_start)        \
    X(pa_threaded_mainloop_stop) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_unlock)      \
    X(pa_threaded_mainloop_wait) X(pa_threaded_mainloop_signal) X(pa_threaded_mainloop_get_api)   \
    X(pa_threaded_mainloop_in_thread)                                                              \
    X(pa_context_new_with_proplist) X(pa_context_unref) X(pa_context_connect)                      \
    X(pa_context_disconnect) X(pa_context_get_state) X(pa_context_set_state_callback)             \
    X(pa_context_errno) X(pa_context_get_server_info) X(pa_context_get_sink_info_list)            \
    X(pa_context_set_subscribe_callback) X(pa_context_subscribe)                                  \
    X(pa_context_set_sink_input_volume) X(pa_context_rttime_new)                                  \
    X(pa_proplist_new) X(pa_proplist_free) X(pa_proplist_sets)                                     \
    X(pa_stream_new_with_proplist) X(pa_stream_unref) X(pa_stream_connect_playback)               \
    X(pa_stream_disconnect) X(pa_stream_get_state) X(pa_stream_set_state_callback)                \
    X(pa_stream_set_write_callback) X(pa_stream_begin_write) X(pa_stream_write)                   \
    X(pa_stream_cancel_write) X(pa_stream_writable_size) X(pa_stream_cork) X(pa_stream_flush)     \
    X(pa_stream_get_latency) X(pa_stream_get_index) X(pa_stream_proplist_update)                  \
    X(pa_operation_unref) X(pa_operation_get_state) X(pa_cvolume_set) X(pa_strerror)               \
    X(pa_channel_map_init_auto) X(pa_rtclock_now)

struct PulseFunctions {
#define KORVANEL_PULSE_MEMBER(name) decltype(&::name) name = nullptr;
    KORVANEL_PULSE_FUNCTIONS(KORVANEL_PULSE_MEMBER)
#undef KORVANEL_PULSE_MEMBER
};

}  // namespace korvanel
