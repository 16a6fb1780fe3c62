#include "support/test_data.h"

#include <atomic>
#include <fstream>
#include <iterator>

#include "platform/console.h"
#include "platform/environment.h"

namespace qv::test {

std::string testdata_dir() { return QV_TEST_DATA; }

std::string source_dir() { return QV_SOURCE_DIR; }

std::string executable_path() { return QV_EXECUTABLE; }

std::string unique_temp_path(const std::string& stem, const std::string& extension)
{
    static std::atomic<unsigned> serial{0};
    return platform::temp_directory() + stem + "_" + std::to_string(platform::process_id()) + "_" +
           std::to_string(serial++) + extension;
}

std::vector<uint8_t> read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace qv::test
