#include "base/time_convert.h"

namespace qv {

bool unix_to_local_time(int32_t unix_seconds, platform::CalendarTime& local)
{
    return platform::unix_to_local(unix_seconds, local);
}

bool local_time_to_unix(const platform::CalendarTime& local, int64_t& unix_seconds)
{
    return platform::local_to_unix(local, unix_seconds);
}

int64_t current_time(bool local)
{
    int64_t now = platform::current_unix_time();
    if (local) {
        // Local wall-clock time counted as seconds since 1970: UTC minus the bias.
        now -= static_cast<int64_t>(platform::time_zone_bias_minutes()) * 60;
    }
    return now;
}

}  // namespace qv
