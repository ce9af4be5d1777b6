// A host in miniature: load the installed module, open a raster, fetch a
// terrain tile and an image tile, as the host application does.
#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <type_traits>

#include "KRGORasterAccessorPlugin.h"

// The module's own class, as the installed header declares it, is an accessor.
static_assert(std::is_base_of_v<KRC::KRRasterDataAccessor, KRC::KRGORasterAccessorPlugin>);

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    void* module = dlopen(KR_MODULE, RTLD_NOW | RTLD_LOCAL);
    auto create = module ? reinterpret_cast<KRC::KRCreatePluginFunc>(dlsym(module, "CreatePluginInstance")) : nullptr;
    if (create == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", KR_MODULE);
        return 1;
    }
    int status = 1;
    {
        std::unique_ptr<KRC::KRPlugin> plugin(create());
        auto* accessor = static_cast<KRC::KRRasterDataAccessor*>(plugin.get());
        if (accessor->IsRasterDataAccessorPlugin() && accessor->OpenForRead(argv[1])) {
            KRC::KRTerrainData* terrain = nullptr;
            const KRC::GetchResult result = accessor->FetchTerrainData(terrain, 2129, 498, 11); // 7.2 E 46.15 N
            std::unique_ptr<KRC::KRTerrainData> grid(terrain);
            std::printf("%llu x %llu pixels, coordinate kind %d, terrain tile %d (%d x %d)\n",
                        static_cast<unsigned long long>(accessor->GetWidth()),
                        static_cast<unsigned long long>(accessor->GetHeight()), accessor->GetProjType(),
                        static_cast<int>(result), grid ? grid->GetWidth() : 0, grid ? grid->GetHeight() : 0);
            status = result == KRC::GetchResult_Delivered ? 0 : 1;
        }
    }
    dlclose(module);
    return status;
}
