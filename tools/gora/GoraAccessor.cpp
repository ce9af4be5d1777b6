#include "GoraAccessor.h"

#include <dlfcn.h>

#include <array>
#include <cstdlib>
#include <filesystem>

#include <cpl_conv.h>
#include <cpl_conv.h>
#include <cpl_vsi.h>

#include "GoraOptions.h"
#include "GoraTiles.h"

using namespace KRC;
namespace fs = std::filesystem;

namespace gora {

Error::Error(const std::string& file, const std::string& what)
    : std::runtime_error(file.empty() ? what : file + ": " + what)
{
}

namespace {

constexpr const char* kModuleName = "GORasterAccessorPlugin.so";

std::string ModulePath(const Globals& globals)
{
    return globals.moduleDir.empty() ? FindBesideGora(kModuleName, "lib/GORasterAccessorPlugin")
                                     : globals.moduleDir + "/" + kModuleName;
}

} // namespace

std::string FindBesideGora(const std::string& name, const std::string& installedDir, const std::string& probe)
{
    std::error_code ignored;
    const fs::path exeDir = fs::read_symlink("/proc/self/exe", ignored).parent_path();
    const std::array<fs::path, 2> candidates = {exeDir / name, exeDir / ".." / installedDir / name};
    for (const fs::path& candidate : candidates) {
        if (fs::exists(probe.empty() ? candidate : candidate / probe, ignored))
            return candidate.lexically_normal().string();
    }
    return candidates[0].string();
}

void AddGlobalOptions(CLI::App& app, Globals& globals)
{
    if (const char* env = std::getenv("GORA_MODULE_DIR"))
        globals.moduleDir = AbsolutePath(env);
    app.add_option("--module-dir", globals.moduleDir,
                   "folder of GORasterAccessorPlugin.so (default: $GORA_MODULE_DIR, else beside gora, else "
                   "../lib/GORasterAccessorPlugin)")
        ->transform(MakesAbsolute());
}

void Accessor::SetColorDict(std::unique_ptr<KRColorDictTable> dict)
{
    m_accessor->SetColorDict(dict.get());
    m_colorDict = std::move(dict);
}

Accessor NewAccessor(const Globals& globals)
{
    const std::string path = ModulePath(globals);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw Error(path, std::string("cannot load the module: ") + dlerror());
    Accessor accessor;
    accessor.m_module.reset(handle, [](void* h) { dlclose(h); });
    auto create = reinterpret_cast<KRCreatePluginFunc>(dlsym(handle, "CreatePluginInstance"));
    if (create == nullptr)
        throw Error(path, "the module has no CreatePluginInstance");
    std::unique_ptr<KRPlugin> plugin(create());
    if (!plugin || !plugin->IsRasterDataAccessorPlugin())
        throw Error(path, "the module did not create a raster accessor");
    accessor.m_accessor.reset(static_cast<KRRasterDataAccessor*>(plugin.release()));
    return accessor;
}

Accessor OpenSource(const Globals& globals, const Source& source)
{
    VSIStatBufL stat;
    if (VSIStatL(source.raster.c_str(), &stat) != 0)
        throw Error(source.raster, "no such file");
    Accessor accessor = NewAccessor(globals);
    // The module reads the mode when it opens a raster; gora asks for accurate mode unless told not to.
    CPLSetConfigOption("GORA_ACCURATE", source.noAccurate ? "NO" : "YES");
    if (!accessor->OpenForRead(KRString(source.raster.c_str())))
        throw Error(source.raster, "not a raster that GDAL or the NSDTF-DEM reader can open");
    if (!source.proj4.empty() && !accessor->ImportProjectionRefFromProj4(source.proj4.c_str()))
        throw Error(source.raster, "cannot use the coordinate system " + source.proj4);
    return accessor;
}

// ---------------------------------------------------------------------------
// Fetches

namespace {

ImagePtr Delivered(GetchResult result, ImagePtr image, KRImageData* newImage)
{
    ImagePtr replacement(newImage);
    if (result != GetchResult_Delivered)
        return nullptr;
    return replacement ? std::move(replacement) : std::move(image);
}

ImagePtr NewImage(int width, int height, enumPixelFormat format)
{
    auto image = std::make_unique<KRImageData>();
    image->m_nWidth = width;
    image->m_nHeight = height;
    image->SetPixelFormat(format);
    if (!image->CreateData())
        throw Error("", "cannot allocate a " + std::to_string(width) + " x " + std::to_string(height) + " image");
    return image;
}

} // namespace

ImagePtr FetchImageTile(KRRasterDataAccessor& accessor, const TileRef& tile, bool flip)
{
    if (!flip) {
        KRImageData* image = nullptr;
        const GetchResult result = accessor.FetchImageData(image, tile.x, tile.y, tile.level);
        return Delivered(result, ImagePtr(image), nullptr);
    }
    // The format the tile operation itself would choose.
    const bool alpha = accessor.GetBandCount() > 3 && !accessor.IsIgnoreAlpha();
    constexpr int kTileSide = 256;
    ImagePtr image = NewImage(kTileSide, kTileSide, alpha ? PF_A8R8G8B8 : PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result = accessor.FetchImageData(image.get(), newImage, TileBounds(tile), nullptr, true);
    return Delivered(result, std::move(image), newImage);
}

ImagePtr FetchImageRect(KRRasterDataAccessor& accessor, const KRRect2d& rect, int width, int height, bool flip)
{
    ImagePtr image = NewImage(width, height, PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result = accessor.FetchImageData(image.get(), newImage, rect, nullptr, flip);
    return Delivered(result, std::move(image), newImage);
}

ImagePtr FetchQuickRect(KRRasterDataAccessor& accessor, const KRRect2d& rect, int width, int height,
                        std::vector<int> bandMap, bool flip)
{
    ImagePtr image = NewImage(width, height, PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result =
        accessor.QucikFetchImageData(image.get(), newImage, rect, bandMap.size() == 4 ? bandMap.data() : nullptr, flip);
    return Delivered(result, std::move(image), newImage);
}

} // namespace gora
