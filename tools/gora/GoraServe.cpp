// serve: the rasters on a 3-D globe in the browser. An HTTP server in front of
// two accessors, one for imagery and one for terrain, driven through the tile
// operations the host uses.
#include "GoraServe.h"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

#include <httplib.h>

#include "GoraCommands.h"

using namespace KRC;
namespace fs = std::filesystem;

namespace gora {

namespace {

constexpr int kTerrainSamples = 33;
constexpr int kImagePixels = 256;
//! The finest level whose column count, 2^(level + 1), fits the host's int.
constexpr int kLastLevel = 29;
constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kWebDirName = "gora-web";

//! A whole decimal int and nothing else (no '+', spaces or overflow).
bool ParseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

//! 33 x 33 heights as floats in the machine's byte order (the page's too),
//! rows from north to south as the page's heightmap wants them; zeros where
//! the accessor delivered nothing.
std::string TerrainTileBytes(KRRasterDataAccessor& terrain, const TileRef& tile)
{
    std::vector<float> heights(static_cast<size_t>(kTerrainSamples) * kTerrainSamples, 0.0f);
    KRTerrainData* grid = nullptr;
    const GetchResult result = terrain.FetchTerrainData(grid, tile.x, tile.y, tile.level);
    const std::unique_ptr<KRTerrainData> owned(grid);
    if (result == GetchResult_Delivered && owned && owned->GetWidth() == kTerrainSamples &&
        owned->GetHeight() == kTerrainSamples) {
        for (int r = 0; r < kTerrainSamples; ++r) {
            float* northFirst = &heights[static_cast<size_t>(kTerrainSamples - 1 - r) * kTerrainSamples];
            for (int c = 0; c < kTerrainSamples; ++c)
                northFirst[c] = static_cast<float>(owned->GetValue(r, c));
        }
    }
    return std::string(reinterpret_cast<const char*>(heights.data()), heights.size() * sizeof(float));
}

std::string AsText(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string ImageTilePng(const ServedRasters& rasters, const TileRef& tile)
{
    const ImagePtr image = FetchImageTile(rasters.imagery, tile, rasters.flip);
    return image ? AsText(EncodePng(PictureOfImage(*image))) : std::string();
}

void NoStore(httplib::Response& res)
{
    res.set_header("Cache-Control", "no-store");
}

//! httplib compresses a body for clients that accept brotli, at brotli's
//! slowest setting: tens of seconds for CesiumJS. A body handed over through a
//! content provider goes out as it is.
void SendAsIs(httplib::Response& res)
{
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type"); // set again below
    res.set_content_provider(body->size(), type, [body](size_t offset, size_t length, httplib::DataSink& sink) {
        return offset <= body->size() && length <= body->size() - offset && sink.write(body->data() + offset, length);
    });
}

//! Level, column and row from the text of a tile URL: 400 when a number is
//! malformed, 404 when the tiling has no such tile, else 200 and `tile`.
int ParseTile(const std::string& level, const std::string& x, const std::string& y, TileRef& tile)
{
    TileRef t;
    if (!ParseInt(level, t.level) || !ParseInt(x, t.x) || !ParseInt(y, t.y))
        return 400;
    if (t.level < 0 || t.level > kLastLevel)
        return 404;
    const int columns = 2 << t.level;
    const int rows = 1 << t.level;
    if (t.x < 0 || t.x >= columns || t.y < 0 || t.y >= rows)
        return 404;
    tile = t;
    return 200;
}

} // namespace

struct TileServer::Routes {
    ServedRasters rasters;
    std::string transparentTile;
    std::string description; //!< both rasters described once: they do not change while served
    httplib::Server server;

    explicit Routes(const ServedRasters& served)
        : rasters(served), transparentTile(AsText(EncodePng(Picture(kImagePixels, kImagePixels, 4)))),
          description(nlohmann::json{{"imagery", Describe(served.imagery, served.accurate)},
                                     {"terrain", served.terrain != nullptr ? Describe(*served.terrain, served.accurate)
                                                                           : nlohmann::json(nullptr)}}
                          .dump())
    {
    }

    //! The tile of a tile route; answers 400 or 404 itself when there is none.
    static bool TileOf(const httplib::Request& req, httplib::Response& res, TileRef& tile)
    {
        res.status = ParseTile(req.matches[1], req.matches[2], req.matches[3], tile);
        if (res.status == 200)
            return true;
        res.set_content(res.status == 400 ? "malformed tile numbers\n" : "no such tile\n", "text/plain");
        return false;
    }

    void ImageTile(const httplib::Request& req, httplib::Response& res) const
    {
        TileRef tile;
        if (!TileOf(req, res, tile))
            return;
        const std::string png = ImageTilePng(rasters, tile);
        res.set_content(png.empty() ? transparentTile : png, "image/png");
        NoStore(res);
    }

    void TerrainTile(const httplib::Request& req, httplib::Response& res) const
    {
        TileRef tile;
        if (!TileOf(req, res, tile))
            return;
        if (rasters.terrain == nullptr) {
            res.status = 404;
            res.set_content("no terrain is served\n", "text/plain");
            return;
        }
        res.set_content(TerrainTileBytes(*rasters.terrain, tile), "application/octet-stream");
        NoStore(res);
    }

