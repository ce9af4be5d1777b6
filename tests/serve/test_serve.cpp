// gora serve's HTTP side: tile answers, bad addresses, the page's folder as the
// only one served, and concurrent requests, against rasters made here.
#include <array>
#include <cstring>
#include <thread>

#include <httplib.h>

#include "GoraCore.h"
#include "GoraServe.h"
#include "KRTestSupport.h"

namespace {

constexpr int kSamples = 33;
using Rgba = std::array<int, 4>;
const Rgba kRed{200, 0, 0, 255};
const Rgba kBlue{0, 0, 200, 255};

//! Imagery: a 3-band raster over 10..20 E, 40..45 N whose northern half is red
//! and southern half blue. Terrain: a plane rising 100 m per degree northward.
class ServeTest : public ::testing::Test {
protected:
    static constexpr double kNorth = 45.0, kPixel = 0.05;

    void SetUp() override
    {
        GDALAllRegister();
        krtest::RasterLayout image;
        image.width = 200;
        image.height = 100;
        image.bands = 3;
        image.type = GDT_Byte;
        image.geoTransform = {10.0, kPixel, 0, kNorth, 0, -kPixel};
        image.wkt = krtest::WktOfEpsg(4326);
        image.value = [](int band, int, int row) { return band == (row < 50 ? 1 : 3) ? 200.0 : 0.0; };
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("image.tif"), image));
        krtest::RasterLayout dem = image;
        dem.bands = 1;
        dem.type = GDT_Float32;
        dem.value = [](int, int, int row) { return 1000.0 + 100.0 * (kNorth - kPixel * row); };
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("dem.tif"), dem));

        std::filesystem::create_directory(m_dir.File("web"));
        krtest::WriteText(m_dir.File("web/index.html"), "<p>page</p>");
        krtest::WriteText(m_dir.File("secret.txt"), "beside the page's folder");

        const gora::Globals globals{KR_MODULE_DIR};
        m_imagery = std::make_unique<gora::Accessor>(gora::OpenSource(globals, {m_dir.File("image.tif"), ""}));
        m_terrain = std::make_unique<gora::Accessor>(gora::OpenSource(globals, {m_dir.File("dem.tif"), ""}));
        Serve(false);
    }

    void TearDown() override { StopServing(); }

    void Serve(bool flip)
    {
        StopServing();
        m_server =
            std::make_unique<gora::TileServer>(gora::ServedRasters{**m_imagery, **m_terrain, flip}, m_dir.File("web"));
        m_port = m_server->Bind(0);
        ASSERT_GT(m_port, 0);
        m_listener = std::thread([this] { m_server->Listen(); });
    }

    void StopServing()
    {
        if (m_listener.joinable()) {
            m_server->Stop();
            m_listener.join();
        }
    }

    httplib::Result Get(const std::string& path) { return httplib::Client("127.0.0.1", m_port).Get(path); }

    //! The body of a 200 answer of that type; empty (and a failure) otherwise.
    std::string Body(const std::string& path, const std::string& type)
    {
        const auto res = Get(path);
        if (!res || res->status != 200 || res->get_header_value("Content-Type") != type) {
            ADD_FAILURE() << path << ": no 200 answer of type " << type;
            return {};
        }
        return res->body;
    }

    krtest::Png ImageTile(const std::string& path)
    {
        krtest::WriteText(m_dir.File("tile.png"), Body(path, "image/png"));
        return krtest::ReadPng(m_dir.File("tile.png"));
    }

    std::vector<float> TerrainTile(const std::string& path)
    {
        const std::string body = Body(path, "application/octet-stream");
        std::vector<float> heights(body.size() / sizeof(float));
        std::memcpy(heights.data(), body.data(), heights.size() * sizeof(float));
        return heights;
    }

    krtest::TempDir m_dir;
    std::unique_ptr<gora::Accessor> m_imagery, m_terrain;
    std::unique_ptr<gora::TileServer> m_server;
    int m_port = -1;
    std::thread m_listener;
};

// Level 5 tiles are 5.625 degrees: column 33 spans 5.625..11.25 E, row 8 spans
// 45..39.375 N, so the raster covers only its eastern part. Pixel centres:
// column 250 lies at 11.1 E, row 10 at 44.8 N, row 200 at 40.6 N.
TEST_F(ServeTest, ImageTilesAreNorthUpRgbaTransparentOffTheRasterAndFlipOnRequest)
{
    for (const bool flip : {false, true}) {
        Serve(flip);
        const krtest::Png png = ImageTile("/tiles/image/5/33/8.png");
        ASSERT_EQ(png.width, 256);
        ASSERT_EQ(png.height, 256);
        ASSERT_EQ(png.bands, 4);
        EXPECT_EQ(png.At(10, 250), flip ? kBlue : kRed);
        EXPECT_EQ(png.At(200, 250), flip ? kRed : kBlue);
        EXPECT_EQ(png.At(128, 20)[3], 0) << "west of 10 E there is no raster";
    }
    const krtest::Png none = ImageTile("/tiles/image/5/0/0.png");
    ASSERT_EQ(none.bands, 4);
    EXPECT_EQ(none.At(0, 0)[3], 0);
    EXPECT_EQ(none.At(255, 255)[3], 0);
}

