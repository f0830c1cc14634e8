// Reading OSM files with libosmium into the plain OsmMap.
#include <sys/stat.h>

#include <exception>
#include <osmium/handler.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/visitor.hpp>

#include "places/osm_import.h"

namespace {

struct Collector : osmium::handler::Handler {
    OsmMap* map = nullptr;
    std::string problem;  // the first node off the earth

    void node(const osmium::Node& n) {
        const osmium::Location loc = n.location();
        if (!problem.empty()) return;
        if (!loc.valid()) {
            problem = "node " + std::to_string(n.id()) + " has no coordinates on the earth";
            return;
        }
        map->nodes[n.id()] = {loc.lat(), loc.lon()};
    }
    void way(const osmium::Way& w) {
        OsmWay way;
        way.id = w.id();
        for (const osmium::NodeRef& r : w.nodes()) way.nodes.push_back(r.ref());
        for (const osmium::Tag& t : w.tags()) way.tags.emplace(t.key(), t.value());
        map->ways.push_back(std::move(way));
    }
    void relation(const osmium::Relation&) { ++map->relations; }
};

// Reads `file` into `map`; false with what is wrong (without the file's name) in `error`.
bool read_osm(const osmium::io::File& file, OsmMap& map, std::string& error) {
    map = OsmMap{};
    try {
        osmium::io::Reader reader{file, osmium::osm_entity_bits::nwr};
        const osmium::io::Header header = reader.header();
        const osmium::Box box = header.box();
        if (box.valid()) {
            map.hasBounds = true;
            map.bounds = {box.bottom_left().lon(), box.bottom_left().lat(), box.top_right().lon(),
                          box.top_right().lat()};
        }
        Collector collector;
        collector.map = &map;
        osmium::apply(reader, collector);
        reader.close();
        if (!collector.problem.empty()) {
            error = collector.problem;
            return false;
        }
    } catch (const std::exception& e) {
        error = std::string("not a whole OpenStreetMap file (") + e.what() + ")";
        return false;
    }
    return true;
}

}  // namespace

bool read_osm_file(const std::string& path, OsmMap& map, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": cannot be read";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    if (read_osm(osmium::io::File{path}, map, error)) return true;
    error = path + ": " + error;
    return false;
}

bool read_osm_bytes(std::string_view bytes, const std::string& format, OsmMap& map,
                    std::string& error) {
    return read_osm(osmium::io::File{bytes.data(), bytes.size(), format}, map, error);
}
