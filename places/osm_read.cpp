// Reading OSM files with libosmium into the plain OsmMap.
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>
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

// A reader of `file`'s bytes, uncompressed; null when it cannot be opened.
std::unique_ptr<osmium::io::Decompressor> open_bytes(const osmium::io::File& file) {
    const osmium::io::CompressionFactory& factory = osmium::io::CompressionFactory::instance();
    if (file.buffer() != nullptr)
        return factory.create_decompressor(file.compression(), file.buffer(), file.buffer_size());
    const int fd = ::open(file.filename().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return factory.create_decompressor(file.compression(), fd);  // closes fd
}

// The first coordinate with an exponent in an XML `file`, or "" when it has
// none, cannot be read or is no well-formed XML.
std::string xml_coordinate_with_exponent(osmium::io::Decompressor& input) {
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
        const std::string data = input.read();
        for (std::size_t at = 0; going && (at < data.size() || data.empty()); at += PIECE) {
            const std::size_t n = std::min(PIECE, data.size() - at);
            going = XML_Parse(check.parser, data.data() + at, static_cast<int>(n), data.empty()) ==
                        XML_STATUS_OK &&
                    !data.empty();
        }
    }
    return check.problem;
}

// The same for the one-line-per-object text format, where a node's
// coordinates are its fields `x` and `y`, and a way's node list (the field
// `N`) may carry them too ("n12x11.5y48.1"). Fields are split by spaces and
// tags are escaped, so an `e` in one of these fields is an exponent.
std::string opl_coordinate_with_exponent(osmium::io::Decompressor& input) {
    std::string carry;  // the part of a line a read cut off
    long long line = 1;
    for (std::string data = input.read(); !data.empty() || !carry.empty(); data = input.read()) {
        const bool last = data.empty();
        carry += data;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = carry.find('\n', start);
            if (end == std::string::npos && !last) break;
            const std::string_view text =
                std::string_view(carry).substr(start, end == std::string::npos ? end : end - start);
            for (std::size_t f = 0; f < text.size();) {
                const std::size_t stop = std::min(text.find(' ', f), text.size());
                const std::string_view field = text.substr(f, stop - f);
                if (f > 0 && !field.empty() && std::strchr("xyN", field[0]) != nullptr &&
                    field.find_first_of("eE") != std::string_view::npos)
                    return "a coordinate with an exponent, field \"" +
                           std::string(field.substr(0, 40)) + "\" at line " + std::to_string(line) +
                           ": coordinates are plain decimal degrees";
                f = stop + 1;
            }
            if (end == std::string::npos) return "";
            ++line;
            start = end + 1;
        }
        carry.erase(0, start);
    }
    return "";
}

// The first coordinate with an exponent in a text `file` (XML or the
// one-line-per-object format), or "" when it has none or cannot be read.
std::string coordinate_with_exponent(const osmium::io::File& file) {
    const std::unique_ptr<osmium::io::Decompressor> input = open_bytes(file);
    if (!input) return "";
    const std::string problem = file.format() == osmium::io::file_format::opl
                                    ? opl_coordinate_with_exponent(*input)
                                    : xml_coordinate_with_exponent(*input);
    input->close();
    return problem;
}

// Reads `file` into `map`; false with what is wrong (without the file's name) in `error`.
bool read_osm(const osmium::io::File& file, OsmMap& map, std::string& error) {
    map = OsmMap{};
    try {
        if (file.format() == osmium::io::file_format::xml ||
            file.format() == osmium::io::file_format::opl) {
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
