#include "sim/home_route.h"

#include <algorithm>

#include "sim/town.h"
#include "sim/vehicles.h"

namespace {

std::int32_t cars_in(const House& h, std::int32_t perHouse) {
    return h.cars >= 0 ? h.cars : perHouse;
}

void give_back(HomeFields& home, std::int32_t slot) {
    HomeFieldSlot& s = home.fields[static_cast<std::size_t>(slot)];
    HomeFieldSize& size = home.sizes[static_cast<std::size_t>(s.size)];
    home.houseSlot[static_cast<std::size_t>(s.house)] = -1;
    s.house = -1;
    home.freeList[static_cast<std::size_t>(size.first + size.freeCount++)] = slot;
}

// The steps from every cell of the slot's window to the door, over the
// reversed lanes and inside the window only. A cell whose count would reach
// HOME_NO_ROAD keeps it: no window is searched that deep in a real town.
void search(HomeFields& home, const RoadGrid& grid, std::int32_t slot, CellPos door) {
    const HomeFieldSlot& s = home.fields[static_cast<std::size_t>(slot)];
    std::uint16_t* steps = home.arena.data() + s.offset;
    const std::size_t cells = static_cast<std::size_t>(s.w) * static_cast<std::size_t>(s.h);
    std::fill(steps, steps + cells, HOME_NO_ROAD);
    std::uint32_t* queue = home.queue.data();
    std::size_t tail = 0;
    const std::uint32_t start = static_cast<std::uint32_t>((door.y - s.y0) * s.w + (door.x - s.x0));
    steps[start] = 0;
    queue[tail++] = start;
    for (std::size_t head = 0; head < tail; ++head) {
        const std::uint32_t i = queue[head];
        const std::int32_t qx = static_cast<std::int32_t>(i % static_cast<std::uint32_t>(s.w));
        const std::int32_t qy = static_cast<std::int32_t>(i / static_cast<std::uint32_t>(s.w));
        const std::uint8_t into = cell_at(grid, {s.x0 + qx, s.y0 + qy}).layout;
        const std::uint16_t next = static_cast<std::uint16_t>(steps[i] + 1);
        if (next == HOME_NO_ROAD) continue;
        for (std::uint8_t bit : MOVE_ORDER) {
            if ((into & bit) == 0) continue;  // this move may not enter q
            // The car stood one step back from q along this move.
            const CellPos d = move_step(bit);
            const std::int32_t px = qx - d.x, py = qy - d.y;
            if (px < 0 || py < 0 || px >= s.w || py >= s.h) continue;
            if (!is_road(cell_at(grid, {s.x0 + px, s.y0 + py}).layout)) continue;
            const std::uint32_t j = static_cast<std::uint32_t>(py * s.w + px);
            if (steps[j] != HOME_NO_ROAD) continue;
            steps[j] = next;
            queue[tail++] = j;
        }
    }
    ++home.fieldsBuilt;
}

// A free slot of size `from` or larger whose window, centred on the door and
// kept inside the town, holds `cell` at least as far in as it lies from the
// door; its window set and searched. -1 when every such size is taken.
std::int32_t take_slot(HomeFields& home, const RoadGrid& grid, std::int32_t house, CellPos door,
                       CellPos cell, std::int32_t from) {
    const std::int32_t dx = cell.x > door.x ? cell.x - door.x : door.x - cell.x;
    const std::int32_t dy = cell.y > door.y ? cell.y - door.y : door.y - cell.y;
    // Room beyond the car for a detour: half its distance again, at least 8 cells.
    const std::int32_t d = std::max(dx, dy);
    const std::int32_t reach = d + std::max(8, d / 2);
    for (std::size_t k = static_cast<std::size_t>(from); k < home.sizes.size(); ++k) {
        HomeFieldSize& size = home.sizes[k];
        const bool whole = size.w == grid.width && size.h == grid.height;
        if (size.side < 2 * reach + 1 && !whole) continue;
        if (size.freeCount == 0) continue;
        const std::int32_t slot =
            home.freeList[static_cast<std::size_t>(size.first + --size.freeCount)];
        HomeFieldSlot& s = home.fields[static_cast<std::size_t>(slot)];
        s.house = house;
        s.w = size.w;
        s.h = size.h;
        s.x0 = std::clamp(door.x - size.w / 2, 0, grid.width - size.w);
        s.y0 = std::clamp(door.y - size.h / 2, 0, grid.height - size.h);
        home.houseSlot[static_cast<std::size_t>(house)] = slot;
        search(home, grid, slot, door);
        return slot;
    }
    return -1;
}

bool knows_road(const HomeFieldSlot& s, const std::uint16_t* arena, CellPos c) {
    const std::uint32_t lx = static_cast<std::uint32_t>(c.x - s.x0);
    const std::uint32_t ly = static_cast<std::uint32_t>(c.y - s.y0);
    if (lx >= static_cast<std::uint32_t>(s.w) || ly >= static_cast<std::uint32_t>(s.h))
        return false;
    return arena[s.offset + ly * static_cast<std::uint32_t>(s.w) + lx] != HOME_NO_ROAD;
}

}  // namespace

