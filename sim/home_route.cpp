#include "sim/home_route.h"

#include <cstdlib>
#include <utility>

#include "sim/town.h"
#include "sim/vehicles.h"

static_assert(sizeof(HomeRoute) <= 44, "a route stays within its 44 bytes a car");

namespace {

// A move's place in the move order.
constexpr int order_of(std::uint8_t bit) {
    return bit == DIR_Y_DEC ? 0 : bit == DIR_X_DEC ? 1 : bit == DIR_X_INC ? 2 : 3;
}

std::size_t index_of(const RoadGrid& grid, CellPos c) {
    return static_cast<std::size_t>(c.y) * static_cast<std::size_t>(grid.width) +
           static_cast<std::size_t>(c.x);
}

// The cell a move from `c` enters when the move may be made along the lanes
// (inside the grid, onto a road its layout lets that move enter), else false.
bool lane_move(const RoadGrid& grid, CellPos c, std::uint8_t bit, CellPos& to) {
    const CellPos d = move_step(bit);
    to = {c.x + d.x, c.y + d.y};
    if (to.x < 0 || to.y < 0 || to.x >= grid.width || to.y >= grid.height) return false;
    const std::uint8_t layout = cell_at(grid, to).layout;
    return is_road(layout) && (layout & bit) != 0;
}

// What the four moves from `c`, `stepsHere` from the door, lead to.
std::uint8_t moves_from(const RoadGrid& grid, const std::uint16_t* steps, CellPos c,
                        std::int32_t stepsHere) {
    std::uint8_t moves = 0;
    for (std::uint8_t bit : MOVE_ORDER) {
        std::uint8_t kind = HOME_FAR;
        CellPos q;
        if (lane_move(grid, c, bit, q)) {
            const std::uint16_t s = steps[index_of(grid, q)];
            const std::int32_t diff = static_cast<std::int32_t>(s) - stepsHere;
            if (s != HOME_NO_ROAD && diff >= -1 && diff <= 1)
                kind = static_cast<std::uint8_t>(diff + 1);
        }
        moves = static_cast<std::uint8_t>(moves | kind << (2 * order_of(bit)));
    }
    return moves;
}

// The cell a move leads to.
CellPos moved(CellPos at, std::uint8_t bit) {
    const CellPos d = move_step(bit);
    return {at.x + d.x, at.y + d.y};
}

// The move expected at step k of the route.
std::uint8_t taken_at(const HomeRoute& r, std::int32_t k) {
    return MOVE_ORDER[static_cast<std::size_t>((r.taken[k / 4] >> (2 * (k % 4))) & 3)];
}

std::uint8_t kind_of(std::uint8_t moves, std::uint8_t bit) {
    return static_cast<std::uint8_t>((moves >> (2 * order_of(bit))) & 3);
}

// The move a car on `at`, having come from `prev`, makes by its route's
// prices with nothing else on the road: the cheapest in move order, one step
// nearer before as near before one farther, turning back only when nothing
// else is possible, and never to where no road leads home within a step.
std::uint8_t expected_move(CellPos at, CellPos prev, std::uint8_t moves) {
    std::uint8_t best = 0;
    int bestPrice = 0;
    for (std::uint8_t bit : MOVE_ORDER) {
        const std::uint8_t kind = kind_of(moves, bit);
        if (kind == HOME_FAR) continue;
        const int price = kind + (moved(at, bit) == prev ? 4 : 0);
        if (best == 0 || price < bestPrice) {
            best = bit;
            bestPrice = price;
        }
    }
    return best;
}

// A best-first search from the door over the reversed lanes, in the order of
// a cell's steps to the door plus its grid distance to the car's cell. Every
// move changes that distance by one, so a cell's order is its parent's or two
// more: two buckets hold the search. Once every cell of order up to F is
// settled, the steps of any cell whose order is at most F are exact, and a
// cell of order more than F is more than one step farther from the door than
// any cell of order F - 2 next to it. The search runs on as far as the route
// needs; the steps are reset when it is done.
class HomeSearch {
  public:
    HomeSearch(HomeRoutes& home, const RoadGrid& grid, CellPos from, CellPos door)
        : grid_(grid),
          steps_(home.steps.data()),
          now_(home.queue.data()),
          later_(now_ + home.steps.size()),
          touched_(later_ + home.steps.size()),
          from_(from) {
        steps_[index_of(grid, door)] = 0;
        touched_[touchedCount_++] = pack(door);
        now_[nowCount_++] = pack(door);
        f_ = order(door, 0);
        if (door == from) found_ = 0;
    }
    ~HomeSearch() {
        for (std::size_t k = 0; k < touchedCount_; ++k)
            steps_[index_of(grid_, unpack(touched_[k]))] = HOME_NO_ROAD;
    }
    HomeSearch(const HomeSearch&) = delete;
    HomeSearch& operator=(const HomeSearch&) = delete;

