#include "cli/zone_options.h"

#include "experiments/planning/order_text.h"
#include "experiments/planning/town_file.h"
#include "sim/town.h"

void add_zone_options(CLI::App& app, ZoneOptions& o) {
    app.add_option("--zones", o.zonesFile,
                   "Take the houses' zones from FILE: `C = NAME` lines, then a row of zone "
                   "characters per row of the town (see docs/town-format.md)")
        ->type_name("FILE");
    app.add_option("--order", o.orders,
                   "At the end of TICK the households of ZONE are ordered to leave; the share "
                   "order_compliance of them obeys (repeatable; a town without zones is the one "
                   "zone \"town\")")
        ->type_name("ZONE@TICK")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

std::string apply_zone_options(const ZoneOptions& o, long long ticks,
                               std::shared_ptr<const Town>& town,
                               std::vector<EvacuationOrder>& orders) {
    orders.clear();
    if (!o.zonesFile.empty()) {
        auto zoned = std::make_shared<Town>(town ? *town : builtin_town());
        std::string why;
        if (!read_zones_file(o.zonesFile, *zoned, why)) return "--zones: " + why;
        town = std::move(zoned);
    }
    const Town& t = town ? *town : builtin_town();
    for (const std::string& text : o.orders) {
        EvacuationOrder order;
        if (const std::string why = parse_order(text, t, order); !why.empty())
            return "--order: " + why;
        if (order.tick > ticks)
            return "--order: \"" + text + "\": tick " + std::to_string(order.tick) +
                   " lies past the run's " + std::to_string(ticks) + " ticks";
        orders.push_back(order);
    }
    return check_orders(t, orders, ticks);
}
