// gora: a command-line host for the raster accessor module. It loads the
// module with dlopen and talks to it only through CreatePluginInstance and the
// accessor's virtual operations, exactly as the host application does.
#include <iostream>

#include <gdal.h>

#include "GoraCommands.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130; // as shells report a SIGINT
// GDAL's block cache grows to a share of the machine's memory; pictures made
// in strips stay small only with a bounded one. GDAL_CACHEMAX overrides it.
constexpr GIntBig kBlockCacheBytes = 256LL << 20;

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"gora: drive the raster accessor module as the host does"};
    app.set_version_flag("--version", "gora " GORA_VERSION);
    gora::Globals globals;
    gora::AddGlobalOptions(app, globals);
    app.require_subcommand(1);

    gora::AddDescribeCommands(app, globals);
    gora::AddImageCommands(app, globals);
    gora::AddRenderCommands(app, globals);
    gora::AddTerrainCommands(app, globals);
    gora::AddDirectCommands(app, globals);
    gora::AddDem2TifCommand(app, globals);
    gora::AddServeCommands(app, globals);

    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
        GDALSetCacheMax64(kBlockCacheBytes);
    gora::CatchInterrupt();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : kUsage;
    } catch (const gora::Interrupted& e) {
        std::cout << (gora::ProgressLineOpen() ? "\n" : "") << std::flush;
        std::cerr << "gora: " << e.what() << "\n";
        return kInterrupted;
    } catch (const std::exception& e) { // gora::Error and what GDAL or the library threw
        std::cerr << "gora: " << e.what() << "\n";
        return kFailed;
    }
    return 0;
}
