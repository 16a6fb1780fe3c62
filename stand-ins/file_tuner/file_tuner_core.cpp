// The file tuner's core: the channel list beside the library, tuning, and the hand-outs of the
// playing file.
#include "file_tuner_core.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channels_file.h"
#include "player.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {
namespace {

/// Largest hand-out of a paced stream (more is due only after a long pause of the reader), and
/// of an unpaced one, which hands out one such piece per call.
constexpr size_t kMaxPacedHandout = kPacketSize * 5585;  // about 1 MiB
constexpr size_t kMaxFastHandout = kPacketSize * 348;    // about 64 KiB

/// The path of the library this code is part of.
std::string own_library_path()
{
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&own_library_path), &module)) {
        return {};
    }
    wchar_t wide[32768];
    const DWORD length = GetModuleFileNameW(module, wide, 32768);
    if (length == 0 || length >= 32768) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string path(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), path.data(), size, nullptr,
                        nullptr);
    return path;
#else
    Dl_info info;
    if (::dladdr(reinterpret_cast<void*>(&own_library_path), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
#endif
}

size_t last_separator(const std::string& path)
{
#if defined(_WIN32)
    return path.find_last_of("\\/");
#else
    return path.rfind('/');
#endif
}

/// "<directory>/<library name without extension>.channels".
std::string channels_path(const std::string& library)
{
    const size_t separator = last_separator(library);
    const size_t name_start = separator == std::string::npos ? 0 : separator + 1;
    const size_t dot = library.rfind('.');
    const size_t name_end = dot == std::string::npos || dot < name_start ? library.size() : dot;
    return library.substr(0, name_end) + ".channels";
}

std::u16string ascii_to_utf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::u16string utf8_to_utf16(const std::string& text)
{
    std::u16string result;
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        const size_t length = lead < 0x80    ? 1
                              : lead >= 0xF0 ? 4
                              : lead >= 0xE0 ? 3
                              : lead >= 0xC0 ? 2
                                             : 1;
        uint32_t code = length == 1 ? (lead < 0x80 ? lead : 0xFFFD) : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            code = i + k < text.size() ? (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F)
                                       : 0xFFFD;
        }
        i += length;
        if (code >= 0x10000 && code <= 0x10FFFF) {
            result.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(code > 0xFFFF ? 0xFFFD : code));
        }
    }
    return result;
}

bool read_text_file(const std::string& path, std::string& text)
{
    std::FILE* file = open_for_reading(path);
    if (file == nullptr) {
        return false;
    }
    char block[4096];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        text.append(block, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace
}  // namespace standin

using namespace standin;

struct FileTunerCore {
    std::mutex mutex;
    bool open = false;
    std::string list_path;
    ChannelList list;
    std::vector<uint32_t> spaces;             ///< distinct spaces in the order of the list
    std::vector<std::u16string> space_names;  ///< "Space N"
    std::vector<std::vector<std::u16string>> channel_names;  ///< file names per space
    bool tuned = false;
    uint32_t space = 0;
    uint32_t channel = 0;
    std::unique_ptr<Player> player;
    std::vector<uint8_t> handout;  ///< what the last fetch handed out
    size_t max_handout = kMaxPacedHandout;
};

extern "C" {

FileTunerCore* file_tuner_core_create(void)
{
    return new FileTunerCore;
}

void file_tuner_core_destroy(FileTunerCore* core)
{
    delete core;  // the player's destructor joins its thread
}

int32_t file_tuner_core_open(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->open) {
        return 1;
    }
    const std::string library = own_library_path();
    core->list_path = channels_path(library);
    std::string text;
    if (library.empty() || !read_text_file(core->list_path, text)) {
        std::fprintf(stderr, "file tuner: cannot read the channel list %s\n",
                     core->list_path.c_str());
        return 0;
    }
    const size_t separator = last_separator(library);
    core->list = parse_channels(
        text, separator == std::string::npos ? std::string() : library.substr(0, separator));
    for (const std::string& error : core->list.errors) {
        std::fprintf(stderr, "file tuner: %s: %s\n", core->list_path.c_str(), error.c_str());
    }
    if (core->list.channels.empty()) {
        std::fprintf(stderr, "file tuner: %s lists no channel\n", core->list_path.c_str());
        return 0;
    }
    for (const ChannelEntry& entry : core->list.channels) {
        size_t index = 0;
        while (index < core->spaces.size() && core->spaces[index] != entry.space) {
            ++index;
        }
        if (index == core->spaces.size()) {
            core->spaces.push_back(entry.space);
            core->space_names.push_back(ascii_to_utf16("Space " + std::to_string(entry.space)));
            core->channel_names.emplace_back();
        }
        const size_t separator_in_path = last_separator(entry.path);
        core->channel_names[index].push_back(utf8_to_utf16(
            separator_in_path == std::string::npos ? entry.path
                                                   : entry.path.substr(separator_in_path + 1)));
    }
    core->open = true;
    return 1;
}

void file_tuner_core_close(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    core->player.reset();
    core->tuned = false;
    core->open = false;
    core->list = ChannelList();
    core->spaces.clear();
    core->space_names.clear();
    core->channel_names.clear();
}

int32_t file_tuner_core_is_open(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->open ? 1 : 0;
}

int32_t file_tuner_core_tune(FileTunerCore* core, uint32_t space, uint32_t channel)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    if (!core->open) {
        return 0;
    }
    core->player.reset();
    core->tuned = false;
    const ChannelEntry* entry = find_channel(core->list, space, channel);
    if (entry == nullptr) {
        std::fprintf(stderr, "file tuner: %s lists no channel %u in space %u\n",
                     core->list_path.c_str(), channel, space);
        return 0;
    }
    auto player = std::make_unique<Player>(*entry);
    std::string error;
    if (!player->start(error)) {
        std::fprintf(stderr, "file tuner: %s\n", error.c_str());
        return 0;
    }
    core->player = std::move(player);
    core->max_handout = entry->pace == Pace::fast ? kMaxFastHandout : kMaxPacedHandout;
    core->tuned = true;
    core->space = space;
    core->channel = channel;
    return 1;
}

