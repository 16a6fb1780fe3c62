#include "app/usage.h"

#include <array>
#include <string_view>

#include "platform/environment.h"

namespace qv {
namespace {

// Kept exactly as users have always seen it, "disaply" included. "%s" stands for the program
// name ('%' is never a Shift_JIS trail byte, so the search is safe in CP932 builds too).
constexpr std::array<std::string_view, 27> kUsageLines = {
    "引数\n",
    "　%s.exe[ -mode extract|merge|disaply|filter][ -srcpath] 参照tsファイルパス[ -cappath "
    "字幕tsファイルパス][ -mergepath 字幕追加tsファイルパス][ -log][ -logpath ログファイルパス ][ "
    "-capstr][ -detail][ -pause]\n",
    "説明\n",
    "　字幕関連パケットをtsファイルから抽出／tsファイルにマージする\n",
    "　-mode　(省略時 display)\n",
    "　　extract\t参照tsファイルから字幕関連パケットを字幕tsファイルに抽出する\n",
    "　　merge\t参照tsファイルに字幕tsファイルを追加して字幕追加tsファイルにマージする\n",
    "　　disaply\t参照tsファイルの字幕関連情報を表示する\n",
    "　　filter\t参照tsファイルの字幕関連パケットを取り除く\n",
    "　-srcpath 参照tsファイルパス\n",
    "　-cappath 字幕tsファイルパス　(省略時 参照tsファイルパス＋'.%s'＋拡張子)\n",
    "　-mergepath 字幕追加tsファイルパス　(省略時 参照tsファイルパス＋'.%sMerge'＋拡張子)\n",
    "　　-mode mergeのみ有効です\n",
    "　-filterpath 字幕除去tsファイルパス　(省略時 参照tsファイルパス＋'.%sfilter'＋拡張子)\n",
    "　　-mode filterのみ有効です\n",
    "　-log\n",
    "　　ログ出力する\n",
    "　-logpath ログファイルパス\n",
    "　　ログファイルパスを指定する\n",
    "　　-log時のみ有効です\n",
    "　　ログファイルにtsファイル指定したらログ出力は無効です\n",
    "　-capstr\n",
    "　　字幕を文字列が存在するかで判断する\n",
    "　-detail\n",
    "　　詳細出力する\n",
    "　-pause\n",
    "　　開始前にキー入力待ちする\n",
};

}  // namespace

std::string usage_text(const std::string& program)
{
    std::string text;
    for (std::string_view line : kUsageLines) {
        size_t at = 0;
        for (size_t mark = line.find("%s"); mark != std::string_view::npos;
             mark = line.find("%s", at)) {
            text.append(line.substr(at, mark - at));
            text += program;
            at = mark + 2;
        }
        text.append(line.substr(at));
    }
    return text;
}

std::string contact_block()
{
    std::string company;
    std::string comments;
    bool has_company = platform::read_version_string("CompanyName", company);
    bool has_comments = platform::read_version_string("Comments", comments);
    if (!has_company && !has_comments) {
        return {};
    }
    std::string block = "連絡先他\n";
    if (has_company) {
        block += "　" + company + "\n";
    }
    if (has_comments) {
        block += "　" + comments + "\n";
    }
    return block;
}

}  // namespace qv
