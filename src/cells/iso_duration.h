// ISO 8601 durations, as some writers store time spans in date cells.
#pragma once

#include <cstdint>
#include <string_view>

namespace tabulon {

// The elapsed time of an ISO 8601 duration ("PT24H0M0.000S", "P1DT2H",
// "-PT0.5S") in microseconds, rounded to the nearest: weeks, days, hours,
// minutes and seconds, each at most once and in that order, the last
// written one may have a fraction. Years and months, which have no fixed
// length, are refused. False for text that is no such duration or whose
// length does not fit 64 bits of microseconds.
bool isoDurationToMicros(std::string_view text, std::int64_t& micros);

}  // namespace tabulon
