#pragma once
// Recognising a transport stream by two sync bytes one packet apart in its first 384 bytes.
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace qv {

/// 188 or 192 when the 384 bytes at `offset` (from `origin`) hold a sync byte followed by another
/// 188 or 192 bytes on; the file is then positioned just after that first packet. 0 otherwise
/// (also for files of at most 384 bytes).
uint8_t probe_ts_handle(platform::NativeHandle handle, int64_t offset, platform::SeekOrigin origin);

/// True when `path` names a readable transport stream file.
bool probe_ts_file(const std::string& path);

}  // namespace qv
