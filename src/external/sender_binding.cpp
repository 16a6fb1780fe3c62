// The process-wide binding of the TCP sender library.
#include "external/sender_binding.h"

#include "base/console_output.h"
#include "external/leading_decimal.h"
#include "platform/text.h"

namespace qv {
namespace {

bool messages_shown()
{
    return (console_flags.load() & kNoProgress) == 0;
}

/// Looks up `name` and stores it in `entry` as the entry point's own type.
template <typename Function>
bool bind_entry(platform::LibraryHandle library, std::string_view name, Function& entry)
{
    entry = reinterpret_cast<Function>(platform::find_symbol(library, std::string(name).c_str()));
    return entry != nullptr;
}

bool bind_all(platform::LibraryHandle library, SendTsTcpApi& api)
{
    // Every name is looked up even after a missing one: the table is then cleared as a whole.
    bool found = true;
    found = bind_entry(library, kSendTsTcpEntryNames[0], api.initialize) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[1], api.uninitialize) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[2], api.add_send_address) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[3], api.clear_send_address) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[4], api.start_send) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[5], api.stop_send) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[6], api.add_send_data) && found;
    found = bind_entry(library, kSendTsTcpEntryNames[7], api.clear_send_buffer) && found;
    return found;
}

/// Hands every "host:port" line of the target to the sender. Lines without ':' or with an
/// empty host or port are skipped.
void add_destinations(const SendTsTcpApi& api, int32_t sender_id, std::u16string_view target)
{
    while (!target.empty()) {
        const size_t end = target.find(u'\n');
        std::u16string_view line = target.substr(0, end);
        target = end == std::u16string_view::npos ? std::u16string_view() : target.substr(end + 1);
        if (end != std::u16string_view::npos && !line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        const size_t colon = line.find(u':');
        if (colon == std::u16string_view::npos || colon == 0 || colon + 1 == line.size()) {
            continue;
        }
        const std::u16string host(line.substr(0, colon));
        // The port is read as the digits of the native text; any character outside ASCII ends
        // the number like any other non-digit.
        std::string port;
        for (const char16_t c : line.substr(colon + 1)) {
            port.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        api.add_send_address(sender_id, host.c_str(),
                             static_cast<int32_t>(parse_leading_decimal(port)));
    }
}

}  // namespace

SenderBinding& sender_binding()
{
    static SenderBinding binding;
    return binding;
}

bool split_sender_path(std::string_view path, std::string& target, std::string& library)
{
    if (!path.starts_with(kSenderPathPrefix)) {
        return false;
    }
    const std::string_view rest = path.substr(kSenderPathPrefix.size());
    const size_t backslash = rest.find('\\');
    target = std::string(rest.substr(0, backslash));
    library = backslash == std::string_view::npos ? std::string()
                                                  : std::string(rest.substr(backslash + 1));
    return true;
}

void load_sender_library()
{
    SenderBinding& binding = sender_binding();
    if (binding.library != nullptr) {
        return;
    }
    const std::string path = binding.sender_library_path.empty()
                                 ? std::string(platform::default_sender_library_name())
                                 : binding.sender_library_path;
    binding.library = platform::load_library(path);
    if (binding.library == nullptr) {
        return;
    }
    binding.sender_loaded = bind_all(binding.library, binding.api);
    if (!binding.sender_loaded) {
        unload_sender_library(-1);
    }
}

int32_t open_sender(const std::string& target)
{
    SenderBinding& binding = sender_binding();
    const std::u16string wide = platform::native_to_utf16(target);
    int32_t sender_id = -1;
    if (!wide.empty() && binding.library == nullptr) {
        load_sender_library();
        if (binding.sender_loaded) {
            sender_id = binding.api.initialize();
        }
        if (sender_id != -1) {
            add_destinations(binding.api, sender_id, wide);
            binding.api.start_send(sender_id);
            binding.sender_running = true;
        }
    }
    if (messages_shown()) {
        print_message(520, "－ SendTSTCP.dll 開始%s %s\n", sender_id != -1 ? "成功" : "失敗",
                      platform::utf16_to_native(wide).c_str());
    }
    return sender_id;
}

const SendTsTcpApi* sender_api()
{
    const SenderBinding& binding = sender_binding();
    return binding.sender_loaded ? &binding.api : nullptr;
}

void stop_sender(int32_t sender_id)
{
    SenderBinding& binding = sender_binding();
    if (sender_id == -1 || !binding.sender_loaded || !binding.sender_running) {
        return;
    }
    // Clearing the destinations keeps what is queued for them; stopping sends it before the
    // sender's threads end.
    binding.api.clear_send_address(sender_id);
    binding.api.stop_send(sender_id);
    binding.sender_running = false;
    if (messages_shown()) {
        print_message(520, "－ SendTSTCP.dll 終了%d\n", sender_id);
    }
}

void close_sender(int32_t sender_id)
{
    stop_sender(sender_id);
    const SenderBinding& binding = sender_binding();
    if (sender_id != -1 && binding.api.uninitialize != nullptr) {
        binding.api.uninitialize(sender_id);
    }
}

void unload_sender_library(int32_t sender_id)
{
    SenderBinding& binding = sender_binding();
    binding.sender_loaded = false;
    binding.sender_running = false;
    if (sender_id != -1 && binding.api.uninitialize != nullptr) {
        binding.api.uninitialize(sender_id);
    }
    if (binding.library != nullptr) {
        platform::free_library(binding.library);
        binding.api = SendTsTcpApi{};
    }
}

}  // namespace qv
