// Evacuation orders as the command line and the files' headers write them:
//   ZONE@TICK    the zone's name (the town's one zone is "town"), and the tick
//   ZONE@6h      in hours, on a town with minutes_per_tick: the nearest tick
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/orders.h"

struct Town;

// The order of `text` on the town; the error text (empty on success) says what
// the form should be, or names the zone the town has not and the zones it has.
std::string parse_order(std::string_view text, const Town& town, EvacuationOrder& order);

// The tick of "TICK" or "Nh" (hours: the nearest tick of the town's
// minutes_per_tick), 0..2^24; the error text (empty on success) says why not.
std::string parse_tick_or_hours(std::string_view when, const Town& town, std::int64_t& tick);

// The text parse_order reads back to the same order.
std::string order_text(const Town& town, const EvacuationOrder& order);

// The orders as command-line words: "--order A@100 --order B@400"; empty for none.
std::string order_words(const Town& town, const std::vector<EvacuationOrder>& orders);
