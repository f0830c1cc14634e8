// Reading OpenStreetMap files: a coordinate written with an exponent is
// refused, in one line naming the file, before the library parses it, however
// it is written and wherever it stands, in XML or in the one-line-per-object
// text format; an exponent elsewhere is no coordinate.
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

    // The one-line-per-object format: a node's x and y, and a way's node list.
    const std::string opl = (dir / "plain.opl").string();
    std::ofstream(opl) << "n1 v1 Tele=5.2e2,name=Eberstr. x11.575 y48.136\n"
                          "n2 v1 T x11.576 y48.137\nw3 v1 Thighway=residential Nn1,n2\n";
    ASSERT_TRUE(read_osm_file(opl, map, error)) << error;
    EXPECT_NEAR(map.nodes.at(1).lat, 48.136, 1e-7);
    EXPECT_EQ(map.ways.size(), 1u);
    for (const auto& [text, shown] :
         {std::pair{"n1 v1 T x11.575 y48.136e10\n", "field \"y48.136e10\" at line 1"},
          std::pair{"n1 v1 T x11.575 y48.136\nn2 v1 T x1E3 y48.1", "field \"x1E3\" at line 2"},
          std::pair{"n1 v1 T x11.5 y48.1\nw3 v1 T Nn1x11.5y4e8,n2\n",
                    "field \"Nn1x11.5y4e8,n2\" at line 2"}}) {
        SCOPED_TRACE(text);
        const std::string path = (dir / "exponent.opl").string();
        std::ofstream(path) << text;
        EXPECT_FALSE(read_osm_file(path, map, error));
        EXPECT_EQ(error, path + ": a coordinate with an exponent, " + shown +
                             ": coordinates are plain decimal degrees");
        EXPECT_FALSE(read_osm_bytes(text, "opl", map, error));
    }
    fs::remove_all(dir);
}

}  // namespace
