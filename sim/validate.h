// Cross-checks of a scenario's tables: lanes against the cars standing in them,
// house counts against the cars at home, the tally against the car count, and
// what a tick keeps up to date against what a full count gives.
#pragma once

struct Simulation;

struct ValidationResult {
    bool ok;
    char message[160];  // the first broken rule, for a failing check
};

// Every rule below, then validate_kept_state.
ValidationResult validate_simulation(const Simulation& sim);

// What a tick keeps instead of recounting (the under-way and waiting sets, the
// tally, the cleared threat flags, the arrival estimates' variance) against a
// full count of the tables.
ValidationResult validate_kept_state(const Simulation& sim);

// Debug builds check every tick and stop at the first broken rule; release
// builds compile the check away.
#ifdef NDEBUG
#define MAROVEL_VALIDATE(sim) ((void)0)
#else
void check_simulation_or_abort(const Simulation& sim);
#define MAROVEL_VALIDATE(sim) check_simulation_or_abort(sim)
#endif
