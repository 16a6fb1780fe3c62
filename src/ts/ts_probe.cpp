// Recognising a transport stream file.
#include "ts/ts_probe.h"

#include <array>

#include "ts/ts_packet.h"

namespace qv {
namespace {

constexpr size_t kProbeLength = 2 * kPacketSize + 8;  // 384

}  // namespace

uint8_t probe_ts_handle(platform::NativeHandle handle, int64_t offset, platform::SeekOrigin origin)
{
    int64_t size = 0;
    if (!platform::file_size(handle, size) || size <= int64_t{kProbeLength}) {
        return 0;
    }
    int64_t position = 0;
    if (!platform::seek_file(handle, offset, origin, position) || position < 0 ||
        position >= size || size - position <= int64_t{kProbeLength}) {
        return 0;
    }
    std::array<uint8_t, kProbeLength> bytes = {};
    size_t got = 0;
    if (platform::read_file(handle, bytes.data(), bytes.size(), got) != platform::IoStatus::ok) {
        return 0;
    }
    for (size_t i = 0; i < got; ++i) {
        // Both patterns need a sync byte at i: a lone 0x47 at 192 (a text file, a log) is no
        // transport stream.
        if (bytes[i] != kSyncByte) {
            continue;
        }
        uint8_t result = 0;
        if (i + kPacketSize < got && bytes[i + kPacketSize] == kSyncByte) {
            result = kPacketSize;
        } else if (i + kTimestampedPacketSize < got && bytes[i + kTimestampedPacketSize] == kSyncByte) {
            result = kTimestampedPacketSize;
        }
        if (result != 0) {
            int64_t after = 0;
            if (!platform::seek_file(handle, position + static_cast<int64_t>(i) + result,
                                     platform::SeekOrigin::begin, after)) {
                return 0;
            }
            return result;
        }
    }
    return 0;
}

bool probe_ts_file(const std::string& path)
{
    if (!platform::path_exists(path)) {
        return false;
    }
    platform::NativeHandle handle = platform::open_for_reading(path);
    if (handle == platform::kClosedHandle) {
        return false;
    }
    const uint8_t result = probe_ts_handle(handle, 0, platform::SeekOrigin::begin);
    platform::close_handle(handle);
    return result != 0;
}

}  // namespace qv
