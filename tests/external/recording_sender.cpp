// A double of the TCP sender library for the binding's tests: it records every call it gets as
// a line of text ("AddSendAddrDLL 7 host 1234"), and hands the record out through
// "RecordedCalls". Built a second time without "ClearSendBuffDLL", as a library that lacks one
// of the eight names.
#include <cstdint>
#include <mutex>
#include <string>

#if defined(_WIN32)
#define RECORDER_EXPORT extern "C" __declspec(dllexport)
#else
#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::mutex g_mutex;
std::string g_calls;
int32_t g_initialize_result = 7;

void record(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls += line + "\n";
}

/// Host names arrive as UTF-16; the tests use ASCII and one non-ASCII character, recorded as
/// its code in hexadecimal.
std::string narrow(const char16_t* text)
{
    std::string result;
    for (; text != nullptr && *text != 0; ++text) {
        if (*text < 0x80) {
            result.push_back(static_cast<char>(*text));
        } else {
            static const char digits[] = "0123456789ABCDEF";
            result += "U+";
            for (int shift = 12; shift >= 0; shift -= 4) {
                result.push_back(digits[(*text >> shift) & 0x0F]);
            }
        }
    }
    return result;
}

}  // namespace

RECORDER_EXPORT int32_t InitializeDLL()
{
    record("InitializeDLL");
    return g_initialize_result;
}

RECORDER_EXPORT void UnInitializeDLL(int32_t id)
{
    record("UnInitializeDLL " + std::to_string(id));
}

RECORDER_EXPORT void AddSendAddrDLL(int32_t id, const char16_t* host, int32_t port)
{
    record("AddSendAddrDLL " + std::to_string(id) + " " + narrow(host) + " " +
           std::to_string(port));
}

RECORDER_EXPORT void ClearSendAddrDLL(int32_t id)
{
    record("ClearSendAddrDLL " + std::to_string(id));
}

RECORDER_EXPORT void StartSendDLL(int32_t id)
{
    record("StartSendDLL " + std::to_string(id));
}

RECORDER_EXPORT void StopSendDLL(int32_t id)
{
    record("StopSendDLL " + std::to_string(id));
}

RECORDER_EXPORT void AddSendDataDLL(uint32_t id, const uint8_t*, uint32_t length)
{
    record("AddSendDataDLL " + std::to_string(id) + " " + std::to_string(length));
}

#if !defined(RECORDING_SENDER_WITHOUT_CLEAR_BUFFER)
RECORDER_EXPORT void ClearSendBuffDLL(int32_t id)
{
    record("ClearSendBuffDLL " + std::to_string(id));
}
#endif

/// The calls recorded since the last reset, one a line.
RECORDER_EXPORT const char* RecordedCalls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    static std::string copy;
    copy = g_calls;
    return copy.c_str();
}

/// Forgets the calls and sets what "InitializeDLL" returns next.
RECORDER_EXPORT void ResetRecorder(int32_t initialize_result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_initialize_result = initialize_result;
}
