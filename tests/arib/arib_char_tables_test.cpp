#include "arib/arib_char_tables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace qv {
namespace {

TEST(JisToShiftJis, ArithmeticFormAgreesWithTheUsualMappingOverTheWholeGrid)
{
    for (int row = 0x21; row <= 0x7E; ++row) {
        for (int cell = 0x21; cell <= 0x7E; ++cell) {
            const int lead = (row + 1) / 2 + (row <= 0x5E ? 0x70 : 0xB0);
            int trail = cell + 0x7E;
            if (row % 2 == 1) {
                trail = cell + (cell <= 0x5F ? 0x1F : 0x20);
            }
            ASSERT_EQ(jis_to_shift_jis(static_cast<uint8_t>(row), static_cast<uint8_t>(cell)),
                      lead << 8 | trail)
                << std::hex << row << "/" << cell;
        }
    }
}

// The runs of the additional symbols and kanji, as published for the code charts (row: cells ->
// code points). Expanded here independently of the generator that wrote the table.
const std::map<int, std::string> kRuns = {
    {0x7A, "21-57:E0C9-E0FF, 58-7E:E180-E1A6"},
    {0x7B, "21-79:E1A7-E1FF, 7A-7E:E280-E284"},
    {0x7C,
     "21-2A:E285-E28E, 2B:33A1, 2C:33A5, 2D:339D, 2E:33A0, 2F:33A4, 30:E28F, "
     "31-39:2488-2490, 3A-49:E290-E29F, 4A:3233, 4B:3236, 4C:3232, 4D:3231, 4E:3239, "
     "4F:E2A0, 50:25B6, 51:25C0, 52-53:3016-3017, 54-75:E2A1-E2C2, 76-77:E3A7-E3A8, "
     "78-7E:E2C3-E2C9"},
    {0x7D,
     "21-27:322A-3230, 28:3237, 29:337E, 2A:337D, 2B:337C, 2C:337B, 2D-2E:E2CA-E2CB, "
     "2F:3036, 30-46:E2CC-E2E2, 47:2113, 48-49:338F-3390, 4A:33CA, 4B:339E, 4C:33A2, "
     "4D:3371, 4E-4F:E2E3-E2E4, 50:00BD, 51:E2E5, 52-53:2153-2154, 54:00BC, 55:00BE, "
     "56-5B:2155-215A, 5C:E2E6, 5D:215B, 5E-5F:E2E7-E2E8, 60-62:2600-2602, "
     "63-67:E2E9-E2ED, 68:2666, 69:2665, 6A:2663, 6B:2660, 6C-6D:E2EE-E2EF, 6E:203C, "
     "6F:2049, 70-79:E2F1-E2FA, 7A:266C, 7B-7E:E2FB-E2FE"},
    {0x7E,
     "21-2C:2160-216B, 2D-3C:2470-247F, 3D-40:3251-3254, 41-5A:E383-E39C, "
     "5B-60:3255-325A, 61-70:2460-246F, 71-7A:2776-277F, 7B-7C:24EB-24EC, 7D:325B, "
     "7E:E3A6"},
    {0x75,
     "21:3402, 22:E081, 23:4EFD, 24:4EFF, 25:4F9A, 26:4FC9, 27:509C, 28:511E, 29:51BC, "
     "2A:351F, 2B:5307, 2C:5361, 2D:536C, 2E:8A79, 2F:E084, 30:544D, 31:5496, 32:549C, "
     "33:54A9, 34:550E, 35:554A, 36:5672, 37:56E4, 38-39:5733-5734, 3A:FA10, 3B:5880, "
     "3C:59E4, 3D:5A23, 3E:5A55, 3F:5BEC, 40:FA11, 41:37E2, 42:5EAC, 43:5F34, 44:5F45, "
     "45:5FB7, 46:6017, 47:E087, 48:6130, 49:6624, 4A:66C8, 4B:66D9, 4C-4D:66FA-66FB, "
     "4E-4F:E088-E089, 50:6911, 51:693B, 52:6A45, 53:6A91, 54:6ADB, 55-57:E08A-E08C, "
     "58:6BF1, 59:6CE0, 5A:6D2E, 5B:FA45, 5C:6DBF, 5D:6DCA, 5E:6DF8, 5F:FA46, 60:6F5E, "
     "61:6FF9, 62:7064, 63-64:E08D-E08E, 65:7147, 66:71C1, 67:7200, 68:739F, 69:73A8, "
     "6A:73C9, 6B:73D6, 6C:741B, 6D:7421, 6E:FA4A, 6F:7426, 70:742A, 71:742C, 72:7439, "
     "73:744B, 74:3EDA, 75:7575, 76:7581, 77:7772, 78:4093, 79:78C8, 7A:78E0, 7B:7947, "
     "7C:79AE, 7D-7E:E091-E092"},
    {0x76,
     "21:E093, 22:79DA, 23:7A1E, 24:7B7F, 25:7C31, 26:4264, 27:7D8B, 28:7FA1, 29:8118, "
     "2A:813A, 2B:E095, 2C:82AE, 2D:845B, 2E:84DC, 2F:84EC, 30:8559, 31:85CE, 32:8755, "
     "33:87EC, 34:880B, 35:88F5, 36:89D2, 37:8AF6, 38:8DCE, 39:8FBB, 3A:8FF6, 3B:90DD, "
     "3C:9127, 3D:912D, 3E:91B2, 3F:9233, 40:9288, 41:9321, 42:9348, 43:9592, 44:96DE, "
     "45:9903, 46:9940, 47:9AD9, 48:9BD6, 49:9DD7, 4A-4B:9EB4-9EB5, 4C-7E:E096-E0C8"},
};

int hex(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
}

TEST(AdditionalSymbols, TableMatchesTheRunsCellByCell)
{
    int checked = 0;
    for (const auto& [row, runs] : kRuns) {
        std::stringstream list(runs);
        std::string run;
        int next_cell = 0x21;
        while (std::getline(list, run, ',')) {
            const size_t colon = run.find(':');
            const std::string cells = run.substr(0, colon);
            const std::string codes = run.substr(colon + 1);
            const size_t cell_dash = cells.find('-');
            const int first = hex(cells.substr(0, cell_dash));
            const int last =
                cell_dash == std::string::npos ? first : hex(cells.substr(cell_dash + 1));
            const int code = hex(codes.substr(0, codes.find('-')));
            ASSERT_EQ(first, next_cell) << "runs of row " << std::hex << row << " leave a gap";
            for (int cell = first; cell <= last; ++cell, ++checked) {
                EXPECT_EQ(
                    find_additional_symbol(static_cast<uint8_t>(row), static_cast<uint8_t>(cell)),
                    code + (cell - first))
                    << std::hex << row << "/" << cell;
            }
            next_cell = last + 1;
        }
        EXPECT_EQ(next_cell, 0x7F) << std::hex << row;
    }
    EXPECT_EQ(checked, 658);
}

TEST(AdditionalSymbols, RowsOutsideTheTableAndCellsOutsideTheRowHaveNoEntry)
{
    for (uint8_t row : {0x21, 0x74, 0x77, 0x78, 0x79, 0x7F}) {
        EXPECT_EQ(find_additional_symbol(row, 0x21), 0) << int(row);
    }
    EXPECT_EQ(find_additional_symbol(0x7A, 0x20), 0);
    EXPECT_EQ(find_additional_symbol(0x7A, 0x7F), 0);
}

}  // namespace
}  // namespace qv