void prepare_home_fields(HomeFields& home, const Town& town, std::int32_t carsPerHouse,
                         std::int32_t cars, bool active) {
    home.active = active;
    home.fieldsBuilt = 0;
    home.straightFallbacks = 0;
    home.straightTicks = 0;
    if (!active) return;
    const std::size_t houses = town.houses.size();
    home.firstCar.resize(houses + 1);
    std::int32_t next = 0;
    for (std::size_t h = 0; h < houses; ++h) {
        home.firstCar[h] = next;
        next += cars_in(town.houses[h], carsPerHouse);
    }
    home.firstCar[houses] = next;
    home.houseSlot.assign(houses, -1);
    home.holders.assign(houses, 0);
    home.carSlot.assign(static_cast<std::size_t>(cars), -1);

    // The sizes, each with an equal share of the bytes, at most one window per house.
    const std::int64_t bytes =
        std::max(HOME_FIELD_MIN_BYTES, HOME_FIELD_BYTES_PER_CAR * static_cast<std::int64_t>(cars));
    const std::int32_t longer = std::max(town.width, town.height);
    std::int32_t count = 1;
    for (std::int32_t side = HOME_FIELD_FIRST_SIDE; side < longer; side *= 2) ++count;
    home.sizes.resize(static_cast<std::size_t>(count));
    std::int32_t slots = 0;
    std::size_t cells = 0, largest = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        HomeFieldSize& size = home.sizes[static_cast<std::size_t>(k)];
        size.side = HOME_FIELD_FIRST_SIDE << k;
        size.w = std::min(size.side, town.width);
        size.h = std::min(size.side, town.height);
        const std::int64_t window = std::int64_t{size.w} * size.h;
        size.first = slots;
        size.count = static_cast<std::int32_t>(std::min<std::int64_t>(
            bytes / count / (2 * window), static_cast<std::int64_t>(houses)));
        size.freeCount = size.count;
        slots += size.count;
        cells += static_cast<std::size_t>(window) * static_cast<std::size_t>(size.count);
        if (size.count > 0) largest = static_cast<std::size_t>(window);
    }
    home.arena.resize(cells);
    home.fields.resize(static_cast<std::size_t>(slots));
    home.freeList.resize(static_cast<std::size_t>(slots));
    home.queue.resize(largest);
    std::size_t offset = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        const HomeFieldSize& size = home.sizes[static_cast<std::size_t>(k)];
        for (std::int32_t i = 0; i < size.count; ++i) {
            HomeFieldSlot& s = home.fields[static_cast<std::size_t>(size.first + i)];
            s = HomeFieldSlot{};
            s.size = k;
            s.offset = offset;
            offset += static_cast<std::size_t>(size.w) * static_cast<std::size_t>(size.h);
            // Popped from the top: the lowest-numbered slot first.
            home.freeList[static_cast<std::size_t>(size.first + i)] =
                size.first + size.count - 1 - i;
        }
    }
}

void clear_home_fields(HomeFields& home) {
    if (!home.active) return;
    for (std::int32_t& s : home.carSlot) s = -1;
    for (std::int32_t& n : home.holders) n = 0;
    for (std::size_t i = 0; i < home.fields.size(); ++i)
        if (home.fields[i].house >= 0) give_back(home, static_cast<std::int32_t>(i));
}

std::int32_t house_of_car(const HomeFields& home, std::int32_t index) {
    const auto it = std::upper_bound(home.firstCar.begin(), home.firstCar.end(), index);
    return static_cast<std::int32_t>(it - home.firstCar.begin()) - 1;
}

const std::uint16_t* home_field_for(HomeFields& home, const RoadGrid& grid, const Vehicle& v,
                                    std::int32_t index, HomeFieldView& view) {
    std::int32_t& held = home.carSlot[static_cast<std::size_t>(index)];
    const CellPos step = move_step(v.door);
    const CellPos door = {v.home.x + step.x, v.home.y + step.y};
    if (held < 0) {
        // A car on the straight rule asks again every tick, and takes the
        // road guide back as soon as a window is free.
        const std::int32_t house = house_of_car(home, index);
        std::int32_t slot = home.houseSlot[static_cast<std::size_t>(house)];
        if (slot < 0) slot = take_slot(home, grid, house, door, v.pos, 0);
        if (slot < 0) {
            if (held != HOME_STRAIGHT) ++home.straightFallbacks;
            held = HOME_STRAIGHT;
            ++home.straightTicks;
            return nullptr;
        }
        held = slot;
        ++home.holders[static_cast<std::size_t>(house)];
    }
    const HomeFieldSlot* s = &home.fields[static_cast<std::size_t>(held)];
    if (!knows_road(*s, home.arena.data(), v.pos) && !(s->w == grid.width && s->h == grid.height)) {
        // The window knows no road home from here: a larger one, for every car of the house.
        const std::int32_t house = s->house;
        const std::int32_t old = held;
        const std::int32_t size = s->size;
        give_back(home, old);
        const std::int32_t grown = take_slot(home, grid, house, door, v.pos, size + 1);
        const std::int32_t first = home.firstCar[static_cast<std::size_t>(house)];
        const std::int32_t last = home.firstCar[static_cast<std::size_t>(house) + 1];
        if (grown < 0) {
            // None free: the house's drivers go on by the straight rule.
            for (std::int32_t i = first; i < last; ++i) {
                std::int32_t& c = home.carSlot[static_cast<std::size_t>(i)];
                if (c == old) {
                    c = HOME_STRAIGHT;
                    ++home.straightFallbacks;
                }
            }
            home.holders[static_cast<std::size_t>(house)] = 0;
            ++home.straightTicks;
            return nullptr;
        }
        for (std::int32_t i = first; i < last; ++i) {
            std::int32_t& c = home.carSlot[static_cast<std::size_t>(i)];
            if (c == old) c = grown;
        }
        s = &home.fields[static_cast<std::size_t>(grown)];
    }
    view = {home.arena.data() + s->offset, s->x0, s->y0, s->w, s->h};
    return view.steps;
}

void release_home_field(HomeFields& home, std::int32_t index) {
    std::int32_t& held = home.carSlot[static_cast<std::size_t>(index)];
    if (held >= 0) {
        const std::int32_t house = home.fields[static_cast<std::size_t>(held)].house;
        if (--home.holders[static_cast<std::size_t>(house)] == 0) give_back(home, held);
    }
    held = -1;
}
