#pragma once
// The prediction of the wall-clock instant at which the stream's 33-bit PCR next wraps
// around, renewed by each broadcast time the TOT handler takes.
#include <cstdint>

#include "ts/stream_context.h"

namespace qv {

/// Clears a prediction whose instant has passed by `current_seconds` (seconds since 1970, UTC),
/// then, without a prediction and with a started preferred clock, predicts the wrap-around from
/// the clock's present value and marks it for reporting.
void update_wraparound_prediction(StreamContext& context, int64_t current_seconds);

}  // namespace qv
