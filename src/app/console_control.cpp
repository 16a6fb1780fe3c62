#include "app/console_control.h"

#include "base/console_output.h"

namespace qv {

bool console_ctrl_handler(platform::ConsoleEvent event)
{
    const char* notice = nullptr;
    switch (event) {
        case platform::ConsoleEvent::ctrl_c:
            stop_reason = 1;
            notice = "－ CTRL+Cが押されました\n";
            break;
        case platform::ConsoleEvent::close:
            stop_reason = 2;
            notice = "－ 閉じられます\n";
            break;
        default:
            return false;
    }
    stop_requested = 1;
    if (progress_visible()) {
        write_console(notice);
        line_closed = true;
        console_notices.fetch_add(1);
    }
    return true;
}

}  // namespace qv
