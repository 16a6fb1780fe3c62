// The tuner source: driver binding and reception thread.
#include "external/tuner_connection.h"

#include <mutex>

#include "base/console_output.h"
#include "external/leading_decimal.h"
#include "platform/file.h"

namespace qv {
namespace {

bool stop_asked()
{
    return stop_requested.load() != 0 || stop_reason.load() > 0;
}

/// Appends the fetched bytes while fewer than `buffer_limit` are queued; false when the queue is
/// too long (the consumer lags) and the bytes were not taken.
bool append_to_queue(TunerConnection& connection, const uint8_t* data, uint32_t size)
{
    return append_to_tuner_buffer(connection.queue, data, size, connection.buffer_limit);
}

/// The reception loop of an open, tuned IBonDriver2. It does not sleep: the driver's fetch paces
/// it. Stale data is discarded rather than queued.
void receive(TunerConnection& connection)
{
    IBonDriver* driver = connection.driver;
    driver->purge_stream();
    while (connection.queue.running.load() && !stop_asked()) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        uint32_t remain = 0;
        if (driver->fetch_stream(&data, &size, &remain) == 0 || data == nullptr || size == 0) {
            continue;
        }
        if (!append_to_queue(connection, data, size)) {
            driver->purge_stream();
        }
    }
    driver->purge_stream();
}

void reception_thread(TunerConnection& connection)
{
    (void)open_tuner(connection);
    // A driver that is no IBonDriver2 is opened but never read.
    if (connection.driver_loaded && connection.tuner_open && connection.driver != nullptr &&
        connection.driver2 != nullptr) {
        receive(connection);
    }
    close_tuner(connection);
    connection.reception_ended.store(true);
    wake_tuner_reader(connection.queue);
}

void print_start_message(const TunerConnection& connection)
{
    if (outside_library_messages_shown()) {
        print_message(520, "－ BonDriverチューナー 開始%s %s\n",
                      connection.driver_loaded ? "成功" : "失敗", connection.driver_path.c_str());
    }
}

}  // namespace

bool split_tuner_path(std::string_view path, uint32_t& tuning_space, uint32_t& channel,
                      std::string& driver_path)
{
    if (!path.starts_with(kTunerPathPrefix)) {
        return false;
    }
    const std::string_view rest = path.substr(kTunerPathPrefix.size());
    const size_t first = rest.find('\\');
    const size_t second = first == std::string_view::npos ? first : rest.find('\\', first + 1);
    tuning_space = static_cast<uint32_t>(parse_leading_decimal(rest.substr(0, first)));
    channel = first == std::string_view::npos
                  ? 0
                  : static_cast<uint32_t>(parse_leading_decimal(rest.substr(first + 1)));
    driver_path =
        second == std::string_view::npos ? std::string() : std::string(rest.substr(second + 1));
    return true;
}

int32_t start_tuner_reception(TunerConnection& connection)
{
    connection.queue.running.store(false);
    connection.reception.join();
    connection.queue.running.store(true);
    connection.reception_ended.store(false);
    if (!connection.reception.start([&connection] { reception_thread(connection); })) {
        connection.queue.running.store(false);
        return 1;
    }
    return 0;
}

bool open_tuner(TunerConnection& connection)
{
    if (connection.driver_path.empty() || !platform::path_exists(connection.driver_path)) {
        print_start_message(connection);
        return connection.driver_loaded;
    }
    close_tuner(connection);
    if (connection.library == nullptr) {
        connection.library = platform::load_library(connection.driver_path);
        connection.factory = reinterpret_cast<platform::CreateBonDriverFunction>(
            platform::find_symbol(connection.library, "CreateBonDriver"));
        connection.driver_loaded = connection.factory != nullptr;
        if (connection.library != nullptr && !connection.driver_loaded) {
            close_tuner(connection);
            platform::free_library(connection.library);
        }
    }
    if (connection.driver_loaded && connection.factory != nullptr && connection.driver == nullptr) {
        connection.driver = connection.factory();
        connection.driver2 = platform::bon_driver2_view(connection.driver);
    }
    // The start message tells whether the driver loaded; it comes before the open and the tune,
    // so that the end message of a tuner they close again follows it.
    print_start_message(connection);
    if (connection.driver != nullptr && !connection.tuner_open) {
        connection.tuner_open = connection.driver->open_tuner() != 0;
    }
    if (connection.driver == nullptr || !connection.tuner_open) {
        close_tuner(connection);
    } else if (connection.driver2 != nullptr) {
        // A channel the driver does not have leaves the tuner without a stream: it is closed, so
        // that reception ends instead of waiting for data that never comes.
        if (connection.driver2->tune(connection.tuning_space, connection.channel) == 0) {
            close_tuner(connection);
        } else {
            connection.driver2->purge_stream();
        }
    }
    return connection.driver_loaded;
}

void close_tuner(TunerConnection& connection)
{
    if (connection.library == nullptr || connection.driver == nullptr) {
        return;
    }
    if (connection.tuner_open) {
        connection.driver->close_tuner();
    }
    connection.driver->release();
    connection.driver = nullptr;
    connection.driver2 = nullptr;
    connection.tuner_open = false;
    if (outside_library_messages_shown()) {
        print_message(520, "－ BonDriverチューナー 終了 %s\n", connection.driver_path.c_str());
    }
}

void release_tuner_connection(TunerConnection& connection)
{
    connection.queue.running.store(false);
    connection.reception.join();  // the thread closes the tuner on its way out
    close_tuner(connection);
    platform::free_library(connection.library);
    connection.driver_loaded = false;
    connection.tuner_open = false;
    connection.driver_path.clear();
    connection.factory = nullptr;
    connection.tuning_space = 0;
    connection.channel = 0;
    connection.buffer_limit = kTunerQueueLimit;
    connection.reception_ended.store(false);
    std::lock_guard<std::mutex> guard(connection.queue.lock);
    connection.queue.bytes.clear();
    connection.queue.bytes.shrink_to_fit();
}

bool tuner_reception_ended(TunerConnection& connection)
{
    // The flag is read first: once it is set, the thread has appended its last bytes.
    if (!connection.reception_ended.load()) {
        return false;
    }
    std::lock_guard<std::mutex> guard(connection.queue.lock);
    return connection.queue.bytes.empty();
}

}  // namespace qv
