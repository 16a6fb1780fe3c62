// Files on Windows: named pipes, sharing modes, the 259-character limit, CP932 names and the
// standard handles.
#include "platform/file.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::read_to_end;
using test::ScratchDirectory;
using test::write_new_file;

std::string unique_pipe_name(const char* what)
{
    return "qv_test_" + std::to_string(process_id()) + "_" + what;
}

// The writing end of a named pipe, as a recorder or tuner front end would offer it.
HANDLE create_pipe_server(const std::string& path)
{
    return CreateNamedPipeA(path.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                            4096, 0, nullptr);
}

TEST(Win32NamedPipe, IsReadUntilTheWriterClosesWhichEndsInputAsBrokenPipe)
{
    const std::string path = named_pipe_path(unique_pipe_name("feed"));
    EXPECT_EQ(path.rfind("\\\\.\\pipe\\", 0), 0u);
    EXPECT_EQ(path_kind(path), PathKind::missing);  // no server yet

    HANDLE server = create_pipe_server(path);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(path_kind(path), PathKind::pipe_or_device);

    std::thread writer([server] {
        ConnectNamedPipe(server, nullptr);
        DWORD done = 0;
        WriteFile(server, "\x47packet", 7, &done, nullptr);
        FlushFileBuffers(server);
        CloseHandle(server);
    });
    NativeHandle reader = open_for_reading(path);
    ASSERT_NE(reader, kClosedHandle) << error_text(last_error());
    EXPECT_TRUE(is_pipe_or_device(reader));

    std::string all;
    char chunk[64];
    size_t got = 0;
    IoStatus status = IoStatus::ok;
    while ((status = read_file(reader, chunk, sizeof chunk, got)) == IoStatus::ok && got > 0) {
        all.append(chunk, got);
    }
    writer.join();
    EXPECT_EQ(status, IoStatus::broken_pipe);
    EXPECT_EQ(all, "\x47packet");
    close_handle(reader);
}

TEST(Win32NamedPipe, PrefixIsRecognisedWhateverItsCase)
{
    const std::string name = unique_pipe_name("Case");
    HANDLE server = create_pipe_server(named_pipe_path(name));
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(path_kind("\\\\.\\PIPE\\" + name), PathKind::pipe_or_device);
    CloseHandle(server);
}

TEST(Win32Sharing, OutputsCanBeReadWhileWrittenButTheLogIsExclusive)
{
    ScratchDirectory scratch;
    const std::string output = scratch.file("out.ts");
    NativeHandle writer = create_for_writing(output);
    ASSERT_NE(writer, kClosedHandle);
    size_t written = 0;
    ASSERT_TRUE(write_file(writer, "abc", 3, written));
    NativeHandle reader = open_for_reading(output);
    EXPECT_NE(reader, kClosedHandle) << "a growing output must stay readable by others";
    EXPECT_EQ(read_to_end(reader), "abc");
    close_handle(reader);
    close_handle(writer);

    const std::string log = scratch.file("run.log");
    NativeHandle log_handle = open_for_appending(log);
    ASSERT_NE(log_handle, kClosedHandle);
    NativeHandle second = open_for_appending(log);
    EXPECT_EQ(second, kClosedHandle);
    EXPECT_EQ(last_error(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(open_for_reading(log), kClosedHandle);
    close_handle(log_handle);
    second = open_for_appending(log);
    EXPECT_NE(second, kClosedHandle);
    close_handle(second);
}

TEST(Win32PathLimit, TwoHundredFiftyNineCharactersWorkAndOneMoreIsRefusedWithItsReason)
{
    ScratchDirectory scratch;
    ASSERT_EQ(max_path_length(), 259u);
    // Fill a nested directory and a file name up to exactly the limit.
    std::string dir = scratch.dir() + "\\" + std::string(100, 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_LT(dir.size() + 2, 259u);
    const std::string longest = dir + "\\" + std::string(259 - dir.size() - 1, 'f');
    ASSERT_EQ(longest.size(), 259u);
    ASSERT_TRUE(write_new_file(longest, "x"));
    EXPECT_EQ(path_kind(longest), PathKind::regular);

    const std::string too_long = longest + "g";
    for (NativeHandle handle : {open_for_reading(too_long), create_for_writing(too_long),
                                open_for_appending(too_long)}) {
        EXPECT_EQ(handle, kClosedHandle);
        EXPECT_EQ(last_error(), ERROR_FILENAME_EXCED_RANGE);
    }
    EXPECT_FALSE(error_text(ERROR_FILENAME_EXCED_RANGE).empty());
    EXPECT_EQ(path_kind(too_long), PathKind::missing);
    EXPECT_FALSE(delete_file(too_long));
    EXPECT_TRUE(delete_file(longest));
}

TEST(Win32Cp932Paths, NamesWithABackslashTrailByteAreFilesNotDirectories)
{
    ScratchDirectory scratch;
    // "表" and "ソ" are 0x95 0x5C and 0x83 0x5C in CP932: their trail byte is '\'.
    const std::string name = "表示ソース.ts";
    ASSERT_EQ(name[1], '\\');
    const std::string path = scratch.dir() + "\\" + name;
    ASSERT_TRUE(write_new_file(path, "caption"));
    EXPECT_EQ(path_kind(path), PathKind::regular);
    EXPECT_TRUE(same_file(path, scratch.dir() + "/" + name));

    std::string found;
    EXPECT_TRUE(find_in_directory(scratch.dir(), "表*.ts", [&found](const DirectoryEntry& entry) {
        found += entry.name + ";";
    }));
    EXPECT_EQ(found, name + ";");
    NativeHandle reader = open_for_reading(path);
    EXPECT_EQ(read_to_end(reader), "caption");
    close_handle(reader);
}

TEST(Win32StandardHandles, SurviveCloseAndAMissingStreamIsClosed)
{
    NativeHandle output = standard_output();
    ASSERT_NE(output, kClosedHandle);
    close_handle(output);
    EXPECT_EQ(output, kClosedHandle);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), &flags))
        << "closing \"CON\" must not close the process's standard output";

    HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    EXPECT_EQ(standard_input(), kClosedHandle);
    SetStdHandle(STD_INPUT_HANDLE, saved);
}

}  // namespace
}  // namespace qv::platform
