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

// Each hash is a chain of dependent multiplications, one per byte. The four
// are fed side by side, car by car, so that the processor runs their chains at
// once; each still takes its bytes in the order the line defines.
Fingerprint fingerprint(const Simulation& sim) {
    const int n = sim.vehicles.vehicleCount;
    const std::int64_t CELLS = static_cast<std::int64_t>(sim.grid.cells.size());
    const StormState& st = sim.storm;
    const DecisionModel& m = sim.decisions;
    Fnv1a v, g, s, d;
    s.f32(st.simTime);
    s.f32(st.stormPhase);
    s.f32(st.stormSpin);
    s.point(st.storm);
    for (const StormPoint& p : st.stormTrack) s.point(p);

    const std::int64_t rounds = n > CELLS ? n : CELLS;
    for (std::int64_t i = 0; i < rounds; ++i) {
        if (i < n) {
            const Vehicle& car = sim.vehicles.vehicles[i];
            const DecisionRecord r = decision_record(m, static_cast<int>(i));
            v.byte(car.state);
            s.byte(static_cast<std::uint8_t>(st.threatFlags[i]));
            d.f32(r.travelTerm);
            v.i32(car.home.x);
            v.i32(car.home.y);
            d.f32(r.arrivalEstimate);
            v.i32(car.pos.x);
            d.f32(r.departureTime);
            v.i32(car.pos.y);
            d.f32(r.signalError);
            v.i32(car.prevPos.x);
            d.f32(r.signalBase);
            v.i32(car.prevPos.y);
            d.f32(r.signal);
            v.byte(car.heading);
            v.i32(car.patience);
            d.f32(r.departureNoise);
            v.i32(car.fuel);
        }
        if (i < CELLS) g.byte(sim.grid.cells[static_cast<std::size_t>(i)].traffic);
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
