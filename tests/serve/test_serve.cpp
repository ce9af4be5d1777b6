// gora serve's HTTP side: tile answers, bad addresses, the page's folder as the
// only one served, and concurrent requests, against rasters made here.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include <httplib.h>

#include "GoraCore.h"
#include "GoraServe.h"
#include "KRTestSupport.h"

namespace {

constexpr int kSamples = 33;
constexpr double kNorth = 45.0, kPixel = 0.05;
using Rgba = std::array<int, 4>;
const Rgba kRed{200, 0, 0, 255}, kBlue{0, 0, 200, 255};

//! Imagery: 10..20 E, 40..45 N, its northern half red and its southern half
//! blue. Terrain: 10..15 E, 40..45 N, a plane rising 100 m per degree northward.
class ServeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        krtest::RasterLayout image{
            200, 100, 3, GDT_Byte, {10.0, kPixel, 0, kNorth, 0, -kPixel}, krtest::WktOfEpsg(4326), {}};
        image.value = [](int band, int, int row) { return band == (row < 50 ? 1 : 3) ? 200.0 : 0.0; };
        krtest::RasterLayout dem{100, 100, 1, GDT_Float32, image.geoTransform, image.wkt, {}};
        dem.value = [](int, int, int row) { return 1000.0 + 100.0 * (kNorth - kPixel * row); };
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("image.tif"), image) &&
                    krtest::WriteRaster(m_dir.File("dem.tif"), dem));
        std::filesystem::create_directory(m_dir.File("web"));
        krtest::WriteText(m_dir.File("web/index.html"), "<p>page</p>");
        krtest::WriteText(m_dir.File("secret.txt"), "beside the page's folder");
        const gora::Globals globals{KR_MODULE_DIR};
        m_imagery = std::make_unique<gora::Accessor>(gora::OpenSource(globals, {m_dir.File("image.tif"), ""}));
        m_terrain = std::make_unique<gora::Accessor>(gora::OpenSource(globals, {m_dir.File("dem.tif"), ""}));
        m_server =
            std::make_unique<gora::TileServer>(gora::ServedRasters{**m_imagery, &**m_terrain}, m_dir.File("web"));
        m_port = m_server->Bind(0);
        ASSERT_GT(m_port, 0);
        m_listener = std::thread([this] { m_server->Listen(); });
    }

    void TearDown() override
    {
        if (m_listener.joinable()) {
            m_server->Stop();
            m_listener.join();
        }
    }

    httplib::Result Get(const std::string& path) { return httplib::Client("127.0.0.1", m_port).Get(path); }

    //! The body of a 200 answer of the type the path's ending names; empty (and a failure) otherwise.
    std::string Body(const std::string& path)
    {
        const auto res = Get(path);
        const std::string type = path.back() == 'g'   ? "image/png"
                                 : path.back() == '2' ? "application/octet-stream"
                                                      : "application/json";
        if (res && res->status == 200 && res->get_header_value("Content-Type") == type)
            return res->body;
        ADD_FAILURE() << path << ": no 200 answer of type " << type;
        return {};
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
// Level 6 tile (67, 16) spans 8.4375..11.25 E and 45..42.1875 N: its northern
// edge lies on the raster's and its southern edge 2.8125 degrees further south.
TEST_F(ServeTest, TilesRunFromNorthToSouthAndAreEmptyOffTheRaster)
{
    for (const auto& [path, covered] :
         {std::pair{"/tiles/image/5/33/8.png", true}, {"/tiles/image/5/0/0.png", false}}) {
        krtest::WriteText(m_dir.File("tile.png"), Body(path));
        const krtest::Png png = krtest::ReadPng(m_dir.File("tile.png"));
        ASSERT_TRUE(png.width == 256 && png.height == 256 && png.bands == 4) << path;
        const Rgba red = png.At(10, 250), blue = png.At(200, 250);
        EXPECT_TRUE(covered ? red == kRed && blue == kBlue : red[3] + blue[3] == 0)
            << path << ": " << red[0] << " " << red[3] << ", " << blue[2] << " " << blue[3];
        EXPECT_EQ(png.At(128, 20)[3], 0) << "west of 10 E there is no raster";
    }
    for (const auto& [path, covered] :
         {std::pair{"/tiles/terrain/6/67/16.f32", true}, {"/tiles/terrain/2/0/0.f32", false}}) {
        const std::string body = Body(path);
        std::vector<float> h(kSamples * kSamples, -1.0f);
        ASSERT_EQ(body.size(), h.size() * sizeof(float)) << path;
        std::memcpy(h.data(), body.data(), body.size());
        // Within one source pixel's rise: where a sample sits inside its pixel is the module's business.
        EXPECT_NEAR(h[kSamples - 1], covered ? 1000.0 + 100.0 * 45.0 : 0.0, 100.0 * kPixel) << path;
        EXPECT_NEAR(h.back(), covered ? 1000.0 + 100.0 * (45.0 - 2.8125) : 0.0, 100.0 * kPixel) << path;
        EXPECT_EQ(h[kSamples / 2 * kSamples], 0.0f) << "west of 10 E there is no raster";
        EXPECT_TRUE(covered || std::all_of(h.begin(), h.end(), [](float v) { return v == 0.0f; })) << path;
    }
}

TEST_F(ServeTest, DescriptionGivesEachRastersBounds)
{
    const auto description = nlohmann::json::parse(Body("/api/description"));
    // Both describe as gora info does; the eastern edges tell the two rasters apart.
    EXPECT_NEAR(description["imagery"]["wgs84Bounds"]["east"].get<double>(), 20.0, 1e-9);
    EXPECT_NEAR(description["terrain"]["wgs84Bounds"]["east"].get<double>(), 15.0, 1e-9);
    // An image is not its own terrain; the DEM is.
    EXPECT_TRUE(!gora::HoldsElevation(**m_imagery) && gora::HoldsElevation(**m_terrain));
    // A second server cannot take the port the first one listens on.
    EXPECT_EQ(gora::TileServer(gora::ServedRasters{**m_imagery, nullptr}, m_dir.File("web")).Bind(m_port), -1);
}

// Level 0 has columns 0 and 1 and row 0 only; level 29 is the finest.
TEST_F(ServeTest, AnswersOnlyTilesThePageAndItsFolder)
{
    // clang-format off
    const std::pair<int, const char*> answers[] = {
        {200, "/"}, {200, "/index.html"}, {200, "/tiles/image/0/1/0.png"}, {200, "/tiles/terrain/29/1073741823/536870911.f32"},
        {400, "/tiles/image/a/0/0.png"}, {400, "/tiles/image/2/+1/0.png"}, {400, "/tiles/terrain/2/1/0x1.f32"},
        {400, "/tiles/terrain/2/99999999999/0.f32"},
        {404, "/tiles/image/0/2/0.png"}, {404, "/tiles/image/0/0/1.png"}, {404, "/tiles/image/2/1.png"},
        {404, "/tiles/terrain/30/0/0.f32"}, {404, "/tiles/terrain/-1/0/0.f32"}, {404, "/tiles/image/2/-1/0.png"},
        {404, "/secret.txt"}, {404, "/../secret.txt"}, {404, "/%2e%2e/secret.txt"}, {404, "/web/../../secret.txt"},
        {404, "/api/other"}};
    // clang-format on
    for (const auto& [status, path] : answers) {
        const auto res = Get(path);
        EXPECT_EQ(res ? res->status : 0, status) << path;
        EXPECT_TRUE(res && res->body.find("beside the page") == std::string::npos) << path;
    }
}

// The host calls one accessor from several threads; so does the server.
TEST_F(ServeTest, ConcurrentRequestsGetTheSameAnswersAsOneAtATime)
{
    const std::array<std::string, 4> paths = {"/tiles/image/5/33/8.png", "/tiles/terrain/6/67/16.f32",
                                              "/tiles/image/6/67/16.png", "/tiles/terrain/5/33/8.f32"};
    std::array<std::string, 4> expected;
    std::transform(paths.begin(), paths.end(), expected.begin(), [this](const std::string& p) { return Body(p); });
    std::atomic<int> mismatches{0};
    std::vector<std::thread> clients;
    for (size_t t = 0; t < 4; ++t)
        clients.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", m_port);
            for (size_t i = t; i < t + 32; ++i) {
                const auto res = client.Get(paths[i % 4]);
                mismatches += !res || res->status != 200 || res->body != expected[i % 4];
            }
        });
    for (std::thread& c : clients)
        c.join();
    EXPECT_EQ(mismatches, 0);
}

} // namespace
