// The console on Windows: WriteFile on the standard handles, SetConsoleCtrlHandler for Ctrl+C and
// closing, _getch for the one-key wait, and the thread's window-message pump.
#include "platform/console.h"

#include <windows.h>
#include <conio.h>

#include "platform/win32/console_events.h"

namespace qv::platform {

namespace {

std::atomic<ConsoleEventHandler> g_handler{nullptr};
static_assert(std::atomic<ConsoleEventHandler>::is_always_lock_free);

constexpr DWORD kKeyPollSliceMs = 50;

void write_all(DWORD which, std::string_view text)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    const DWORD saved_error = GetLastError();
    const char* pos = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD done = 0;
        const DWORD chunk = left > 0x10000 ? 0x10000 : static_cast<DWORD>(left);
        if (!WriteFile(handle, pos, chunk, &done, nullptr) || done == 0) {
            break;  // a closed or full console loses the text
        }
        pos += done;
        left -= done;
    }
    SetLastError(saved_error);
}

BOOL WINAPI on_console_event(DWORD type) { return win32::dispatch_console_event(type) ? TRUE : FALSE; }

}  // namespace

namespace win32 {

bool dispatch_console_event(unsigned long type, unsigned long close_grace_ms)
{
    ConsoleEvent event = ConsoleEvent::ctrl_c;
    if (type == CTRL_C_EVENT) {
        event = ConsoleEvent::ctrl_c;
    } else if (type == CTRL_CLOSE_EVENT) {
        event = ConsoleEvent::close;
    } else {
        return false;  // Ctrl+Break, log-off, shut-down: the system's default handling
    }
    const ConsoleEventHandler handler = g_handler.load();
    if (handler == nullptr || !handler(event)) {
        return false;
    }
    if (event == ConsoleEvent::close) {
        // Windows ends the process as soon as the handler returns from a close event, which
        // would cut the workers off before they flush and close their outputs. Holding the
        // handler lets them finish; when main returns, the process exit ends this wait.
        Sleep(close_grace_ms);
    }
    return true;
}

}  // namespace win32

void write_stdout(std::string_view text) { write_all(STD_OUTPUT_HANDLE, text); }

void write_stderr(std::string_view text) { write_all(STD_ERROR_HANDLE, text); }

void install_console_handler(ConsoleEventHandler handler)
{
    g_handler.store(handler);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void allocate_console()
{
    // Fails harmlessly when the process already has a console.
    AllocConsole();
}

void wait_for_key(const std::atomic<int>& stop)
{
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
        return;  // redirected input: nobody is there to press a key
    }
    while (stop.load() == 0) {
        if (_kbhit()) {
            _getch();
            return;
        }
        Sleep(kKeyPollSliceMs);
    }
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

unsigned long process_id() { return GetCurrentProcessId(); }

}  // namespace qv::platform