    void Description(httplib::Response& res) const
    {
        res.set_content(description, "application/json");
        NoStore(res);
    }
};

TileServer::TileServer(const ServedRasters& rasters, const std::string& webDir)
    : m_pRoutes(std::make_unique<Routes>(rasters))
{
    Routes& r = *m_pRoutes;
    r.server.Get(R"(/tiles/image/([^/]+)/([^/]+)/([^/]+)\.png)",
                 [&r](const httplib::Request& req, httplib::Response& res) { r.ImageTile(req, res); });
    r.server.Get(R"(/tiles/terrain/([^/]+)/([^/]+)/([^/]+)\.f32)",
                 [&r](const httplib::Request& req, httplib::Response& res) { r.TerrainTile(req, res); });
    r.server.Get("/api/description", [&r](const httplib::Request&, httplib::Response& res) { r.Description(res); });
    r.server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        res.status = 500;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            res.set_content(std::string(e.what()) + "\n", "text/plain");
        } catch (...) {
        }
    });
    r.server.set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
    // Without SO_REUSEPORT: a second server on a port in use must fail to bind,
    // not share the port and answer half the requests.
    r.server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // The page's folder is the only one served: httplib refuses paths that climb out of it.
    r.server.set_mount_point("/", webDir);
    r.server.set_file_request_handler([](const httplib::Request&, httplib::Response& res) { SendAsIs(res); });
}

TileServer::~TileServer() = default;

int TileServer::Bind(int port)
{
    httplib::Server& server = m_pRoutes->server;
    if (port == 0)
        return server.bind_to_any_port(kLoopback);
    return server.bind_to_port(kLoopback, port) ? port : -1;
}

bool TileServer::Listen()
{
    m_bListening = true;
    const bool ran = m_bStopRequested || m_pRoutes->server.listen_after_bind();
    m_bListening = false;
    return ran;
}

void TileServer::Stop()
{
    m_bStopRequested = true;
    // httplib ignores a stop that comes before its loop runs: once Listen has
    // begun, wait for the loop (or for Listen to give up) before stopping it.
    while (m_bListening && !m_pRoutes->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_pRoutes->server.stop();
}

bool HoldsElevation(KRRasterDataAccessor& raster)
{
    if (raster.GetBandCount() != 1)
        return false;
    GDALDatasetUniquePtr dataset = OpenWithGdal(raster.GetFileName().Cstr());
    return !dataset || dataset->GetRasterBand(1)->GetColorTable() == nullptr; // NSDTF-DEM grids hold elevations
}

namespace {

struct ServeArgs {
    Source source;
    std::string terrain;
    int port = 8080;
    std::string webDir;
    DisplayOptions display;
};

//! The first terrain fetch of an NSDTF-DEM file reads its grid, which must not
//! happen on two threads at once; one fetch before serving does it.
void ReadTerrainOnce(KRRasterDataAccessor& terrain)
{
    const KRRect2d bounds = terrain.GetLatLonBounds().GetGeoBounds();
    const TileRef tile = TileAt((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2, 0);
    TerrainTileBytes(terrain, tile);
}

//! Serves until SIGINT or SIGTERM. The signals are blocked before any server
//! thread exists, so every thread inherits the block and only the waiter
//! receives them.
void ServeUntilSignalled(TileServer& server, int port)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const int bound = server.Bind(port);
    if (bound < 0)
        throw Error(std::string(kLoopback) + ":" + std::to_string(port),
                    "cannot listen there: the port is in use (another gora serve?) or not allowed");
    std::thread waiter([&server, &stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (signal == SIGINT)
            std::cout << "\ngora serve: stopped" << std::endl; // after the ^C the terminal echoes
        server.Stop();
    });
    std::cout << "gora serve: http://" << kLoopback << ":" << bound << "/ (Ctrl-C stops)" << std::endl;
    const bool ran = server.Listen();
    pthread_kill(waiter.native_handle(), SIGTERM); // wakes the waiter when the server stopped by itself
    waiter.join();
    if (!ran)
        throw Error("", "the server stopped unexpectedly");
}

void RunServe(const Globals& globals, const ServeArgs& args)
{
    const std::string webDir =
        args.webDir.empty() ? FindBesideGora(kWebDirName, "share/GORasterAccessorPlugin", "index.html") : args.webDir;
    std::error_code ignored;
    if (!fs::exists(fs::path(webDir) / "index.html", ignored))
        throw Error(webDir, "the page is missing (the build makes it when npm is installed)");
    Accessor imagery = OpenForDisplay(globals, args.source, args.display);
    std::optional<Accessor> terrain;
    if (!args.terrain.empty())
        terrain.emplace(OpenSource(globals, Source{args.terrain, "", args.source.noAccurate}));
    else if (HoldsElevation(*imagery))
        terrain.emplace(OpenSource(globals, args.source));
    else
        std::cout << "gora serve: " << args.source.raster
                  << " is an image, not elevations: the globe stays flat (--terrain DEM gives it relief)\n";
    if (terrain)
        ReadTerrainOnce(**terrain);
    std::cout << "gora serve: "
              << (!args.source.noAccurate ? "accurate mode (tiles agree at every level; --no-accurate turns it off)"
                                          : "the module's default geometry (--no-accurate)")
              << "\n";
    TileServer server({*imagery, terrain ? &**terrain : nullptr, args.display.flip, !args.source.noAccurate}, webDir);
    ServeUntilSignalled(server, args.port);
}

} // namespace

void AddServeCommands(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("serve", "show the raster on a 3-D globe in the browser, at http://127.0.0.1:PORT/");
    auto args = std::make_shared<ServeArgs>();
    AddSource(*cmd, args->source);
    AddInputFile(*cmd, args->terrain, "--terrain",
                 "elevation raster or NSDTF-DEM file for the terrain (default: RASTER)");
    cmd->add_option("--port", args->port, "port on 127.0.0.1; 0 lets the system choose")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    AddInputFile(*cmd, args->webDir, "--web-dir", "folder of the page (default: gora-web beside gora)");
    AddDisplayOptions(*cmd, args->display);
    cmd->callback([&globals, args] { RunServe(globals, *args); });
}

} // namespace gora