    // The steps from the car's cell, -1 when no road leads from it to the door.
    std::int32_t steps_from_car() {
        while (found_ < 0 && nowCount_ > 0) run_bucket();
        return found_;
    }
    // Settles every cell of order up to `bound`.
    void settle_to(std::int32_t bound) {
        while (f_ <= bound && nowCount_ > 0) run_bucket();
    }
    std::int32_t order(CellPos c, std::int32_t g) const {
        return g + std::abs(c.x - from_.x) + std::abs(c.y - from_.y);
    }
    const std::uint16_t* steps() const { return steps_; }

  private:
    // A cell in the queues: its row above its column, 12 bits each.
    static_assert(TOWN_MAX_SIDE <= 4096);
    static std::uint32_t pack(CellPos c) {
        return static_cast<std::uint32_t>(c.y) << 12 | static_cast<std::uint32_t>(c.x);
    }
    static CellPos unpack(std::uint32_t e) {
        return {static_cast<std::int32_t>(e & 0xFFF), static_cast<std::int32_t>(e >> 12)};
    }

    // Settles the cells of order f_, then moves on to f_ + 2.
    void run_bucket() {
        for (std::size_t head = 0; head < nowCount_; ++head) {
            const CellPos q = unpack(now_[head]);
            const std::int32_t g = steps_[index_of(grid_, q)];
            if (order(q, g) != f_) continue;  // settled earlier, by a shorter way
            if (q == from_) found_ = g;
            const std::uint8_t into = cell_at(grid_, q).layout;
            const std::int32_t next = g + 1;
            if (next >= HOME_NO_ROAD) continue;
            for (std::uint8_t bit : MOVE_ORDER) {
                if ((into & bit) == 0) continue;  // this move may not enter q
                // The car stood one step back from q along this move.
                const CellPos d = move_step(bit);
                const CellPos p = {q.x - d.x, q.y - d.y};
                if (p.x < 0 || p.y < 0 || p.x >= grid_.width || p.y >= grid_.height) continue;
                // The car's own cell may have closed under it: it still drives off.
                if (!is_road(cell_at(grid_, p).layout) && !(p == from_)) continue;
                const std::size_t j = index_of(grid_, p);
                if (steps_[j] == HOME_NO_ROAD)
                    touched_[touchedCount_++] = pack(p);
                else if (steps_[j] <= next)
                    continue;
                steps_[j] = static_cast<std::uint16_t>(next);
                if (order(p, next) == f_)
                    now_[nowCount_++] = pack(p);
                else
                    later_[laterCount_++] = pack(p);
            }
        }
        std::swap(now_, later_);
        nowCount_ = laterCount_;
        laterCount_ = 0;
        f_ += 2;
    }

