#pragma once
// A tuner source: the driver library, its driver object and the reception thread that moves the
// received stream into the worker's queue (TunerReceiveBuffer), from which read_packet takes it.
//
// Order of use by a worker whose source is a tuner path:
//   split_tuner_path                  fills tuning_space, channel and driver_path
//   start_tuner_reception             after the pump's before-loop point; the queue is then
//                                     `queue` (PacketSource::tuner)
//   tuner_reception_ended             polled while the queue gives nothing: true once the thread
//                                     has ended on its own and the queue is empty (end of input)
//   release_tuner_connection          in the closing, after the output is closed
// The reception thread prints the start message and, when it releases the driver object, the
// end message; nothing else prints them.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/library.h"
#include "platform/thread.h"
#include "platform/tuner_driver.h"
#include "ts/tuner_buffer.h"

namespace qv {

/// Source paths that name a tuner: this prefix, the tuning space, "\", the channel, "\" and the
/// driver library path.
inline constexpr std::string_view kTunerPathPrefix = "\\\\.\\bondriver\\";

/// Appending to the queue stops at this many bytes: the driver's data is discarded instead.
inline constexpr uint32_t kTunerQueueLimit = 940;

/// One tuner source of a worker.
struct TunerConnection {
    bool driver_loaded = false;  ///< the library is loaded and exports "CreateBonDriver"
    bool tuner_open = false;     ///< the driver's open succeeded
    std::string driver_path;
    platform::LibraryHandle library = nullptr;
    IBonDriver* driver = nullptr;    ///< the driver object, or null
    IBonDriver2* driver2 = nullptr;  ///< the same object as IBonDriver2, or null
    platform::CreateBonDriverFunction factory = nullptr;
    uint32_t tuning_space = 0;
    uint32_t channel = 0;
    TunerReceiveBuffer queue;  ///< `queue.running` is the reception thread's run flag
    uint32_t buffer_limit = kTunerQueueLimit;
    platform::Thread reception;
    /// Set by the reception thread as its last step, whatever ended it (no library or factory,
    /// a failed open or tune, no IBonDriver2, a stop request, `running` cleared).
    std::atomic<bool> reception_ended{false};
};

/// Splits "\\.\bondriver\SPACE\CHANNEL\DRIVER" at the first two backslashes after the prefix;
/// space and channel are decimal (0 when there are no digits), the rest is the driver path.
/// False when the path lacks the prefix.
[[nodiscard]] bool split_tuner_path(std::string_view path, uint32_t& tuning_space,
                                    uint32_t& channel, std::string& driver_path);

/// Starts the reception thread (after ending one that runs). 0 on success, 1 when the thread
/// could not be started.
int32_t start_tuner_reception(TunerConnection& connection);

/// Loads the driver, creates and opens its object and tunes it (run on the reception thread).
/// A failed open or tune closes the tuner again. Returns `driver_loaded`.
bool open_tuner(TunerConnection& connection);

/// Closes the tuner and releases the driver object, with the end message; nothing when there is
/// no object.
void close_tuner(TunerConnection& connection);

/// Stops the reception thread and waits for it, closes what is still open, frees the library and
/// resets the connection.
void release_tuner_connection(TunerConnection& connection);

/// True when the reception thread has ended and the queue is empty: the source has ended as a
/// file does.
bool tuner_reception_ended(TunerConnection& connection);

}  // namespace qv
