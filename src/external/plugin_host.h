#pragma once
// The list of plug-in libraries named by -tvtppath. Entries are kept, offered every parsed packet
// and released at the end of the run; nothing loads a library or activates an entry, so every
// entry stays inactive and the packet hook reaches no plug-in.
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

/// Called with each 188-byte packet and the plug-in's client value.
using PluginStreamCallback = void (*)(const uint8_t* packet, void* client);

struct PluginEntry {
    bool plugin_loaded = false;
    bool plugin_initialised = false;
    bool plugin_enabled = false;
    std::string plugin_path;  ///< as written on the command line
    void* module = nullptr;
    void (*finalise)() = nullptr;
    PluginStreamCallback stream_callback = nullptr;
    void* stream_client = nullptr;

    bool active() const { return plugin_loaded && plugin_initialised && plugin_enabled; }
};

/// Entries in the order their paths were first given, one per distinct path.
using PluginList = std::vector<PluginEntry>;

/// Adds `path` unless an entry with the same bytes (case-sensitive) exists.
void add_plugin(PluginList& list, const std::string& path);
/// Offers one packet to every active entry that has a stream callback.
void offer_packet_to_plugins(const PluginList& list, const uint8_t* packet);
/// Finalises and frees every entry and empties the list.
void release_plugins(PluginList& list);

}  // namespace qv
