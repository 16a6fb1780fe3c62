// Files on POSIX: FIFOs, symbolic links, the standard descriptors and the creation mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/scratch_directory.h"

namespace qv::platform {
namespace {

using test::read_to_end;
using test::ScratchDirectory;
using test::write_new_file;

TEST(PosixFifo, IsAPipeAndIsReadUntilTheWriterCloses)
{
    ScratchDirectory scratch;
    const std::string fifo = scratch.file("feed");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(path_kind(fifo), PathKind::pipe_or_device);

    std::thread writer([&fifo] {
        NativeHandle out = create_for_writing(fifo);  // opens once the reader is there
        size_t written = 0;
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(write_file(out, "chunk-", 6, written));
        }
        close_handle(out);
    });
    NativeHandle in = open_for_reading(fifo);
    ASSERT_NE(in, kClosedHandle);
    EXPECT_TRUE(is_pipe_or_device(in));
    EXPECT_EQ(read_to_end(in), "chunk-chunk-chunk-");
    close_handle(in);
    writer.join();
}

TEST(PosixFifo, AppendingOpensOnlyWithAReaderAndNeverWaitsForOne)
{
    // The log may be a FIFO: without a reader its open must fail at once (a wait there could
    // not be ended by a stop request); with one, the text arrives although a pipe has no end
    // to move to.
    ScratchDirectory scratch;
    const std::string fifo = scratch.file("log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(open_for_appending(fifo), kClosedHandle);

    NativeHandle in = open_for_reading(fifo);
    ASSERT_NE(in, kClosedHandle);
    NativeHandle out = open_for_appending(fifo);
    ASSERT_NE(out, kClosedHandle);
    size_t written = 0;
    EXPECT_TRUE(write_file(out, "line\r\n", 6, written));
    close_handle(out);
    EXPECT_EQ(read_to_end(in), "line\r\n");
    close_handle(in);
}

TEST(PosixFileCreation, AppendingHandlesNeverOverwriteEachOther)
{
    // Two runs logging to one file: each write lands at the end as it is then.
    ScratchDirectory scratch;
    const std::string path = scratch.file("shared.log");
    NativeHandle first = open_for_appending(path);
    NativeHandle second = open_for_appending(path);
    size_t written = 0;
    EXPECT_TRUE(write_file(first, "one\r\n", 5, written));
    EXPECT_TRUE(write_file(second, "two\r\n", 5, written));
    EXPECT_TRUE(write_file(first, "three\r\n", 7, written));
    close_handle(first);
    close_handle(second);
    NativeHandle in = open_for_reading(path);
    EXPECT_EQ(read_to_end(in), "one\r\ntwo\r\nthree\r\n");
    close_handle(in);
}

TEST(PosixFifo, WriteToAClosedReaderFailsInsteadOfEndingTheProcess)
{
    install_console_handler([](ConsoleEvent) { return true; });  // also ignores SIGPIPE
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    size_t written = 99;
    EXPECT_FALSE(write_file(ends[1], "lost", 4, written));
    EXPECT_EQ(last_error(), EPIPE);
    EXPECT_EQ(written, 0u);
    ::close(ends[1]);
}

TEST(PosixFifo, AFullNonBlockingPipeDelaysTheWriteButLosesNothing)
{
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);  // as another process may leave a shared stdout
    const std::string bytes(300000, 'p');   // several times what a pipe holds
    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        received = read_to_end(ends[0]);
    });
    size_t written = 0;
    EXPECT_TRUE(write_file(ends[1], bytes.data(), bytes.size(), written));
    EXPECT_EQ(written, bytes.size());
    ::close(ends[1]);
    reader.join();
    EXPECT_EQ(received, bytes);
    ::close(ends[0]);
}

TEST(PosixPaths, SymlinkIsTheSameFileAndNamedPipesLiveInTheTempDirectory)
{
    ScratchDirectory scratch;
    const std::string target = scratch.file("target.ts");
    ASSERT_TRUE(write_new_file(target, "x"));
    std::filesystem::create_symlink(target, scratch.file("alias.ts"));
    EXPECT_TRUE(same_file(scratch.file("alias.ts"), target));
    std::filesystem::create_symlink(scratch.file("gone"), scratch.file("dangling"));
    EXPECT_FALSE(same_file(scratch.file("dangling"), scratch.file("dangling")));

    EXPECT_EQ(path_kind("/dev/null"), PathKind::pipe_or_device);
    EXPECT_EQ(named_pipe_path("capture"), temp_directory() + "capture");
}

TEST(PosixHandles, StandardDescriptorsSurviveCloseAndNewFilesGetTheUmaskedMode)
{
    NativeHandle out = standard_output();
    EXPECT_EQ(out, STDOUT_FILENO);
    EXPECT_EQ(standard_input(), STDIN_FILENO);
    close_handle(out);  // a worker done with "CON" must not take the console from the process
    EXPECT_EQ(out, kClosedHandle);
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);

    ScratchDirectory scratch;
    const mode_t previous = ::umask(027);
    ASSERT_TRUE(write_new_file(scratch.file("masked"), ""));
    ::umask(previous);
    struct stat st {};
    ASSERT_EQ(::stat(scratch.file("masked").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    NativeHandle handle = open_for_reading(scratch.file("masked"));
    EXPECT_NE(::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);  // not inherited
    close_handle(handle);
}

}  // namespace
}  // namespace qv::platform
