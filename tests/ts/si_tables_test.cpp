// The SDT and EIT handlers: service names, present/following events, copies of the sections.
#include "ts/si_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "base/console_output.h"
#include "base/time_convert.h"
#include "platform/text.h"
#include "support/section_builders.h"
#include "support/test_data.h"

namespace qv {
namespace {

using test::Bytes;

/// The stored text as the console shows it: UTF-8 on POSIX, CP932 on Windows, like the plain
/// literals it is compared with.
std::string shown_text(const AribTextState& state)
{
    return platform::sjis_to_native(state.text);
}

/// Feeds the packets of `stream` (whole 188-byte packets) to `handler`; the last result.
template <typename Handler>
bool feed_stream(StreamContext& context, const Bytes& stream, Handler handler)
{
    bool result = false;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        Bytes packet(stream.begin() + static_cast<ptrdiff_t>(at),
                     stream.begin() + static_cast<ptrdiff_t>(at + 188));
        PidState* state = test::ingest_packet(context, packet);
        result = state != nullptr && handler(context, *state, packet.data());
    }
    return result;
}

bool feed_sdt(StreamContext& context, const Bytes& stream, ByteBuffer* copy = nullptr)
{
    return feed_stream(context, stream, [copy](StreamContext& c, PidState& s, const uint8_t* p) {
        return parse_sdt(c, s, p, copy);
    });
}

bool feed_eit(StreamContext& context, const Bytes& stream, ByteBuffer* copy = nullptr)
{
    return feed_stream(context, stream, [copy](StreamContext& c, PidState& s, const uint8_t* p) {
        return parse_eit(c, s, p, copy);
    });
}

/// A section as the packets of `pid`, joined.
Bytes section_stream(const Bytes& section, uint16_t pid, uint8_t& counter)
{
    Bytes stream;
    for (const Bytes& packet : test::section_packets(section, pid, counter)) {
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    return stream;
}

// Full-width letters through the SI designations (G0 Kanji): JIS row 3.
const Bytes kNameNhk = {0x23, 0x4E, 0x23, 0x48, 0x23, 0x4B};  // ＮＨＫ
const Bytes kNameMx = {0x23, 0x4D, 0x23, 0x58};               // ＭＸ

TEST(SdtParse, RealSdtGivesSixServicesWithTheirNames)
{
    StreamContext context;
    Bytes stream = test::read_whole_file(test::testdata_dir() + "/si/ariblib_sdt_7e87.ts");
    ASSERT_EQ(stream.size(), 376u);
    ByteBuffer copy;
    EXPECT_TRUE(feed_sdt(context, stream, &copy));
    const ServiceTable& services = context.services;
    ASSERT_EQ(services.service_count, 6);
    struct Expected {
        uint16_t id;
        const char* name;
    };
    const Expected expected[] = {{0x5C38, "ＴＯＫＹＯ　ＭＸ１"}, {0x5C39, "ＴＯＫＹＯ　ＭＸ１"},
                                 {0x5C3A, "ＴＯＫＹＯ　ＭＸ２"}, {0x5C3F, "ＴＯＫＹＯ　ＭＸ臨時"},
                                 {0x5DB8, "ＭＸワンセグ１"},     {0x5DB9, "ＭＸワンセグ２"}};
    for (size_t n = 0; n < 6; ++n) {
        EXPECT_EQ(services.service_ids[n], expected[n].id) << n;
        EXPECT_EQ(shown_text(services.service_names[n]), expected[n].name) << n;
        EXPECT_TRUE(services.provider_names[n].text.empty()) << n;
        EXPECT_TRUE(services.service_names[n].text_changed) << n;
    }

    // The copy holds the collected bytes from the first packet's byte 0.
    Bytes section = test::read_whole_file(test::testdata_dir() + "/si/ariblib_sdt_7e87.sec");
    ASSERT_EQ(copy.data.size(), 5 + section.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + 5, copy.data.begin()));
    EXPECT_TRUE(std::equal(section.begin(), section.end(), copy.data.begin() + 5));
    EXPECT_TRUE(copy.changed);

    // The same SDT again: the names are unchanged.
    Bytes again = stream;
    again[3] = static_cast<uint8_t>((again[3] & 0xF0) | ((stream[188 + 3] + 1) & 0x0F));
    again[188 + 3] = static_cast<uint8_t>((again[188 + 3] & 0xF0) | ((stream[188 + 3] + 2) & 0x0F));
    EXPECT_TRUE(feed_sdt(context, again, &copy));
    EXPECT_EQ(services.service_count, 6);
    EXPECT_FALSE(services.service_names[0].text_changed);
}

TEST(SdtParse, EightServicesOfferedSixStored)
{
    Bytes services;
    for (uint16_t id = 0x0401; id <= 0x0408; ++id) {
        Bytes name = kNameNhk;
        name.push_back(0x23);
        name.push_back(static_cast<uint8_t>(0x30 + (id & 0x0F)));  // ＮＨＫ１ …
        Bytes service = test::sdt_service(id, test::service_descriptor(0x01, kNameNhk, name));
        services.insert(services.end(), service.begin(), service.end());
    }
    StreamContext context;
    context.services.service_names[0].text = "stale";
    uint8_t counter = 0;
    EXPECT_TRUE(
        feed_sdt(context, section_stream(test::sdt_section(1, 4, services), 0x11, counter)));
    const ServiceTable& table = context.services;
    EXPECT_EQ(table.service_count, 6);
    const char* names[] = {"ＮＨＫ１", "ＮＨＫ２", "ＮＨＫ３", "ＮＨＫ４", "ＮＨＫ５", "ＮＨＫ６"};
    for (size_t n = 0; n < 6; ++n) {
        EXPECT_EQ(table.service_ids[n], 0x0401 + n) << n;
        EXPECT_EQ(shown_text(table.provider_names[n]), "ＮＨＫ") << n;
        EXPECT_EQ(shown_text(table.service_names[n]), names[n]) << n;
    }
}

TEST(SdtParse, UnchangedNameLeavesTextChangedClearAndANewNameSetsIt)
{
    StreamContext context;
    uint8_t counter = 0;
    auto sdt = [](const Bytes& name) {
        return test::sdt_section(
            1, 4, test::sdt_service(0x0400, test::service_descriptor(0x01, {}, name)));
    };
    ASSERT_TRUE(feed_sdt(context, section_stream(sdt(kNameNhk), 0x11, counter)));
    EXPECT_TRUE(context.services.service_names[0].text_changed);
    ASSERT_TRUE(feed_sdt(context, section_stream(sdt(kNameNhk), 0x11, counter)));
    EXPECT_FALSE(context.services.service_names[0].text_changed);
    ASSERT_TRUE(feed_sdt(context, section_stream(sdt(kNameMx), 0x11, counter)));
    EXPECT_TRUE(context.services.service_names[0].text_changed);
    EXPECT_EQ(shown_text(context.services.service_names[0]), "ＭＸ");

    // An empty name field leaves the held name alone.
    ASSERT_TRUE(feed_sdt(context, section_stream(sdt({}), 0x11, counter)));
    EXPECT_EQ(shown_text(context.services.service_names[0]), "ＭＸ");
}

TEST(SdtParse, LengthsPastTheirBoundsEndTheWalksAndOtherTablesAreIgnored)
{
    // The second service's descriptors_loop_length runs into the CRC_32.
    Bytes first = test::sdt_service(0x0401, test::service_descriptor(0x01, {}, kNameNhk));
    Bytes second = test::sdt_service(0x0402, test::service_descriptor(0x01, {}, kNameMx));
    second[4] = static_cast<uint8_t>(second[4] + 5);
    // The third's service_name_length runs past its descriptor: the provider is still taken.
    Bytes broken_descriptor = test::service_descriptor(0x01, kNameMx, kNameNhk);
    broken_descriptor[2 + 1 + 1 + kNameMx.size()] = 0x40;
    Bytes third = test::sdt_service(0x0403, broken_descriptor);

    StreamContext context;
    uint8_t counter = 0;
    EXPECT_TRUE(feed_sdt(
        context, section_stream(test::sdt_section(1, 4, test::concat_bytes({first, second})), 0x11,
                                counter)));
    EXPECT_EQ(context.services.service_count, 1);
    EXPECT_EQ(shown_text(context.services.service_names[0]), "ＮＨＫ");

    EXPECT_TRUE(feed_sdt(context, section_stream(test::sdt_section(1, 4, third), 0x11, counter)));
    EXPECT_EQ(context.services.service_count, 1);
    EXPECT_EQ(context.services.service_ids[0], 0x0403);
    EXPECT_EQ(shown_text(context.services.provider_names[0]), "ＭＸ");
    EXPECT_EQ(shown_text(context.services.service_names[0]), "ＮＨＫ");  // kept from before

    // SDT other (0x46) and an SDT on another PID are not taken.
    Bytes other = test::sdt_section(1, 4, test::sdt_service(0x0500, {}));
    other[0] = 0x46;
    test::put_crc(other);
    EXPECT_FALSE(feed_sdt(context, section_stream(other, 0x11, counter)));
    uint8_t elsewhere = 0;
    EXPECT_FALSE(feed_sdt(
        context,
        section_stream(test::sdt_section(1, 4, test::sdt_service(0x0500, {})), 0x12, elsewhere)));
    EXPECT_EQ(context.services.service_ids[0], 0x0403);
}

int64_t local_seconds(int year, int month, int day, int hour, int minute, int second)
{
    platform::CalendarTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    int64_t seconds = 0;
    EXPECT_TRUE(local_time_to_unix(time, seconds));
    return seconds;
}

Bytes eit_with(uint16_t event_id, int hour, int minute, const Bytes& name, const Bytes& text,
               uint8_t section_number)
{
    return test::eit_section(
        0x5C38,
        test::eit_event(event_id, test::mjd_time(2015, 10, 21, hour, minute, 0),
                        test::bcd_duration(0, 54, 0), test::short_event_descriptor(name, text)),
        section_number);
}

TEST(EitParse, PresentThenFollowingShiftsTheSlots)
{
    StreamContext context;
    uint8_t counter = 0;
    const Bytes kText = {0x23, 0x54};  // Ｔ
    ASSERT_TRUE(
        feed_eit(context, section_stream(eit_with(1, 21, 0, kNameNhk, kText, 0), 0x12, counter)));
    const EventInfo& events = context.events;
    EXPECT_FALSE(events.shifted);
    EXPECT_EQ(events.latest.start_seconds, local_seconds(2015, 10, 21, 21, 0, 0));
    EXPECT_EQ(events.latest.start_time.hour, 21);
    EXPECT_EQ(events.latest.duration.minutes, 54);
    EXPECT_EQ(shown_text(events.latest.name), "ＮＨＫ");
    EXPECT_EQ(shown_text(events.latest.text), "Ｔ");
    EXPECT_TRUE(events.changed_name.text.empty());

    ASSERT_TRUE(
        feed_eit(context, section_stream(eit_with(2, 21, 54, kNameMx, {}, 1), 0x12, counter)));
    EXPECT_TRUE(events.shifted);
    EXPECT_EQ(events.preceding.start_seconds, local_seconds(2015, 10, 21, 21, 0, 0));
    EXPECT_EQ(events.preceding.start_time.minute, 0);
    EXPECT_EQ(shown_text(events.preceding.name), "ＮＨＫ");
    EXPECT_EQ(events.latest.start_seconds, local_seconds(2015, 10, 21, 21, 54, 0));
    EXPECT_EQ(events.latest.start_time.minute, 54);
    EXPECT_EQ(shown_text(events.latest.name), "ＭＸ");
    EXPECT_EQ(shown_text(events.latest.text), "Ｔ");  // no text in the following event
    EXPECT_EQ(shown_text(events.changed_name), "ＭＸ");
    EXPECT_TRUE(events.changed_name.text_changed);
    EXPECT_TRUE(events.changed_text.text.empty());

    // The next present section only rewrites the latest slot.
    ASSERT_TRUE(
        feed_eit(context, section_stream(eit_with(1, 21, 0, kNameNhk, kText, 0), 0x26, counter)));
    EXPECT_FALSE(events.shifted);
    EXPECT_EQ(events.latest.start_seconds, local_seconds(2015, 10, 21, 21, 0, 0));
    EXPECT_EQ(shown_text(events.preceding.name), "ＮＨＫ");
    EXPECT_EQ(shown_text(events.changed_name), "ＭＸ");
}

TEST(EitParse, UndefinedTimesGiveZeroAndNeverShift)
{
    StreamContext context;
    uint8_t counter = 0;
    ASSERT_TRUE(
        feed_eit(context, section_stream(eit_with(1, 21, 0, kNameNhk, {}, 0), 0x12, counter)));
    Bytes undefined = test::eit_section(
        0x5C38, test::eit_event(3, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
                                test::short_event_descriptor(kNameMx, {})));
    ASSERT_TRUE(feed_eit(context, section_stream(undefined, 0x12, counter)));
    EXPECT_FALSE(context.events.shifted);
    EXPECT_EQ(context.events.latest.start_seconds, 0);
    EXPECT_EQ(context.events.latest.duration.hours, 0);
    EXPECT_EQ(context.events.latest.duration.minutes, 0);
    EXPECT_EQ(shown_text(context.events.latest.name), "ＭＸ");
    EXPECT_EQ(context.events.preceding.start_seconds, 0);
}

TEST(EitParse, BrokenLengthsAndForeignTablesLeaveTheSlotsAlone)
{
    StreamContext context;
    uint8_t counter = 0;
    ASSERT_TRUE(
        feed_eit(context, section_stream(eit_with(1, 21, 0, kNameNhk, {}, 0), 0x12, counter)));
    int64_t start = context.events.latest.start_seconds;

    // event_name_length past the descriptor: neither name nor text is taken.
    Bytes descriptor = test::short_event_descriptor(kNameMx, {0x23, 0x54});
    descriptor[2 + 3] = 0x30;
    Bytes section =
        test::eit_section(0x5C38, test::eit_event(2, test::mjd_time(2015, 10, 21, 22, 0, 0),
                                                  test::bcd_duration(1, 0, 0), descriptor));
    ASSERT_TRUE(feed_eit(context, section_stream(section, 0x12, counter)));
    EXPECT_TRUE(context.events.shifted);
    EXPECT_EQ(shown_text(context.events.latest.name), "ＮＨＫ");
    EXPECT_TRUE(context.events.latest.text.text.empty());

    // descriptors_loop_length past the CRC_32: the event is not taken.
    Bytes overrun =
        test::eit_section(0x5C38, test::eit_event(4, test::mjd_time(2015, 10, 21, 23, 0, 0),
                                                  test::bcd_duration(1, 0, 0), {}));
    overrun[14 + 10] = 0x80;
    overrun[14 + 11] = 0x10;
    test::put_crc(overrun);
    int64_t latest = context.events.latest.start_seconds;
    EXPECT_TRUE(feed_eit(context, section_stream(overrun, 0x12, counter)));
    EXPECT_EQ(context.events.latest.start_seconds, latest);
    EXPECT_GT(latest, start);

    // EIT schedule (0x50) and other PIDs are not taken.
    Bytes schedule = eit_with(5, 23, 30, kNameMx, {}, 0);
    schedule[0] = 0x50;
    test::put_crc(schedule);
    EXPECT_FALSE(feed_eit(context, section_stream(schedule, 0x12, counter)));
    uint8_t other_counter = 0;
    EXPECT_FALSE(feed_eit(
        context, section_stream(eit_with(5, 23, 30, kNameMx, {}, 0), 0x11, other_counter)));
    EXPECT_EQ(context.events.latest.start_seconds, latest);
}

TEST(EitParse, CopyHoldsTheWholeSectionWithChangeTracking)
{
    StreamContext context;
    uint8_t counter = 0;
    ByteBuffer copy;
    Bytes section = eit_with(1, 21, 0, kNameNhk, {}, 0);
    Bytes stream = section_stream(section, 0x12, counter);
    ASSERT_TRUE(feed_eit(context, stream, &copy));
    ASSERT_EQ(copy.data.size(), 5 + section.size());
    EXPECT_TRUE(std::equal(section.begin(), section.end(), copy.data.begin() + 5));
    EXPECT_TRUE(copy.changed);
    copy.changed = false;
    ASSERT_TRUE(feed_eit(context, section_stream(section, 0x12, counter), &copy));
    EXPECT_TRUE(copy.changed);  // the TS header carries a new continuity counter
}

}  // namespace
}  // namespace qv
