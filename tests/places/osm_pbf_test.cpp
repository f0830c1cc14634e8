// PBF, the format most extracts come in: both real extracts written as PBF
// here with libosmium's own writer import into the towns their XML makes, and a
// PBF cut short is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <osmium/io/any_input.hpp>
#include <osmium/io/pbf_output.hpp>

#include "places/osm_import.h"

namespace {

namespace fs = std::filesystem;
const std::string OSM = MAROVEL_SOURCE_DIR "/tests/data/osm/";

// `from` (any format libosmium reads) written to `to` as PBF, header and all.
void write_pbf(const std::string& from, const std::string& to) {
    osmium::io::Reader reader{from};
    osmium::io::Header header = reader.header();
    osmium::io::Writer writer{to, header, osmium::io::overwrite::allow};
    while (osmium::memory::Buffer buffer = reader.read()) writer(std::move(buffer));
    writer.close();
    reader.close();
}

struct Imported {
    OsmMap map;
    Town town;
    ImportReport report;
    std::string error;
    explicit Imported(const std::string& path) {
        if (read_osm_file(path, map, error)) import_town(map, ImportOptions{}, town, report, error);
    }
};

TEST(ImportPbf, BothExtractsAsPbfMakeTheTownsOfTheirXml) {
    const fs::path dir = fs::temp_directory_path() / ("marovel-pbf-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const std::string file : {"west-oakland.osm.bz2", "small-german-village.osm"}) {
        SCOPED_TRACE(file);
        const std::string pbf = (dir / (file.substr(0, file.find(".osm")) + ".osm.pbf")).string();
        write_pbf(OSM + file, pbf);
        const Imported xml(OSM + file), fromPbf(pbf);
        ASSERT_TRUE(xml.error.empty()) << xml.error;
        ASSERT_TRUE(fromPbf.error.empty()) << fromPbf.error;
        EXPECT_EQ(fromPbf.map.hasBounds, xml.map.hasBounds);
        EXPECT_EQ(fromPbf.map.nodes.size(), xml.map.nodes.size());
        EXPECT_EQ(fromPbf.map.ways.size(), xml.map.ways.size());
        EXPECT_EQ(fromPbf.map.relations, xml.map.relations);
        EXPECT_TRUE(same_town(fromPbf.town, xml.town));
        EXPECT_EQ(format_import_report(fromPbf.report), format_import_report(xml.report));
        EXPECT_GT(xml.town.houses.size(), 10u);

        // Cut in half: one line naming the file, nothing read.
        std::ifstream in(pbf, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const std::string cut = (dir / "cut.osm.pbf").string();
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
        OsmMap map;
        std::string error;
        EXPECT_FALSE(read_osm_file(cut, map, error));
        EXPECT_EQ(error.rfind(cut + ": not a whole OpenStreetMap file", 0), 0u) << error;
    }
    fs::remove_all(dir);
}

}  // namespace
