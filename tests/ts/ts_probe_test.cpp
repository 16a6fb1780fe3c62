#include "ts/ts_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "support/test_data.h"
#include "support/ts_builders.h"

namespace qv {
namespace {

using test::Bytes;

class TsProbe : public ::testing::Test {
protected:
    void TearDown() override { (void)platform::delete_file(path_); }
    const std::string& write_file(const Bytes& bytes)
    {
        path_ = test::unique_temp_path("qv_probe_test", ".ts");
        platform::NativeHandle handle = platform::create_for_writing(path_);
        size_t written = 0;
        EXPECT_TRUE(platform::write_file(handle, bytes.data(), bytes.size(), written));
        platform::close_handle(handle);
        return path_;
    }
    std::string path_;
};

TEST_F(TsProbe, NeedsMoreThan384Bytes)
{
    Bytes bytes(384, 0x00);
    bytes[0] = 0x47;
    bytes[188] = 0x47;
    EXPECT_FALSE(probe_ts_file(write_file(bytes)));
    bytes.push_back(0x00);
    EXPECT_TRUE(probe_ts_file(write_file(bytes)));
}

TEST_F(TsProbe, ResultAndPositionAfterTheFirstPacket)
{
    struct Case {
        const char* name;
        Bytes bytes;
        uint8_t result;
        int64_t position;
    };
    const Bytes packets = test::numbered_packets(0x100, 4);
    const Bytes units = test::concat({test::with_prefix(Bytes(packets.begin(), packets.begin() + 188)),
                                      test::with_prefix(Bytes(packets.begin() + 188, packets.begin() + 376)),
                                      test::with_prefix(Bytes(packets.begin() + 376, packets.end()))});
    Bytes text(1000, 'a');
    text[192] = 0x47;  // one 0x47 in a text file, 192 bytes in
    const Case cases[] = {
        {"188-byte packets", packets, 188, 188},
        {"garbage before the packets", test::concat({Bytes(10, 0x00), packets}), 188, 198},
        {"192-byte units", units, 192, 4 + 192},
        {"a lone 0x47 is no stream", text, 0, 0},
        {"nothing", Bytes(1000, 0x00), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::NativeHandle handle = platform::open_for_reading(write_file(c.bytes));
        ASSERT_NE(handle, platform::kClosedHandle);
        EXPECT_EQ(probe_ts_handle(handle, 0, platform::SeekOrigin::begin), c.result);
        if (c.result != 0) {
            int64_t position = -1;
            ASSERT_TRUE(platform::seek_file(handle, 0, platform::SeekOrigin::current, position));
            EXPECT_EQ(position, c.position);
        }
        platform::close_handle(handle);
    }
}

TEST_F(TsProbe, OffsetMustLeaveMoreThan384Bytes)
{
    const Bytes packets = test::numbered_packets(0x100, 5);  // 940 bytes
    platform::NativeHandle handle = platform::open_for_reading(write_file(packets));
    EXPECT_EQ(probe_ts_handle(handle, 376, platform::SeekOrigin::begin), 188);
    EXPECT_EQ(probe_ts_handle(handle, 556, platform::SeekOrigin::begin), 0);  // 384 left
    EXPECT_EQ(probe_ts_handle(handle, -564, platform::SeekOrigin::end), 188);
    EXPECT_EQ(probe_ts_handle(handle, 2000, platform::SeekOrigin::begin), 0);
    platform::close_handle(handle);
}

TEST_F(TsProbe, MissingFileIsNoStream)
{
    EXPECT_FALSE(probe_ts_file(platform::temp_directory() + "qv_probe_test_missing.ts"));
}

}  // namespace
}  // namespace qv
