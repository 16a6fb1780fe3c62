// Subtitle files through the probes, both entry readers and the patch time file reader. An odd
// first byte builds the file from the input as lines of the kinds these files hold (script
// sections, Format and Dialogue lines, SubRip indices and time lines, patch lines, texts with
// commas, break marks, NULs and multi-byte characters); an even one takes the input as it is.
// Delivered times are never negative, an entry never ends at or before 0, and texts are whole
// Shift_JIS characters without NUL.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/file.h"
#include "subtitle/patch_time.h"
#include "subtitle/subtitle_reader.h"
#include "support/test_data.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::require;

std::string digits(Input& in, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = in.next();
        text.push_back(byte < 240 ? static_cast<char>('0' + byte % 10) : static_cast<char>(byte));
    }
    return text;
}

std::string raw_bytes(Input& in, size_t limit)
{
    std::string text;
    const size_t length = in.next() % limit;
    for (size_t i = 0; i < length && in.more(); ++i) {
        text.push_back(static_cast<char>(in.next()));
    }
    return text;
}

/// Text pieces with the characters the readers treat specially.
std::string text_piece(Input& in)
{
    static const char* const kPieces[] = {"a",
                                          ",",
                                          "\\N",
                                          "\\n",
                                          "\\",
                                          "\xE3\x81\x82",
                                          "\xE8\xA1\xA8",
                                          "\xC3\xA9",
                                          "\xF0\x9F\x98\x80",
                                          "\xE9\xAB\x99",
                                          "\xFF",
                                          "{\\b1}",
                                          "<i>",
                                          " ",
                                          "[\xE5\xA4\x96:x]",
                                          "\xEF\xBD\xB1"};
    std::string text;
    const size_t count = in.next() % 12;
    for (size_t i = 0; i < count; ++i) {
        text += kPieces[in.next() % 16];
    }
    return text;
}

std::string ass_time(Input& in)
{
    const uint8_t shape = in.next();
    std::string time = digits(in, 1 + shape % 3) + ":" + digits(in, 2) + ":" + digits(in, 2) + "." +
                       digits(in, 1 + (shape >> 2) % 3);
    if (shape >= 224) {
        time[time.size() / 2] = static_cast<char>(in.next());  // a broken separator now and then
    }
    return time;
}

std::string structured_file(Input& in)
{
    static const char* const kFormats[] = {
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text",
        "Format: Start, End, Text", "Format: Text, End, Start", "Format: End,Text,Start",
        "Format: Start"};
    std::string file = (in.next() & 1) ? "\xEF\xBB\xBF" : "";
    while (in.more()) {
        const uint8_t kind = in.next();
        std::string line;
        switch (kind % 12) {
            case 0:
                line = "[Script Info]";
                break;
            case 1:
                line = "[Events]";
                break;
            case 2:
                line = kFormats[in.next() % 5];
                break;
            case 3:
                line = "Dialogue: 0," + ass_time(in) + "," + ass_time(in) + ",Default,,0,0,0,," +
                       text_piece(in);
                break;
            case 4:
                line = std::string((in.next() & 1) ? "PlayResX:" : "PlayResY: ") +
                       ((in.next() & 1) ? "-" : "") + digits(in, in.next() % 12);
                break;
            case 5:
                line = std::to_string(in.next() % 5);
                break;
            case 6:
                line = digits(in, 2) + ":" + digits(in, 2) + ":" + digits(in, 2) + "," +
                       digits(in, 3) + " --> " + digits(in, 2) + ":" + digits(in, 2) + ":" +
                       digits(in, 2) + "," + digits(in, 3);
                break;
            case 7:
                line = text_piece(in);
                break;
            case 8:
                break;
            case 9:
                line =
                    "<><><><><>PATCHTIME;" + digits(in, 14) + ":" + digits(in, 5 + in.next() % 3);
                break;
            case 10:
                line = (in.next() & 1) ? "; comment" : "Comment: 0,0:00:01.00,x";
                break;
            default:
                line = raw_bytes(in, 40);
                break;
        }
        file += line + ((kind & 0x80) ? "\r\n" : "\n");
    }
    if (!file.empty() && (in.size & 1)) {
        file.pop_back();  // a last line without LF
    }
    return file;
}

