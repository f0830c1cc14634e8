#include "cli/parameter_options.h"

#include "experiments/planning/parameter_text.h"

void add_parameter_options(CLI::App& app, ParameterOptions& o, bool withError) {
    o.setOption = app.add_option("--set", o.sets,
                                 "Set a model parameter, NAME=VALUE (repeatable; "
                                 "`marovel-sim params` lists them)")
                      ->type_name("NAME=VALUE")
                      ->expected(1)
                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    o.fileOption = app.add_option("--params", o.files,
                                  "Read model parameters from FILE: one `name = value` a line, "
                                  "# comments (repeatable)")
                       ->type_name("FILE")
                       ->expected(1)
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    if (withError)
        o.errorOption = app.add_option("--error", o.error,
                                       "Households' information error: low, moderate, high or "
                                       "a spread >= 0 (default low; same as --set error_spread=)");
}

std::string apply_parameter_options(const CLI::App& app, const ParameterOptions& o,
                                    ModelParameters& p) {
    std::size_t nextSet = 0, nextFile = 0;
    for (const CLI::Option* option : app.parse_order()) {
        if (option == o.setOption && nextSet < o.sets.size()) {
            if (const std::string why = apply_assignment(p, o.sets[nextSet++]); !why.empty())
                return "--set: " + why;
        } else if (option == o.fileOption && nextFile < o.files.size()) {
            if (const std::string why = apply_parameter_file(p, o.files[nextFile++]); !why.empty())
                return "--params: " + why;
        } else if (option == o.errorOption && o.errorOption != nullptr) {
            double spread = 0.0;
            if (const std::string why = parse_error_spread(o.error, spread); !why.empty())
                return "--error: " + why;
            p.errorSpread = spread;
        }
    }
    if (const ParameterCheck c = check_parameters(p); !c.ok()) return c.text;
    return {};
}
