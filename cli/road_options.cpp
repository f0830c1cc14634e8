#include "cli/road_options.h"

#include "experiments/planning/road_text.h"
#include "experiments/records/numbers.h"
#include "sim/town.h"
#include "sim/town_text.h"

void add_road_options(CLI::App& app, RoadOptions& o) {
    o.capacityOption =
        app.add_option("--exit-capacity", o.exitCapacity,
                       "Every exit takes at most CAP cars a tick; the others wait on the road in "
                       "front of it (default: as the town file says, else any number)")
            ->type_name("CAP");
    const auto repeatable = [&](const char* name, std::vector<std::string>& into, const char* form,
                                const char* what) {
        return app.add_option(name, into, what)
            ->type_name(form)
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    };
    o.closeOption = repeatable("--close", o.closes, "X,Y[:X2,Y2]@TICK",
                               "After tick TICK (from the build on for 0) no car enters the "
                               "road cells of the cell or rectangle; cars on them drive off "
                               "(repeatable)");
    o.reopenOption = repeatable("--reopen", o.reopens, "X,Y[:X2,Y2]@TICK",
                                "After tick TICK the closed road cells take cars again "
                                "(repeatable)");
    o.contraflowOption =
        repeatable("--contraflow", o.contraflows, "X,Y:X2,Y2@TICK[:DIR]",
                   "After tick TICK (from the build on for 0) the road cells of the "
                   "rectangle are one-way away from the town's centre, or towards DIR: up, "
                   "down, left, right (repeatable)");
}

std::string apply_road_options(const CLI::App& app, const RoadOptions& o, const Town& town,
                               RoadPlan& plan) {
    plan = {};
    if (o.capacityOption->count() > 0) {
        std::int64_t cap = 0;
        if (const std::string why = parse_decimal(o.exitCapacity, INT64_MIN, INT64_MAX, cap);
            !why.empty())
            return "--exit-capacity: " + why;
        if (cap < 1 || cap > MAX_EXIT_CAPACITY)
            return "--exit-capacity: " + o.exitCapacity + " is not a capacity: an exit takes 1.." +
                   std::to_string(MAX_EXIT_CAPACITY) + " cars a tick";
        plan.exitCapacity = static_cast<std::int32_t>(cap);
    }
    std::size_t next[3] = {0, 0, 0};
    const struct {
        CLI::Option* option;
        const std::vector<std::string>* texts;
        RoadAction action;
    } kinds[3] = {{o.closeOption, &o.closes, RoadAction::Close},
                  {o.reopenOption, &o.reopens, RoadAction::Reopen},
                  {o.contraflowOption, &o.contraflows, RoadAction::Contraflow}};
    for (const CLI::Option* option : app.parse_order())
        for (int k = 0; k < 3; ++k) {
            if (option != kinds[k].option || next[k] >= kinds[k].texts->size()) continue;
            const std::string& text = (*kinds[k].texts)[next[k]++];
            const std::string name = road_option_name(kinds[k].action);
            RoadOperation op;
            if (const std::string why = parse_road_operation(kinds[k].action, text, op);
                !why.empty())
                return name + ": " + why;
            RoadPlan one;
            one.operations = {op};
            if (const std::string why = check_road_plan(town, one); !why.empty())
                return name + ": " + text + ": " + why.substr(why.find(": ") + 2);
            plan.operations.push_back(op);
        }
    return {};
}
