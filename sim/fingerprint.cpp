#include "sim/fingerprint.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/driver.h"

namespace {

class Fnv1a {
  public:
    void byte(std::uint8_t b) {
        hash_ ^= b;
        hash_ *= 0x100000001b3ull;
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    // CPUs differ in the NaN they produce; every NaN hashes as the one pattern.
    void f32(float v) {
        std::uint32_t bits = 0x7FC00000u;
        if (!std::isnan(v)) std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void point(const StormPoint& p) {
        f32(p.x);
        f32(p.y);
        f32(p.size);
        f32(p.speed);
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

}  // namespace

Fingerprint fingerprint(const Simulation& sim) {
    const int n = sim.vehicles.vehicleCount;
    Fnv1a v, g, s, d;
    for (int i = 0; i < n; ++i) {
        const Vehicle& car = sim.vehicles.vehicles[i];
        v.byte(car.state);
        v.i32(car.home.x);
        v.i32(car.home.y);
        v.i32(car.pos.x);
        v.i32(car.pos.y);
        v.i32(car.prevPos.x);
        v.i32(car.prevPos.y);
        v.byte(car.heading);
        v.i32(car.patience);
        v.i32(car.fuel);
    }
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) g.byte(sim.grid.cells[y][x].traffic);

    const StormState& st = sim.storm;
    s.f32(st.simTime);
    s.f32(st.stormPhase);
    s.f32(st.stormSpin);
    s.point(st.storm);
    for (const StormPoint& p : st.stormTrack) s.point(p);
    for (int i = 0; i < n; ++i) s.byte(static_cast<std::uint8_t>(st.threatFlags[i]));

    const DecisionModel& m = sim.decisions;
    for (int i = 0; i < n; ++i) {
        const DecisionRecord& r = m.decisionTable[i];
        d.f32(r.travelTerm);
        d.f32(r.arrivalEstimate);
        d.f32(r.departureTime);
        d.f32(r.signalError);
        d.f32(r.signalBase);
        d.f32(r.signal);
        d.f32(r.departureNoise);
    }
    d.f32(m.departureSignalCoef);
    d.f32(m.departureTravelCoef);
    d.f32(m.departureIntercept);
    d.f32(m.signalArrivalCoef);
    d.f32(m.signalTravelCoef);
    d.f32(m.signalIntercept);

    return {v.value(), g.value(), s.value(), d.value(), sim.rng.state};
}

FingerprintLine fingerprint_line(const Simulation& sim, long long tick) {
    const VehicleTally t = tally_vehicles(sim.vehicles);
    const Fingerprint f = fingerprint(sim);
    FingerprintLine line{};
    std::snprintf(line.text, sizeof line.text,
                  "%lld %.1f %d %d %d %d %d %d %016" PRIx64 " %016" PRIx64 " %016" PRIx64
                  " %016" PRIx64 " %08" PRIx32,
                  tick, static_cast<double>(sim.storm.simTime), t.notEvacuated, t.evacuated,
                  t.gaveUp, t.enRoute, t.towed, t.outOfGas, f.vehicles, f.grid, f.storm,
                  f.decisions, f.random);
    return line;
}
