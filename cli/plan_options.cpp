#include "cli/plan_options.h"

#include "experiments/planning/parameter_text.h"
#include "experiments/records/provenance.h"
#include "sim/town.h"
#include "sim/town_text.h"

void add_plan_options(CLI::App& app, PlanOptions& o, bool many) {
    CLI::Option* plan =
        app.add_option("--plan", o.plan,
                       "Run the plan in FILE: its zones, orders, closures, reopenings, contraflows "
                       "and exit capacity (see docs/plans.md)")
            ->type_name("FILE");
    std::vector<CLI::Option*> held;
    for (const char* name :
         {"--zones", "--order", "--close", "--reopen", "--contraflow", "--exit-capacity"})
        if (CLI::Option* option = app.get_option_no_throw(name)) held.push_back(option);
    for (CLI::Option* option : held) plan->excludes(option);
    if (!many) return;
    CLI::Option* plans =
        app.add_option("--plans", o.plans,
                       "Run every scenario and error level under each of these plan files "
                       "(comma-separated, two or more) and compare them with the first on the "
                       "same scenarios")
            ->type_name("A.plan,B.plan,...");
    plans->excludes(plan);
    for (CLI::Option* option : held) plans->excludes(option);
}

std::string read_plan_options(const PlanOptions& o, const std::shared_ptr<const Town>& town,
                              long long ticks, std::vector<Plan>& plans) {
    plans.clear();
    const char* option = o.plans.empty() ? "--plan" : "--plans";
    std::vector<std::string> files;
    if (!o.plan.empty()) files.push_back(o.plan);
    for (std::size_t start = 0; !o.plans.empty() && start <= o.plans.size();) {
        std::size_t comma = o.plans.find(',', start);
        if (comma == std::string::npos) comma = o.plans.size();
        files.push_back(o.plans.substr(start, comma - start));
        if (files.back().empty()) return "--plans: an empty file name in \"" + o.plans + "\"";
        start = comma + 1;
    }
    if (!o.plans.empty() && files.size() < 2)
        return "--plans: compares two or more plans; for one, give --plan";
    for (const std::string& file : files) {
        Plan plan;
        std::string why;
        if (!read_plan_file(file, town, ticks, plan, why)) return std::string(option) + ": " + why;
        for (const Plan& earlier : plans)
            if (earlier.name == plan.name)
                return std::string(option) + ": " + file + " and " + earlier.file +
                       " are both plan \"" + plan.name + "\"; give one a `name = ...` line";
        // The summary's zone columns are the town's: every plan must see the same zones.
        if (!plans.empty()) {
            const Town& a = plans.front().town ? *plans.front().town : builtin_town();
            const Town& b = plan.town ? *plan.town : builtin_town();
            if (format_town(a) != format_town(b))
                return std::string(option) + ": " + file + " lays other zones over the town than " +
                       plans.front().file + "; plans compared must share their zones";
        }
        plans.push_back(std::move(plan));
    }
    return {};
}

std::string apply_plan_or_options(const CLI::App& app, const PlanOptions& plan,
                                  const RoadOptions& roads, const ZoneOptions& zones,
                                  long long ticks, std::shared_ptr<const Town>& town,
                                  RoadPlan& roadPlan, std::vector<EvacuationOrder>& orders,
                                  std::vector<Plan>& plans) {
    plans.clear();
    if (plan.plan.empty() && plan.plans.empty()) {
        if (std::string why =
                apply_road_options(app, roads, town ? *town : builtin_town(), roadPlan);
            !why.empty())
            return why;
        return apply_zone_options(zones, ticks, town, orders);
    }
    if (std::string why = read_plan_options(plan, town, ticks, plans); !why.empty()) return why;
    town = plans.front().town;
    if (plans.size() == 1) {
        roadPlan = plans.front().roads;
        orders = plans.front().orders;
    }
    return {};
}

std::string plan_header_line(const Plan& plan) {
    return "# plan: " + plan.name + ", " + file_name_text(plan.file) + ", sha256 " +
           sha256_of_text(plan.text) + "\n";
}

std::vector<std::pair<std::string, std::string>> plan_records(const std::vector<Plan>& plans) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const Plan& plan : plans) {
        const std::string prefix = plans.size() == 1 ? "plan" : "plan_" + plan.name;
        if (plans.size() == 1) pairs.emplace_back("plan", plan.name);
        pairs.emplace_back(prefix + "_file", plan.file);
        pairs.emplace_back(prefix + "_sha256", sha256_of_text(plan.text));
    }
    return pairs;
}
