// Road operations as the command line and the files' headers write them:
//   X,Y@TICK  or  X,Y:X2,Y2@TICK         a cell or a rectangle (closures, reopenings)
//   X,Y:X2,Y2@TICK:DIR                   contraflow made one-way for DIR: up, down, left, right
// Coordinates are the town file's (x from the left, y from the bottom).
#pragma once

#include <string>
#include <string_view>

#include "sim/roads.h"

// The operation of `text`; the error text (empty on success) says what the
// form should be or which part is wrong. Only contraflow takes a direction.
std::string parse_road_operation(RoadAction action, std::string_view text, RoadOperation& op);

// The text parse_road_operation reads back to the same operation.
std::string road_operation_text(const RoadOperation& op);

// The option that gives an operation of this kind: "--close", "--reopen", "--contraflow".
const char* road_option_name(RoadAction action);

// The plan as command-line words: "--exit-capacity 2 --close 3,4@100 ...";
// empty for an empty plan.
std::string road_plan_words(const RoadPlan& plan);
