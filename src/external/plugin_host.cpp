#include "external/plugin_host.h"

#include "base/console_output.h"
#include "platform/library.h"

namespace qv {

void add_plugin(PluginList& list, const std::string& path)
{
    for (auto& entry : list) {
        if (entry.plugin_path == path) {
            return;
        }
    }
    list.push_back(PluginEntry{.plugin_path = path});
}

void offer_packet_to_plugins(const PluginList& list, const uint8_t* packet)
{
    for (const auto& entry : list) {
        if (entry.active() && entry.stream_callback != nullptr && entry.stream_client != nullptr) {
            entry.stream_callback(packet, entry.stream_client);
        }
    }
}

void release_plugins(PluginList& list)
{
    for (auto& entry : list) {
        if (entry.plugin_loaded) {
            if (entry.plugin_initialised && entry.finalise != nullptr) {
                entry.finalise();
            }
            entry.plugin_initialised = false;
            if ((console_flags.load() & kNoProgress) == 0) {
                print_message(520, "－ tvtp 終了 %s\n", entry.plugin_path.c_str());
            }
        }
        entry.plugin_loaded = false;
        entry.plugin_enabled = false;
        if (entry.module != nullptr) {
            platform::free_library(entry.module);
        }
    }
    list.clear();
}

}  // namespace qv
