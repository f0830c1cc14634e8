#include "experiments/pictures/snapshot.h"

#include <QImage>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <numeric>

#include "experiments/pictures/attribution.h"
#include "experiments/pictures/install_folders.h"
#include "render/scene.h"

namespace {

// What the renderer's picture loads reported, for the error message. The
// notice callback is a plain function, so it reports through this.
thread_local std::string loadFailures;

void record_load_failure(const char* /*caption*/, const char* text) {
    if (!loadFailures.empty()) loadFailures += "; ";
    loadFailures += text;
}

bool ends_with_png(std::string_view name) {
    if (name.size() < 5) return false;
    std::string ending(name.substr(name.size() - 4));
    for (char& c : ending) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ending == ".png";
}

}  // namespace

std::string parse_snapshot(std::string_view text, long long maxTick, SnapshotRequest& request) {
    std::string shown(1, '"');  // appended: GCC 12 warns falsely about "literal" + string
    shown.append(text);
    shown += '"';
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return shown + " is not TICK:FILE.png";
    const std::string_view tickText = text.substr(0, colon);
    long long tick = 0;
    const auto [ptr, ec] =
        std::from_chars(tickText.data(), tickText.data() + tickText.size(), tick);
    if (tickText.empty() || ec != std::errc() || ptr != tickText.data() + tickText.size() ||
        tick < 0)
        return shown + ": the tick is not a whole number of ticks >= 0";
    if (tick > maxTick)
        return shown + ": tick " + std::to_string(tick) + " lies beyond the run's " +
               std::to_string(maxTick) + " ticks";
    const std::string_view file = text.substr(colon + 1);
    if (!ends_with_png(file)) return shown + ": the file name must end in .png";
    request.tick = tick;
    request.file = std::string(file);
    return {};
}

std::vector<std::string> snapshot_picture_folders() {
    return running_picture_folders();
}

SnapshotRenderer::~SnapshotRenderer() {
    if (!open_) return;
    free_map();
    free_car();
    free_storm();
    close_offscreen(context_);
}

bool SnapshotRenderer::open(int width, int height, const std::vector<std::string>& folders,
                            std::string& error) {
    std::string why;
    if (!open_offscreen(context_, width, height, &why)) {
        error = "no offscreen drawing context: " + why;
        return false;
    }
    open_ = true;
    folders_ = folders;
    mapTown_ = shared_builtin_town();
    init_render_state();
    set_view_projection(width, height);
    loadFailures.clear();
    const PictureSetup setup{folders, record_load_failure};
    init_map(setup);
    init_car(setup);
    init_storm(setup);
    if (!loadFailures.empty()) {
        error = loadFailures;  // each names its picture and the folders searched
        return false;
    }
    return true;
}

bool SnapshotRenderer::use_town(const std::shared_ptr<const Town>& town, std::string& error) {
    if (mapTown_ == town) return true;
    loadFailures.clear();
    load_town_map(*town, PictureSetup{folders_, record_load_failure});
    if (!loadFailures.empty()) {
        error = loadFailures;
        mapTown_.reset();
        return false;
    }
    mapTown_ = town;
    return true;
}

bool SnapshotRenderer::write_png(const Simulation& sim, const std::string& file,
                                 std::string& error) {
    if (!use_town(sim.town, error)) return false;
    // The built-in town's is the window's initial view.
    const Camera camera =
        fitted_camera(sim.town->width, sim.town->height,
                      static_cast<float>(context_.width) / static_cast<float>(context_.height));
    draw_scene(sim, camera);
    std::vector<std::uint8_t> rgba;
    read_offscreen_pixels(context_, rgba);

    // The context's rows run bottom-up, an image's top-down; the frame is opaque.
    const int w = context_.width;
    const int h = context_.height;
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = &rgba[static_cast<std::size_t>(h - 1 - y) * w * 4];
        std::uint8_t* dst = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            dst[x * 3 + 0] = src[x * 4 + 0];
            dst[x * 3 + 1] = src[x * 4 + 1];
            dst[x * 3 + 2] = src[x * 4 + 2];
        }
    }
    stamp_attribution(image, *sim.town);
    if (!image.save(QString::fromStdString(file), "PNG")) {
        error = "could not write the snapshot " + file;
        return false;
    }
    return true;
}

bool write_snapshots(SnapshotRenderer& renderer, const ScenarioSetup& scenario,
                     const std::vector<SnapshotRequest>& requests,
                     const std::vector<std::string>& files, std::string& error,
                     std::shared_ptr<const Town> town) {
    std::vector<std::size_t> order(requests.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return requests[a].tick < requests[b].tick;
    });
    auto sim = std::make_unique<Simulation>();
    if (town)
        build_scenario(*sim, scenario, std::move(town));
    else
        build_scenario(*sim, scenario);
    long long tick = 0;
    for (std::size_t i : order) {
        for (; tick < requests[i].tick; ++tick) sim_tick(*sim);
        if (!renderer.write_png(*sim, files[i], error)) return false;
    }
    return true;
}
