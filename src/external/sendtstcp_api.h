#pragma once
// The eight entry points of the outside TCP stream sender library, as a table of function
// pointers that the binding fills from the loaded library. The library is usable only when all
// eight names are exported.
//
// Calling order for one sender:
//   InitializeDLL                      -> sender id (-1: failure, the output is unusable)
//   AddSendAddrDLL                     once per destination (host as NUL-terminated UTF-16, port)
//   StartSendDLL
//   AddSendDataDLL                     once per full (or final) write buffer, from the thread of
//                                      the worker that owns the output; the library takes the
//                                      bytes over in full, every byte counts as written
//   ClearSendAddrDLL, StopSendDLL      when the worker closes its output
//   UnInitializeDLL                    with the same id; then the library is freed
// ClearSendBuffDLL is never called but must be exported. No result other than InitializeDLL's is
// examined.
#include <array>
#include <cstdint>
#include <string_view>

#include "ts/packet_writer.h"

namespace qv {

using SendInitializeFunction = int32_t (*)();
using SendUninitializeFunction = void (*)(int32_t sender_id);
using SendAddAddressFunction = void (*)(int32_t sender_id, const char16_t* host, int32_t port);
using SendClearAddressFunction = void (*)(int32_t sender_id);
using SendStartFunction = void (*)(int32_t sender_id);
using SendStopFunction = void (*)(int32_t sender_id);
using SendAddDataFunction = SendDataFunction;  ///< what a PacketWriter hands its blocks to
using SendClearBufferFunction = void (*)(int32_t sender_id);  ///< never called

/// The bound entry points; null members are not (yet) bound.
struct SendTsTcpApi {
    SendInitializeFunction initialize = nullptr;            ///< "InitializeDLL"
    SendUninitializeFunction uninitialize = nullptr;        ///< "UnInitializeDLL"
    SendAddAddressFunction add_send_address = nullptr;      ///< "AddSendAddrDLL"
    SendClearAddressFunction clear_send_address = nullptr;  ///< "ClearSendAddrDLL"
    SendStartFunction start_send = nullptr;                 ///< "StartSendDLL"
    SendStopFunction stop_send = nullptr;                   ///< "StopSendDLL"
    SendAddDataFunction add_send_data = nullptr;            ///< "AddSendDataDLL"
    SendClearBufferFunction clear_send_buffer = nullptr;    ///< "ClearSendBuffDLL"
};

/// The exported names, in the order of the members of SendTsTcpApi.
inline constexpr std::array<std::string_view, 8> kSendTsTcpEntryNames = {
    "InitializeDLL", "UnInitializeDLL", "AddSendAddrDLL", "ClearSendAddrDLL",
    "StartSendDLL",  "StopSendDLL",     "AddSendDataDLL", "ClearSendBuffDLL"};

/// True when every entry point is bound.
inline bool send_api_complete(const SendTsTcpApi& api)
{
    return api.initialize && api.uninitialize && api.add_send_address && api.clear_send_address &&
           api.start_send && api.stop_send && api.add_send_data && api.clear_send_buffer;
}

}  // namespace qv
