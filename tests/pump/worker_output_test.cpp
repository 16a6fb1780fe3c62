// The output of a worker: a write whose bytes lay in the source's view of a file that another
// program cut shorter is the source's failed read, not the output's failed write.
#include "pump/worker_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/console_output.h"
#include "platform/file.h"
#include "platform/file_view.h"
#include "support/stream_builder.h"
#include "support/test_data.h"
#include "support/ts_builders.h"

namespace qv {
namespace {

using test::Bytes;

TEST(WorkerOutput, PacketsWrittenFromAViewThatLostItsPagesAreTheSourcesFailedRead)
{
    const size_t page = platform::file_view_alignment();
    if (page == 0) {
        GTEST_SKIP() << "this system maps no views of files";
    }
    const std::string source = test::unique_temp_path("qv_output_source", ".ts");
    const std::string output = test::unique_temp_path("qv_output_out", ".ts");
    Bytes stream;
    for (size_t i = 0; i < 400; ++i) {  // more than the shortest run written from where it lies
        const Bytes packet = test::make_packet(0x100, static_cast<uint8_t>(i & 0x0F));
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    ASSERT_TRUE(test::write_file_bytes(source, stream));
    platform::NativeHandle handle = platform::open_for_reading(source);
    platform::FileView view;
    ASSERT_TRUE(platform::map_file_view(handle, 0, stream.size(), view));

    WorkerSlot slot;
    slot.source = source + ";0";
    slot.output = output;
    WorkerOutput out;
    open_worker_output(slot, out, false);
    ASSERT_TRUE(worker_output_usable(out));
    for (size_t i = 0; i < stream.size() / kPacketSize; ++i) {
        write_packet_in_place(*out.writer, view.data + i * kPacketSize);  // not read yet
    }
    // The pages behind the first one leave the view before the run goes out.
    std::filesystem::resize_file(source, page);
    settle_packets(*out.writer);

    const uint32_t flags = console_flags.load();
    console_flags = kConsoleTextOn | kNoProgress;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(check_worker_output(slot, out));
    EXPECT_FALSE(check_worker_output(slot, out));  // said once
    close_worker_output(slot, out);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "－ 入力ファイルから読み込めません " + source + "\n");
    console_flags = flags;

    // What went out before the lost pages is the source's own bytes.
    const Bytes written = test::read_whole_file(output);
    EXPECT_LE(written.size(), page);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), stream.begin()));
    platform::unmap_file_view(view);
    platform::close_handle(handle);
    (void)platform::delete_file(source);
    (void)platform::delete_file(output);
}

}  // namespace
}  // namespace qv
