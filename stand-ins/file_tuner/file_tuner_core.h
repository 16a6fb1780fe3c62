#pragma once
// The file tuner's working part behind a C interface, so that the driver object in front of it
// can be compiled for another C++ ABI than the core (the Microsoft one on Windows) and still
// call it. One core per driver object.
//
// A core reads the channel list "<library name>.channels" beside its library when the tuner is
// opened; tuning plays the channel's file on a reading thread, and the fetch operations hand out
// its packets as their play time comes (see channels_file.h and pcr_pacer.h).
#include <stdint.h>

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct FileTunerCore FileTunerCore;

FileTunerCore* file_tuner_core_create(void);
/// Ends playing (joins the reading thread) and frees the core.
void file_tuner_core_destroy(FileTunerCore* core);

/// Reads the channel list; 0 when it cannot be read or lists no channel.
int32_t file_tuner_core_open(FileTunerCore* core);
/// Stops playing and forgets the channel list.
void file_tuner_core_close(FileTunerCore* core);
int32_t file_tuner_core_is_open(FileTunerCore* core);

/// Plays the file of `channel` in `space`; 0 (and nothing plays) for a channel not listed or a
/// file that cannot be opened.
int32_t file_tuner_core_tune(FileTunerCore* core, uint32_t space, uint32_t channel);
uint32_t file_tuner_core_current_space(FileTunerCore* core);
uint32_t file_tuner_core_current_channel(FileTunerCore* core);

/// Hands out the packets whose play time has come, in a buffer of the core that stays valid until
/// the next call. Waits up to about 10 ms for such packets rather than returning none; between
/// two hand-outs about 10 ms pass, so a reader has time to take each one. 0 when none came.
int32_t file_tuner_core_fetch(FileTunerCore* core, uint8_t** data, uint32_t* size,
                              uint32_t* remain);
/// The same, copied into `destination` (at most *size bytes, whole packets).
int32_t file_tuner_core_copy(FileTunerCore* core, uint8_t* destination, uint32_t* size,
                             uint32_t* remain);
/// Drops the packets whose play time has come.
void file_tuner_core_purge(FileTunerCore* core);
/// Packets whose play time has come.
uint32_t file_tuner_core_ready_count(FileTunerCore* core);
/// Waits until a packet's play time has come; 1 then, 0 after the time-out.
uint32_t file_tuner_core_wait(FileTunerCore* core, uint32_t timeout_ms);
/// The stream's bit rate in Mbit/s (0 before it is known).
float file_tuner_core_signal_level(FileTunerCore* core);

/// Names of the tuning spaces and channels by index (UTF-16, owned by the core); null past the
/// last one.
const char16_t* file_tuner_core_space_name(FileTunerCore* core, uint32_t space_index);
const char16_t* file_tuner_core_channel_name(FileTunerCore* core, uint32_t space_index,
                                             uint32_t channel_index);
const char16_t* file_tuner_core_tuner_name(void);

#if defined(__cplusplus)
}
#endif
