#include "app/usage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace qv {
namespace {

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(UsageText, ProgramNameFillsTheFourPlacesAndNothingElseChanges)
{
    std::string text = usage_text("quilvaren");
    auto lines = lines_of(text);
    ASSERT_EQ(lines.size(), 27u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(lines[0], "引数");
    EXPECT_EQ(lines[1].rfind("　quilvaren.exe[ -mode extract|merge|disaply|filter]", 0), 0u);
    EXPECT_EQ(lines[10], "　-cappath 字幕tsファイルパス　(省略時 参照tsファイルパス＋'.quilvaren'＋拡張子)");
    EXPECT_EQ(lines[11],
              "　-mergepath 字幕追加tsファイルパス　(省略時 参照tsファイルパス＋'.quilvarenMerge'＋拡張子)");
    EXPECT_EQ(lines[13],
              "　-filterpath 字幕除去tsファイルパス　(省略時 参照tsファイルパス＋'.quilvarenfilter'＋拡張子)");
    EXPECT_EQ(text.find("%s"), std::string::npos);
}

TEST(UsageText, ModeLinesKeepTheirTabsAndTheOldSpelling)
{
    auto lines = lines_of(usage_text("q"));
    EXPECT_EQ(lines[4], "　-mode　(省略時 display)");
    EXPECT_EQ(lines[7], "　　disaply\t参照tsファイルの字幕関連情報を表示する");
    for (int i = 5; i <= 8; ++i) {
        EXPECT_EQ(lines[i].rfind("　　", 0), 0u) << i;  // two U+3000
        EXPECT_NE(lines[i].find('\t'), std::string::npos) << i;
    }
    EXPECT_EQ(lines[26], "　　開始前にキー入力待ちする");
}

TEST(ContactBlock, ShowsBothVersionStrings)
{
    std::string block = contact_block();
    ASSERT_FALSE(block.empty());
    auto lines = lines_of(block);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "連絡先他");
    EXPECT_EQ(lines[1].rfind("　", 0), 0u);
    EXPECT_EQ(lines[2].rfind("　", 0), 0u);
}

}  // namespace
}  // namespace qv
