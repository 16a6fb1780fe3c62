#include "app/process_environment.h"

#include <memory>

#include "base/console_output.h"
#include "app/find_files.h"
#include "base/path_parts.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"

namespace qv {
namespace {

std::string g_program_name;
std::string g_temp_dir;

void sweep_temporary_files()
{
    std::unique_ptr<CFindFileInfo> list;
    std::string pattern = std::string(kTempFilePrefix) + "????.tmp*";
    find_files(g_temp_dir.substr(0, g_temp_dir.size() - 1), pattern, list, false, false);
    for (CFindFileInfo* entry = list.get(); entry != nullptr; entry = entry->next.get()) {
        (void)platform::delete_file(entry->path);
    }
}

}  // namespace

const std::string& program_name() { return g_program_name; }

const std::string& temp_dir() { return g_temp_dir; }

void prepare_process()
{
    g_temp_dir = platform::temp_directory();
    if (g_temp_dir.empty() || !platform::is_path_separator(g_temp_dir.back())) {
        g_temp_dir += platform::path_separator();
    }
    g_program_name = split_path(platform::executable_path()).name;
}

void cleanup_process()
{
    stop_requested = 1;
    if (g_temp_dir.size() > 1) {
        sweep_temporary_files();
    }
}

}  // namespace qv
