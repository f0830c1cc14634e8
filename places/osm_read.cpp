// Reading OSM files with libosmium into the plain OsmMap.
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
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

// A coordinate written with an exponent ("48.1e30") is refused before
// libosmium reads the file: its parser multiplies the exponent out in 64-bit
// integers before it checks the range, an overflow that is undefined
// behaviour, and real extracts never hold one. The XML is read
// once by expat alone, which expands character references ("&#101;") as
// libosmium's expat does, and every attribute libosmium takes as a coordinate
// is looked at; a file that is no well-formed XML is left to libosmium to refuse.
struct CoordinateCheck {
    XML_Parser parser = nullptr;
    std::string problem;  // the first coordinate with an exponent
};

bool is_coordinate_attribute(const XML_Char* name) {
    for (const char* c : {"lat", "lon", "minlat", "minlon", "maxlat", "maxlon", "min_lat",
                          "min_lon", "max_lat", "max_lon"})
        if (std::strcmp(name, c) == 0) return true;
    return false;
}

void XMLCALL check_coordinates(void* data, const XML_Char* element, const XML_Char** attrs) {
    CoordinateCheck& check = *static_cast<CoordinateCheck*>(data);
    for (; *attrs != nullptr; attrs += 2) {
        if (!is_coordinate_attribute(attrs[0]) || std::strpbrk(attrs[1], "eE") == nullptr) continue;
        check.problem = std::string("a coordinate with an exponent, ") + element + " " + attrs[0] +
                        "=\"" + std::string(attrs[1]).substr(0, 40) + "\" at line " +
                        std::to_string(XML_GetCurrentLineNumber(check.parser)) +
                        ": coordinates are plain decimal degrees";
        XML_StopParser(check.parser, XML_FALSE);
        return;
    }
}

// An entity declaration, which libosmium refuses: nothing further to check.
void XMLCALL stop_at_entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                            const XML_Char*, const XML_Char*, const XML_Char*) {
    XML_StopParser(static_cast<CoordinateCheck*>(data)->parser, XML_FALSE);
}

// The first coordinate with an exponent in an XML `file`, or "" when it has
// none, cannot be read or is no well-formed XML.
std::string coordinate_with_exponent(const osmium::io::File& file) {
    const osmium::io::CompressionFactory& factory = osmium::io::CompressionFactory::instance();
    std::unique_ptr<osmium::io::Decompressor> input;
    if (file.buffer() != nullptr) {
        input = factory.create_decompressor(file.compression(), file.buffer(), file.buffer_size());
    } else {
        const int fd = ::open(file.filename().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return "";
        input = factory.create_decompressor(file.compression(), fd);  // closes fd
    }
    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    CoordinateCheck check;
    check.parser = parser.get();
    XML_SetUserData(check.parser, &check);
    XML_SetStartElementHandler(check.parser, check_coordinates);
    XML_SetEntityDeclHandler(check.parser, stop_at_entity);
    constexpr std::size_t PIECE = std::size_t{1} << 30;  // what one call to expat takes
    for (bool going = true; going;) {
        const std::string data = input->read();
        for (std::size_t at = 0; going && (at < data.size() || data.empty()); at += PIECE) {
            const std::size_t n = std::min(PIECE, data.size() - at);
            going = XML_Parse(check.parser, data.data() + at, static_cast<int>(n), data.empty()) ==
                        XML_STATUS_OK &&
                    !data.empty();
        }
    }
    input->close();
    return check.problem;
}

// Reads `file` into `map`; false with what is wrong (without the file's name) in `error`.
bool read_osm(const osmium::io::File& file, OsmMap& map, std::string& error) {
    map = OsmMap{};
    try {
        if (file.format() == osmium::io::file_format::xml) {
            error = coordinate_with_exponent(file);
            if (!error.empty()) return false;
        }
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
