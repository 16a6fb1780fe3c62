#include "support/test_data.h"

#include <fstream>
#include <iterator>

namespace qv::test {

std::string shared_testdata_dir() { return QV_SHARED_TESTDATA; }

std::string source_dir() { return QV_SOURCE_DIR; }

std::string executable_path() { return QV_EXECUTABLE; }

std::vector<uint8_t> read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace qv::test