// Level 6 tile (67, 16) spans 8.4375..11.25 E and 45..42.1875 N: its northern
// edge lies on the raster's and its southern edge 2.8125 degrees further south.
TEST_F(ServeTest, TerrainTileRowsRunFromNorthToSouthAndAreFlatOffTheRaster)
{
    const std::vector<float> heights = TerrainTile("/tiles/terrain/6/67/16.f32");
    ASSERT_EQ(heights.size(), static_cast<size_t>(kSamples * kSamples));
    const int east = kSamples - 1;
    // Within one source pixel's rise: where a sample sits inside its pixel is the module's business.
    EXPECT_NEAR(heights[east], 1000.0 + 100.0 * 45.0, 100.0 * kPixel);
    EXPECT_NEAR(heights[(kSamples - 1) * kSamples + east], 1000.0 + 100.0 * (45.0 - 2.8125), 100.0 * kPixel);
    EXPECT_EQ(heights[kSamples / 2 * kSamples], 0.0f) << "west of 10 E there is no raster";
    EXPECT_EQ(TerrainTile("/tiles/terrain/2/0/0.f32"), std::vector<float>(kSamples * kSamples, 0.0f));
}

TEST_F(ServeTest, DescriptionGivesBothRastersBounds)
{
    const auto description = nlohmann::json::parse(Body("/api/description", "application/json"));
    const nlohmann::json want = {{"west", 10.0}, {"south", 40.0}, {"east", 20.0}, {"north", 45.0}};
    for (const char* which : {"imagery", "terrain"}) {
        for (const auto& [side, value] : want.items())
            EXPECT_NEAR(description.at(which).at("wgs84Bounds").at(side).get<double>(), value, 1e-9) << which << side;
    }
}

// Level 0 has columns 0 and 1 and row 0 only; level 29 is the finest.
TEST_F(ServeTest, AnswersOnlyTilesThePageAndItsFolder)
{
    const std::vector<const char*> ok = {"/", "/index.html", "/tiles/image/0/1/0.png",
                                         "/tiles/terrain/29/1073741823/536870911.f32"};
    const std::vector<const char*> malformed = {"/tiles/image/a/0/0.png", "/tiles/image/2/+1/0.png",
                                                "/tiles/terrain/2/1/0x1.f32", "/tiles/terrain/2/99999999999/0.f32"};
    const std::vector<const char*> noTile = {"/tiles/image/0/2/0.png",    "/tiles/image/0/0/1.png",
                                             "/tiles/image/2/1.png",      "/tiles/terrain/30/0/0.f32",
                                             "/tiles/terrain/-1/0/0.f32", "/tiles/image/2/-1/0.png"};
    const std::vector<const char*> noFile = {"/../secret.txt", "/%2e%2e/secret.txt", "/web/../../secret.txt",
                                             "/api/other"};
    for (const auto& [status, paths] : {std::pair{200, ok}, {400, malformed}, {404, noTile}, {404, noFile}}) {
        for (const char* path : paths) {
            const auto res = Get(path);
            ASSERT_TRUE(res) << path;
            EXPECT_EQ(res->status, status) << path;
            EXPECT_EQ(res->body.find("beside the page"), std::string::npos) << path;
        }
    }
}

// The host calls one accessor from several threads; so does the server.
TEST_F(ServeTest, ConcurrentRequestsGetTheSameAnswersAsOneAtATime)
{
    const std::vector<std::string> paths = {"/tiles/image/5/33/8.png", "/tiles/terrain/6/67/16.f32",
                                            "/tiles/image/6/67/16.png", "/tiles/terrain/5/33/8.f32"};
    std::vector<std::string> expected;
    for (const std::string& path : paths) {
        const auto res = Get(path);
        ASSERT_TRUE(res && res->status == 200) << path;
        expected.push_back(res->body);
    }
    constexpr size_t kThreads = 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> clients;
    for (size_t t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", m_port);
            for (size_t i = 0; i < 8 * paths.size(); ++i) {
                const auto res = client.Get(paths[(i + t) % paths.size()]);
                mismatches[t] += !res || res->status != 200 || res->body != expected[(i + t) % paths.size()];
            }
        });
    }
    for (std::thread& c : clients)
        c.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

} // namespace