    const RoadGrid& grid_;
    std::uint16_t* steps_;
    std::uint32_t* now_;
    std::uint32_t* later_;
    std::uint32_t* touched_;
    CellPos from_;
    std::size_t nowCount_ = 0, laterCount_ = 0, touchedCount_ = 0;
    std::int32_t f_ = 0;
    std::int32_t found_ = -1;
};

// The car's route from `from` (having come from `prev`): the cells it is
// expected to drive through, each with what its moves lead to.
void search(HomeRoutes& home, const RoadGrid& grid, HomeRoute& r, CellPos from, CellPos prev,
            CellPos door) {
    HomeSearch search(home, grid, from, door);
    const std::int32_t found = search.steps_from_car();
    ++home.searches;
    r.next = 0;
    r.count = 0;
    r.at = from;
    if (found < 0) {
        r.state = HOME_ROUTE_NO_ROAD;
        r.steps = HOME_NO_ROAD;
        ++home.noRoad;
        return;
    }
    r.state = HOME_ROUTE_KNOWN;
    r.steps = static_cast<std::uint16_t>(found);
    CellPos c = from;
    std::int32_t s = found;
    while (s > 0 && r.count < HOME_ROUTE_STEPS) {
        search.settle_to(search.order(c, s) + 2);
        const std::uint8_t moves = moves_from(grid, search.steps(), c, s);
        const std::uint8_t bit = expected_move(c, prev, moves);
        r.moves[r.count] = moves;
        if (r.count % 4 == 0) r.taken[r.count / 4] = 0;
        r.taken[r.count / 4] =
            static_cast<std::uint8_t>(r.taken[r.count / 4] | order_of(bit) << (2 * (r.count % 4)));
        ++r.count;
        prev = c;
        c = moved(c, bit);
        s += kind_of(moves, bit) - 1;
    }
}

}  // namespace

void prepare_home_routes(HomeRoutes& home, const Town& town, std::int32_t cars, bool active) {
    home.active = active;
    home.searches = 0;
    home.noRoad = 0;
    if (!active) return;
    const std::size_t cells =
        static_cast<std::size_t>(town.width) * static_cast<std::size_t>(town.height);
    if (home.steps.size() != cells) {
        home.steps.assign(cells, HOME_NO_ROAD);
        home.queue.assign(3 * cells, 0);
    }
    home.routes.resize(static_cast<std::size_t>(cars));
    clear_home_routes(home);
}

void clear_home_routes(HomeRoutes& home) {
    if (!home.active) return;
    for (HomeRoute& r : home.routes) r.state = HOME_ROUTE_NONE;
}

const HomeRoute& home_route_for(HomeRoutes& home, const RoadGrid& grid, const Vehicle& v,
                                std::int32_t index) {
    HomeRoute& r = home.routes[static_cast<std::size_t>(index)];
    if (r.state == HOME_ROUTE_NO_ROAD) {
        r.at = v.pos;  // nowhere the car can drive leads home
        return r;
    }
    if (r.state == HOME_ROUTE_KNOWN && !(v.pos == r.at)) {
        // It moved: on along its route, or off it.
        const std::uint8_t bit = r.next < r.count ? taken_at(r, r.next) : 0;
        if (bit != 0 && v.pos == moved(r.at, bit)) {
            r.at = v.pos;
            r.steps = static_cast<std::uint16_t>(r.steps + kind_of(r.moves[r.next], bit) - 1);
            ++r.next;
            if (r.next >= r.count && r.steps > 0) r.state = HOME_ROUTE_NONE;
        } else {
            r.state = HOME_ROUTE_NONE;
        }
    }
    if (r.state == HOME_ROUTE_NONE) {
        const CellPos step = move_step(v.door);
        search(home, grid, r, v.pos, v.prevPos, {v.home.x + step.x, v.home.y + step.y});
    }
    return r;
}

void release_home_route(HomeRoutes& home, std::int32_t index) {
    home.routes[static_cast<std::size_t>(index)].state = HOME_ROUTE_NONE;
}

std::int32_t home_route_steps(const HomeRoute& r, std::uint8_t bit) {
    if (r.state != HOME_ROUTE_KNOWN || r.next >= r.count) return -1;
    const int kind = kind_of(r.moves[r.next], bit);
    if (kind == HOME_FAR) return -1;
    return static_cast<std::int32_t>(r.steps) + kind - 1;
}
