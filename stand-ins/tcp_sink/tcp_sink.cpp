// tcp_sink: listens on a TCP port and counts (and can save) what it receives. A companion of the
// stand-in sender library for tests, benchmarks and users.
//
//   tcp_sink [--bind ADDRESS] [--port N] [--save FILE] [--slow MS] [--once]
//
// Prints "listening on PORT" when it is ready (port 0 takes a free one), serves one connection
// after the other, and at the end prints "received N bytes in C connections". It ends after the
// first connection with --once, else on Ctrl+C or SIGTERM. --slow MS waits MS milliseconds after
// each read of 64 KiB: a slow reader.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net.h"

namespace {

std::atomic<bool> g_stop{false};
standin::Socket g_listener = standin::kNoSocket;

extern "C" void on_signal(int)
{
    g_stop = true;
}

struct Options {
    std::string bind_address = "127.0.0.1";
    int port = 0;
    std::string save_path;
    int slow_ms = 0;
    bool once = false;
};

const char* const kUsage =
    "usage: tcp_sink [--bind ADDRESS] [--port N] [--save FILE] [--slow MS] [--once]\n"
    "  --bind ADDRESS  numeric address to listen on (default 127.0.0.1)\n"
    "  --port N        port to listen on; 0 (the default) takes a free one\n"
    "  --save FILE     write the bytes received to FILE (all connections, in order)\n"
    "  --slow MS       wait MS milliseconds after each read of 64 KiB\n"
    "  --once          end when the first connection ends\n";

bool parse_number(const char* text, int low, int high, int& value)
{
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool parse_options(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--once") {
            options.once = true;
        } else if (option == "--bind" && has_value) {
            options.bind_address = argv[++i];
        } else if (option == "--port" && has_value) {
            if (!parse_number(argv[++i], 0, 65535, options.port)) {
                std::fprintf(stderr, "tcp_sink: not a port: %s\n", argv[i]);
                return false;
            }
        } else if (option == "--save" && has_value) {
            options.save_path = argv[++i];
        } else if (option == "--slow" && has_value) {
            if (!parse_number(argv[++i], 0, 60000, options.slow_ms)) {
                std::fprintf(stderr, "tcp_sink: not a number of milliseconds: %s\n", argv[i]);
                return false;
            }
        } else {
            std::fprintf(stderr, "tcp_sink: unknown or incomplete option %s\n%s", option.c_str(),
                         kUsage);
            return false;
        }
    }
    return true;
}

/// Reads one connection to its end; false when saving failed.
bool drain_connection(standin::Socket connection, const Options& options, std::FILE* save,
                      uint64_t& total)
{
    std::vector<uint8_t> buffer(64 * 1024);
    while (!g_stop) {
        // Waiting with a time-out lets a signal end the run while the sender is quiet.
        std::vector<standin::Wait> waits(1);
        waits[0].socket = connection;
        waits[0].want_read = true;
        if (!standin::wait_sockets(waits, 200)) {
            break;
        }
        if (!waits[0].readable) {
            continue;
        }
        const long got = standin::receive_blocking(connection, buffer.data(), buffer.size());
        if (got <= 0) {
            break;
        }
        total += static_cast<uint64_t>(got);
        if (save != nullptr && std::fwrite(buffer.data(), 1, static_cast<size_t>(got), save) !=
                                   static_cast<size_t>(got)) {
            std::fprintf(stderr, "tcp_sink: cannot write %s\n", options.save_path.c_str());
            return false;
        }
        if (options.slow_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options.slow_ms));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options)) {
        return 2;
    }
    if (!standin::start_sockets()) {
        std::fprintf(stderr, "tcp_sink: sockets unavailable\n");
        return 1;
    }
    std::FILE* save = nullptr;
    if (!options.save_path.empty()) {
        save = std::fopen(options.save_path.c_str(), "wb");
        if (save == nullptr) {
            std::fprintf(stderr, "tcp_sink: cannot create %s\n", options.save_path.c_str());
            return 1;
        }
    }
    int port = 0;
    std::string error;
    g_listener = standin::listen_on(options.bind_address, options.port, port, error);
    if (g_listener == standin::kNoSocket) {
        std::fprintf(stderr, "tcp_sink: cannot listen on %s port %d: %s\n",
                     options.bind_address.c_str(), options.port, error.c_str());
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::printf("listening on %d\n", port);
    std::fflush(stdout);

    // The listener is watched with a time-out, so that a signal ends the wait for a connection.
    uint64_t total = 0;
    int connections = 0;
    bool ok = true;
    while (!g_stop && ok) {
        std::vector<standin::Wait> waits(1);
        waits[0].socket = g_listener;
        waits[0].want_read = true;
        if (!standin::wait_sockets(waits, 200)) {
            break;
        }
        if (!waits[0].readable) {
            continue;
        }
        standin::Socket connection = standin::accept_connection(g_listener);
        if (connection == standin::kNoSocket) {
            continue;
        }
        ++connections;
        ok = drain_connection(connection, options, save, total);
        standin::close_socket(connection);
        if (options.once) {
            break;
        }
    }
    standin::close_socket(g_listener);
    if (save != nullptr && std::fclose(save) != 0) {
        std::fprintf(stderr, "tcp_sink: cannot write %s\n", options.save_path.c_str());
        ok = false;
    }
    std::printf("received %llu bytes in %d connections\n", static_cast<unsigned long long>(total),
                connections);
    return ok ? 0 : 1;
}
