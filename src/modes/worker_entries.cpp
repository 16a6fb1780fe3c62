#include "modes/worker_entries.h"

#include "modes/convert_worker.h"
#include "modes/extract_worker.h"
#include "modes/merge_worker.h"
#include "modes/through_worker.h"
#include "modes/display_worker.h"
#include "modes/filter_worker.h"

namespace qv {

int32_t worker_starts(RunMode mode, WorkerStart (&starts)[2])
{
    switch (mode) {
    case RunMode::extract:
        starts[0] = {run_extract_worker, 0};
        return 1;
    case RunMode::merge:
        starts[0] = {run_merge_main_worker, 0};
        starts[1] = {run_merge_caption_worker, 1};
        return 2;
    case RunMode::display:
        starts[0] = {run_display_worker, 2};
        return 1;
    case RunMode::through:
        starts[0] = {run_through_worker, 3};
        return 1;
    case RunMode::filter:
        starts[0] = {run_filter_worker, 4};
        return 1;
    case RunMode::convert:
        starts[0] = {run_convert_worker, 5};
        return 1;
    }
    return 0;
}

}  // namespace qv
