// A text and encoder settings through the conversion packets (PAT, PMT, management data, a
// clearing statement, the statement with the text) and back through the caption decoder. The
// output is whole 188-byte packets with valid CRC-32 and CRC-16 and continuous counters on every
// PID; a text made only of JIS X 0208 kanji, ASCII, half-width katakana and LF decodes to itself
// in the decoder's full-width forms (line breaks leave no mark).
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "arib/arib_char_tables.h"
#include "arib/crc16.h"
#include "subtitle/caption_encoder.h"
#include "subtitle/conversion_packets.h"
#include "support/caption_builders.h"
#include "support/packet_capture.h"
#include "ts/crc32_mpeg2.h"

namespace {

using Bytes = std::vector<uint8_t>;

using qv::fuzz::Input;
using qv::fuzz::require;

void append_sjis(std::string& text, uint16_t code)
{
    text.push_back(static_cast<char>(code >> 8));
    text.push_back(static_cast<char>(code));
}

/// A text of characters that come back from the decoder, and what the decoder gives for it.
void clean_text(Input& in, std::string& text, std::string& decoded)
{
    while (in.more()) {
        const uint8_t kind = in.next();
        const uint8_t value = in.next();
        switch (kind % 8) {
            case 0:
            case 1:
            case 2: {
                const auto c = static_cast<uint8_t>(0x20 + value % 95);
                text.push_back(static_cast<char>(c));
                if (c == 0x20) {
                    decoded.push_back(' ');
                } else {
                    append_sjis(decoded, qv::alphanumeric_table[c - 0x20]);
                }
                break;
            }
            case 3: {
                const auto c = static_cast<uint8_t>(0xA1 + value % 63);
                text.push_back(static_cast<char>(c));
                append_sjis(decoded, qv::jisx0201_katakana_table[c - 0xA0]);
                break;
            }
            case 7:
                text.push_back('\n');
                break;
            default: {
                // Leads 0x81-0x9F and 0xE0-0xEA: JIS X 0208 rows 1-84.
                const int lead_index = value % 42;
                const auto lead = static_cast<uint8_t>(lead_index < 31 ? 0x81 + lead_index
                                                                       : 0xE0 + lead_index - 31);
                const int trail_index = in.next() % 188;
                const auto trail = static_cast<uint8_t>(trail_index < 63 ? 0x40 + trail_index
                                                                         : 0x80 + trail_index - 63);
                text.push_back(static_cast<char>(lead));
                text.push_back(static_cast<char>(trail));
                decoded.push_back(static_cast<char>(lead));
                decoded.push_back(static_cast<char>(trail));
                break;
            }
        }
    }
}

uint16_t pid_of(const uint8_t* packet)
{
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

/// A completed caption PES: its length field and the data group with its CRC-16.
void check_caption_pes(const Bytes& pes)
{
    require(pes.size() >= 6 && pes[0] == 0 && pes[1] == 0 && pes[2] == 1);
    const size_t length = size_t{pes[4]} << 8 | pes[5];
    require(pes.size() == 6 + length);
    size_t at = 6;
    if (pes[3] == 0xBD) {
        require(pes.size() > 9);
        at = 9 + pes[8];
    }
    require(at + 3 + 5 <= pes.size() && pes[at + 1] == 0xFF);
    const size_t group = at + 3;
    const size_t group_size = size_t{pes[group + 3]} << 8 | pes[group + 4];
    require(group + 5 + group_size + 2 == pes.size());
    require(qv::crc16(pes.data() + group, 5 + group_size + 2) == 0);
}

/// Whole packets, continuous counters, valid PSI CRCs, complete caption PES packets.
void check_packets(const Bytes& bytes, const qv::CaptionEncoderState& state)
{
    require(bytes.size() % 188 == 0);
    std::map<uint16_t, int> counters;
    Bytes pes;
    size_t pes_wanted = 0;
    for (size_t at = 0; at < bytes.size(); at += 188) {
        const uint8_t* packet = bytes.data() + at;
        require(packet[0] == 0x47);
        const uint16_t pid = pid_of(packet);
        const int counter = packet[3] & 0x0F;
        const auto found = counters.find(pid);
        require(found == counters.end() ? counter == 0 : counter == ((found->second + 1) & 0x0F));
        counters[pid] = counter;
        const bool unit_start = (packet[1] & 0x40) != 0;
        if (pid == state.pat_pid || pid == state.pmt_pid) {
            require(unit_start && packet[4] == 0);
            const size_t section_length = static_cast<size_t>(packet[6] & 0x0F) << 8 | packet[7];
            require(5 + 3 + section_length <= 188);
            require(qv::crc32_mpeg2(packet + 5, packet + 8 + section_length) == 0);
            continue;
        }
        require(pid == state.caption_pid);
        size_t payload = 4;
        if (packet[3] & 0x20) {
            payload = 5 + packet[4];
            require(payload <= 188);
        }
        if (unit_start) {
            require(pes_wanted == 0);
            pes.assign(packet + payload, packet + 188);
            pes_wanted = 6 + (size_t{packet[payload + 4]} << 8 | packet[payload + 5]);
        } else {
            require(pes_wanted > 0);
            pes.insert(pes.end(), packet + payload, packet + 188);
        }
        if (pes.size() >= pes_wanted) {
            for (size_t i = pes_wanted; i < pes.size(); ++i) {
                require(pes[i] == 0xFF);
            }
            pes.resize(pes_wanted);
            check_caption_pes(pes);
            pes_wanted = 0;
        }
    }
    require(pes_wanted == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace qv;
    if (size < 8) {
        return 0;
    }
    Input in{data, size};
    const uint8_t flags = in.next();
    const uint8_t layout = in.next();
    CaptionEncoderState statement;
    CaptionEncoderState management;
    share_pid_counters(management, statement);
    management.management = 1;
    static constexpr int32_t kHeights[] = {480, 0, 4, -7, 1080, 8, 7, 0x7FFFFFFF};
    statement.display_height = management.display_height = kHeights[layout % 8];
    statement.position_y = layout >> 3;
    statement.row_base = in.next() & 0x0F;
    statement.start_time = int64_t{in.next()} << 26 | in.next();
    statement.superimpose = (flags & 0x02) ? 1 : 0;
    const uint8_t pid_choice = in.next();
    if (flags & 0x04) {
        statement.pmt_pid = static_cast<uint16_t>(0x20 + pid_choice * 16);
        statement.caption_pid = static_cast<uint16_t>(statement.pmt_pid + 1 + (pid_choice & 7));
        statement.pat_pmt_pid = statement.pmt_pid;
        management.caption_pid = statement.caption_pid;
    }
    if (flags & 0x08) {
        const size_t count = in.next() % 9;
        for (size_t i = 0; i < count; ++i) {
            statement.extra_bytes.push_back(in.next());
        }
        management.extra_bytes = statement.extra_bytes;
    }
    add_pmt_stream(statement.pmt_streams, kCaptionStreamType, statement.caption_pid,
                   kCaptionStreamDescriptors.data(), kCaptionStreamDescriptors.size());

    std::string decoded;
    const bool clean = (flags & 0x01) != 0;
    if (clean) {
        clean_text(in, statement.caption_text, decoded);
    } else {
        statement.caption_text.assign(data + in.at, data + size);
    }
    test::PacketCapture capture;
    PacketWriter& writer = capture.writer();
    require(emit_conversion_packets(statement, kStepPat, writer));
    require(emit_conversion_packets(statement, kStepPmt, writer));
    management.start_time = 1;
    require(emit_conversion_packets(management, kStepCaption, writer));
    const std::string text = statement.caption_text;
    statement.caption_text.clear();
    require(emit_conversion_packets(statement, kStepCaption, writer));
    statement.caption_text = text;
    size_t cut = 0;
    require(emit_conversion_packets(statement, kStepCaption, writer, &cut));
    const Bytes& bytes = capture.bytes();
    check_packets(bytes, statement);

    if (!clean || !statement.extra_bytes.empty() || cut != 0) {
        return 0;
    }
    test::CaptionFeed feed(statement.caption_pid);
    for (size_t at = 0; at < bytes.size(); at += 188) {
        if (pid_of(bytes.data() + at) == statement.caption_pid) {
            (void)test::feed_packet(feed, Bytes(bytes.begin() + at, bytes.begin() + at + 188));
        }
    }
    if (text.find("[\x8A\x4F:") != std::string::npos) {
        return 0;  // external-character markers are removed on the way
    }
    if (decoded.empty()) {
        require(feed.texts.empty());
    } else {
        require(feed.texts.size() == 1 && feed.texts[0] == decoded);
    }
    return 0;
}
