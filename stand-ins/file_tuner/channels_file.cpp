// Reading the channel list of the file tuner.
#include "channels_file.h"

#include <cstdlib>

namespace standin {
namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/// Splits a line into words at blanks; a word in double quotes may hold blanks. False on a quote
/// that is not closed.
bool split_words(std::string_view line, std::vector<std::string>& words)
{
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i])) {
            ++i;
        }
        if (i >= line.size() || line[i] == '#') {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            word = std::string(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            while (i < line.size() && !is_blank(line[i]) && line[i] != '#') {
                word.push_back(line[i++]);
            }
        }
        words.push_back(word);
    }
    return true;
}

bool parse_number(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > UINT32_MAX) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

/// "x8", "x0.5": a positive speed of at most 10000.
bool parse_speed(const std::string& word, double& speed)
{
    if (word.size() < 2 || word[0] != 'x') {
        return false;
    }
    for (size_t i = 1; i < word.size(); ++i) {
        if ((word[i] < '0' || word[i] > '9') && word[i] != '.') {
            return false;
        }
    }
    char* end = nullptr;
    const double value = std::strtod(word.c_str() + 1, &end);
    if (end == nullptr || *end != '\0' || !(value > 0.0) || value > 10000.0) {
        return false;
    }
    speed = value;
    return true;
}

std::string join_path(const std::string& directory, const std::string& path)
{
    if (is_absolute_path(path) || directory.empty()) {
        return path;
    }
    const char last = directory.back();
    const bool separated = last == '/' || last == '\\';
#if defined(_WIN32)
    return directory + (separated ? "" : "\\") + path;
#else
    return directory + (separated ? "" : "/") + path;
#endif
}

/// One line into an entry; an empty text when it worked, else what is wrong.
std::string parse_line(const std::vector<std::string>& words, const std::string& base_directory,
                       ChannelEntry& entry)
{
    if (words.size() < 3) {
        return "expected SPACE CHANNEL PATH";
    }
    if (!parse_number(words[0], entry.space)) {
        return "tuning space is not a number: " + words[0];
    }
    if (!parse_number(words[1], entry.channel)) {
        return "channel is not a number: " + words[1];
    }
    if (words[2].empty()) {
        return "empty path";
    }
    entry.path = join_path(base_directory, words[2]);
    bool paced = false;
    for (size_t i = 3; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "loop" && !entry.loop) {
            entry.loop = true;
        } else if (word == "realtime" && !paced) {
            paced = true;
        } else if (word == "fast" && !paced) {
            entry.pace = Pace::fast;
            paced = true;
        } else if (!paced && parse_speed(word, entry.speed)) {
            entry.pace = Pace::times;
            paced = true;
        } else {
            return "unexpected word: " + word;
        }
    }
    return {};
}

}  // namespace

bool is_absolute_path(const std::string& path)
{
#if defined(_WIN32)
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

ChannelList parse_channels(std::string_view text, const std::string& base_directory)
{
    ChannelList list;
    int line_number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++line_number;
        std::vector<std::string> words;
        std::string problem;
        ChannelEntry entry;
        if (!split_words(line, words)) {
            problem = "quote not closed";
        } else if (words.empty()) {
            continue;
        } else {
            problem = parse_line(words, base_directory, entry);
        }
        if (problem.empty() && find_channel(list, entry.space, entry.channel) != nullptr) {
            problem = "space " + std::to_string(entry.space) + " channel " +
                      std::to_string(entry.channel) + " is listed twice";
        }
        if (!problem.empty()) {
            list.errors.push_back("line " + std::to_string(line_number) + ": " + problem);
            continue;
        }
        entry.line = line_number;
        list.channels.push_back(entry);
    }
    return list;
}

const ChannelEntry* find_channel(const ChannelList& list, uint32_t space, uint32_t channel)
{
    for (const ChannelEntry& entry : list.channels) {
        if (entry.space == space && entry.channel == channel) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace standin
