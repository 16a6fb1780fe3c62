// Running the built program from a test on Windows: CreateProcessA with the standard handles
// redirected to files.
#include "support/run_program.h"

#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>

namespace qv::test {
namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Quotes one argument so that the C runtime of the child splits it back unchanged: backslashes
// are literal except before a quote, where they and the quote are escaped.
void append_quoted(std::string& line, const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            line.append(backslashes * 2 + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

HANDLE open_inheritable(const std::string& path, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int expected_exit_status(long long count) { return static_cast<int>(count); }

std::string make_scratch_directory(const std::string& label)
{
    static std::atomic<unsigned> serial{0};
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(temp, length) + "qv_" + label + "_" +
                                 std::to_string(GetCurrentProcessId()) + "_" +
                                 std::to_string(serial++);
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            return path + "\\";
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}

ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory, const std::string& input_path)
{
    ProgramRun run;
    const std::string scratch = make_scratch_directory("run");
    const std::string out_path = scratch + "stdout";
    const std::string err_path = scratch + "stderr";
    std::string start_error;

    std::string command_line;
    append_quoted(command_line, program);
    for (const std::string& argument : arguments) {
        command_line += ' ';
        append_quoted(command_line, argument);
    }

    HANDLE input = open_inheritable(input_path.empty() ? "NUL" : input_path, GENERIC_READ,
                                    OPEN_EXISTING);
    HANDLE output = open_inheritable(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE error = open_inheritable(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
        error != INVALID_HANDLE_VALUE) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = error;
        PROCESS_INFORMATION process{};
        // A process that cannot be created never ran the program: that is tried again, a few
        // times, and the reason is kept for the test's failure message if it never starts.
        bool created = false;
        for (int attempt = 0; attempt < 3 && !created; ++attempt) {
            created = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                     0, nullptr, directory.empty() ? nullptr : directory.c_str(),
                                     &startup, &process) != FALSE;
            if (!created) {
                start_error += "CreateProcessA failed with error " +
                               std::to_string(GetLastError()) + "\n";
                Sleep(200);
            }
        }
        if (created) {
            WaitForSingleObject(process.hProcess, INFINITE);
            DWORD code = 0;
            if (GetExitCodeProcess(process.hProcess, &code)) {
                run.exit_code = static_cast<int>(code);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    for (HANDLE handle : {input, output, error}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    run.out = slurp(out_path);
    run.err = start_error + slurp(err_path);
    DeleteFileA(out_path.c_str());
    DeleteFileA(err_path.c_str());
    RemoveDirectoryA(scratch.c_str());
    return run;
}

}  // namespace qv::test