uint32_t file_tuner_core_current_space(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->space;
}

uint32_t file_tuner_core_current_channel(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->channel;
}

int32_t file_tuner_core_fetch(FileTunerCore* core, uint8_t** data, uint32_t* size, uint32_t* remain)
{
    if (data == nullptr || size == nullptr || remain == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(core->mutex);
    *data = nullptr;
    *size = 0;
    *remain = 0;
    if (core->player == nullptr) {
        return 0;
    }
    core->player->hand_out(core->handout, core->max_handout, *remain);
    if (core->handout.empty()) {
        return 0;
    }
    *data = core->handout.data();
    *size = static_cast<uint32_t>(core->handout.size());
    return 1;
}

int32_t file_tuner_core_copy(FileTunerCore* core, uint8_t* destination, uint32_t* size,
                             uint32_t* remain)
{
    if (destination == nullptr || size == nullptr || remain == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(core->mutex);
    const size_t room = *size - *size % kPacketSize;
    *size = 0;
    *remain = 0;
    if (core->player == nullptr || room == 0) {
        return 0;
    }
    core->player->hand_out(core->handout, std::min(room, core->max_handout), *remain);
    if (core->handout.empty()) {
        return 0;
    }
    std::copy(core->handout.begin(), core->handout.end(), destination);
    *size = static_cast<uint32_t>(core->handout.size());
    return 1;
}

void file_tuner_core_purge(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->player != nullptr) {
        core->player->purge();
    }
}

uint32_t file_tuner_core_ready_count(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->player != nullptr ? core->player->ready_count() : 0;
}

uint32_t file_tuner_core_wait(FileTunerCore* core, uint32_t timeout_ms)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->player != nullptr && core->player->wait(std::chrono::milliseconds(timeout_ms)) ? 1
                                                                                                : 0;
}

float file_tuner_core_signal_level(FileTunerCore* core)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return core->player != nullptr ? static_cast<float>(core->player->bit_rate() / 1e6) : 0.0f;
}

const char16_t* file_tuner_core_space_name(FileTunerCore* core, uint32_t space_index)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    return space_index < core->space_names.size() ? core->space_names[space_index].c_str()
                                                  : nullptr;
}

const char16_t* file_tuner_core_channel_name(FileTunerCore* core, uint32_t space_index,
                                             uint32_t channel_index)
{
    std::lock_guard<std::mutex> lock(core->mutex);
    if (space_index >= core->channel_names.size() ||
        channel_index >= core->channel_names[space_index].size()) {
        return nullptr;
    }
    return core->channel_names[space_index][channel_index].c_str();
}

const char16_t* file_tuner_core_tuner_name(void)
{
    return u"File tuner";
}

}  // extern "C"
