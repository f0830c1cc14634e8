// Reading OpenStreetMap files: a coordinate written with an exponent is
// refused, in one line naming the file, before the library parses it, however
// it is written and wherever it stands; an exponent elsewhere is no coordinate.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "places/osm_import.h"

namespace {

namespace fs = std::filesystem;

// A tiny map: its bounds and one node, with these texts for the coordinates.
std::string tiny_osm(const std::string& maxlat, const std::string& lat) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n"
           "<osm version=\"0.6\">\n"
           "  <bounds minlat=\"48.1\" minlon=\"11.5\" maxlat=\"" + maxlat + "\" maxlon=\"11.6\"/>\n"
           "  <node id=\"1\" lat=\"" + lat + "\" lon=\"11.575\">\n"
           "    <tag k=\"ele\" v=\"5.2e2\"/>\n"
           "  </node>\n"
           "</osm>\n";
}

TEST(ReadOsm, CoordinatesWithAnExponentAreRefusedBeforeTheyAreRead) {
    const fs::path dir = fs::temp_directory_path() / ("marovel-osm-read-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string plain = (dir / "plain.osm").string();
    std::ofstream(plain) << tiny_osm("48.2", "48.136");
    OsmMap map;
    std::string error;
    ASSERT_TRUE(read_osm_file(plain, map, error)) << error;
    ASSERT_EQ(map.nodes.size(), 1u);
    EXPECT_NEAR(map.nodes.at(1).lat, 48.136, 1e-7);
    EXPECT_NEAR(map.bounds.maxLat, 48.2, 1e-7);

    struct Case {
        std::string maxlat, lat, shown;
    };
    for (const Case& c : {Case{"48.2", "48.136e10", "node lat=\"48.136e10\" at line 4"},
                          Case{"48.2", "48.136E99999", "node lat=\"48.136E99999\" at line 4"},
                          Case{"48.2", "48.136&#101;10", "node lat=\"48.136e10\" at line 4"},
                          Case{"48.2e10", "48.136", "bounds maxlat=\"48.2e10\" at line 3"}}) {
        SCOPED_TRACE(c.shown);
        const std::string text = tiny_osm(c.maxlat, c.lat);
        const std::string osm = (dir / "exponent.osm").string(), gz = osm + ".gz";
        std::ofstream(osm) << text;
        gzFile out = gzopen(gz.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
                  static_cast<int>(text.size()));
        ASSERT_EQ(gzclose(out), Z_OK);
        for (const std::string& path : {osm, gz}) {
            EXPECT_FALSE(read_osm_file(path, map, error)) << path;
            EXPECT_EQ(error.rfind(path + ": a coordinate with an exponent, " + c.shown, 0), 0u)
                << error;
            EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        }
        EXPECT_FALSE(read_osm_bytes(text, "osm", map, error));
        EXPECT_EQ(error.rfind("a coordinate with an exponent, " + c.shown, 0), 0u) << error;
    }
    fs::remove_all(dir);
}

}  // namespace