/// The text holds whole Shift_JIS characters (a lead byte always has its trail byte) and no NUL.
void require_shift_jis(const std::string& text)
{
    for (size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<uint8_t>(text[at]);
        require(byte != 0);
        if (qv::is_sjis_lead_byte(byte)) {
            require(at + 1 < text.size());
            const auto trail = static_cast<uint8_t>(text[++at]);
            require((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC));
        }
    }
}

void read_all(const std::string& path, int32_t format, const qv::CaptionEncoderState& initial)
{
    qv::platform::NativeHandle handle = qv::platform::open_for_reading(path);
    require(handle != qv::platform::kClosedHandle);
    const int32_t bom = format == qv::kSubtitleAss ? qv::probe_ass(handle) : qv::probe_srt(handle);
    require(bom == -1 || bom == 0 || bom == 3);
    qv::CaptionEncoderState state = initial;
    qv::SubtitleLineReader reader = qv::open_line_reader(handle);
    require(reader.position == (bom < 0 ? 0 : bom));
    for (;;) {
        const bool got = format == qv::kSubtitleAss ? qv::read_ass_entry(reader, state)
                                                    : qv::read_srt_entry(reader, state);
        if (!got) {
            break;
        }
        require(state.start_time >= 0 && state.end_time > 0);
        require_shift_jis(state.caption_text);
        if (format == qv::kSubtitleSrt) {
            require(!state.caption_text.empty() && state.caption_text.back() == '\n');
        }
    }
    require(state.display_width > 0 && state.display_height > 0);
    qv::platform::close_handle(handle);
}

const std::string& scratch_path();

void remove_scratch_file()
{
    (void)qv::platform::delete_file(scratch_path());
}

/// One file per process, removed at exit (registered once the path exists, so that it is
/// removed before the path itself goes).
const std::string& scratch_path()
{
    static const std::string path = qv::test::unique_temp_path("qv_subtitle_fuzz", ".txt");
    static const bool cleanup_registered = std::atexit(remove_scratch_file) == 0;
    (void)cleanup_registered;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    Input in{data + 2, size - 2};
    const std::string file =
        (data[0] & 1) ? structured_file(in) : std::string(in.data, in.data + in.size);
    const std::string& path = scratch_path();
    // A new file each time: truncating a written file would make some file systems flush it.
    (void)qv::platform::delete_file(path);
    qv::platform::NativeHandle out = qv::platform::create_for_writing(path);
    require(out != qv::platform::kClosedHandle);
    size_t written = 0;
    require(qv::platform::write_file(out, file.data(), file.size(), written));
    qv::platform::close_handle(out);

    static constexpr int64_t kOffsets[] = {0,
                                           90000,
                                           -450000,
                                           std::numeric_limits<int64_t>::max() / 2,
                                           std::numeric_limits<int64_t>::min() / 2,
                                           1};
    qv::CaptionEncoderState initial;
    initial.time_offset = kOffsets[data[1] % 6];
    const size_t entries = qv::read_patch_time_file(initial.patch_table, path);
    require(entries == initial.patch_table.size());
    for (const qv::PatchTimeEntry& entry : initial.patch_table) {
        require(entry.relative_seconds == entry.wall_clock - initial.patch_table[0].wall_clock);
        require(entry.source_ticks == entry.relative_seconds * 90000);
        require(entry.target_ticks == entry.stream_seconds * 90000);
    }
    if ((data[1] & 0x80) == 0) {
        initial.patch_table.clear();
    }
    read_all(path, qv::kSubtitleAss, initial);
    read_all(path, qv::kSubtitleSrt, initial);
    return 0;
}
