// The module as the host sees it: loaded by name, created through its factory,
// its exports, the order of its virtual operations, and the object's life.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gtest/gtest.h>

#include "KRFetchTestSupport.h"

using KRC::KRGORasterAccessorPlugin;
using KRC::KRRasterDataAccessor;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

//! The module's dynamic symbols, demangled, as nm lists them.
std::set<std::string> ExportedSymbols()
{
    std::set<std::string> symbols;
    const std::string command = std::string("nm -D --defined-only -C --format=just-symbols ") + KR_PLUGIN_MODULE;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 4096> line{};
    while (pipe && fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr)
        symbols.emplace(line.data(), std::strcspn(line.data(), "\r\n"));
    return symbols;
}

// Loaded with dlopen, the factory found by its unmangled name; creating the object points GDAL at the data
// beside the host's Common library and makes that folder the current one.
TEST(PluginModule, FactoryCreatesTheNamedRasterAccessorAndPointsGdalAtItsData)
{
    void* module = dlopen(KR_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL); // left loaded: the process ends soon
    ASSERT_NE(module, nullptr) << dlerror();
    const auto create = reinterpret_cast<KRC::KRCreatePluginFunc>(dlsym(module, "CreatePluginInstance"));
    ASSERT_NE(create, nullptr);
    ASSERT_EQ(chdir("/"), 0);
    std::unique_ptr<KRRasterDataAccessor> accessor(static_cast<KRRasterDataAccessor*>(create()));
    ASSERT_NE(accessor, nullptr);
    EXPECT_STREQ(accessor->GetPuginName().Cstr(), "GORasterAccessorPlugin");
    EXPECT_TRUE(accessor->GetPluginType() == KRC::KRPlugin::Type_RasterDataAccessor &&
                accessor->IsRasterDataAccessorPlugin() && !accessor->IsVectorDataAccessorPlugin());
    EXPECT_NE(dynamic_cast<KRGORasterAccessorPlugin*>(accessor.get()), nullptr);
    const std::string moduleDir = std::string(KR_MODULE_DIR) + "/";
    EXPECT_EQ(std::filesystem::current_path().string() + "/", moduleDir);
    const char* gdalData = CPLGetConfigOption("GDAL_DATA", nullptr);
    ASSERT_NE(gdalData, nullptr);
    EXPECT_EQ(std::string(gdalData), moduleDir + "Resource/GDAL_DATA");
    // The link resolves to GDAL's real data: a file every GDAL data folder holds.
    EXPECT_TRUE(std::filesystem::exists(std::string(gdalData) + "/gdalvrt.xsd"));
    EXPECT_STREQ(CPLGetConfigOption("GDAL_FILENAME_IS_UTF8", ""), "NO");
    EXPECT_STREQ(CPLGetConfigOption("SHAPE_ENCODING", "unset"), "");
}

TEST(PluginModule, ExportsOnlyTheFactoryTheClassAndTheContainers)
{
    const std::set<std::string> symbols = ExportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm could not list the module's symbols";
    const char* allowed[] = {"KRC::KRGORasterAccessorPlugin::",
                             "vtable for KRC::KRGORasterAccessorPlugin",
                             "typeinfo for KRC::KRGORasterAccessorPlugin",
                             "typeinfo name for KRC::KRGORasterAccessorPlugin",
                             "KRC::KRArray<",
                             "KRC::KRList<"};
    for (const std::string& symbol : symbols)
        EXPECT_TRUE(symbol == "CreatePluginInstance" ||
                    std::any_of(std::begin(allowed), std::end(allowed),
                                [&](auto prefix) { return symbol.rfind(prefix, 0) == 0; }))
            << "unexpected export: " << symbol;
    // The factory, the class, and the container instances the host links against, one of each kind.
    for (const char* expected : {"CreatePluginInstance", "KRC::KRGORasterAccessorPlugin::KRGORasterAccessorPlugin()",
                                 "KRC::KRArray<double>::SetSize(int)", "KRC::KRArray<KRC::KRString>::GetSize() const",
                                 "KRC::KRList<KRC::KRProjectItem>::~KRList()"})
        EXPECT_EQ(symbols.count(expected), 1u) << "missing export: " << expected;
}

// The host calls through the virtual table by position, so the operations must
// stand in its order. A pointer to a virtual member holds 1 + its slot's offset.
struct SlotReader : KRRasterDataAccessor {
    template <class F> static std::ptrdiff_t Slot(F member)
    {
        static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t), "Itanium member pointer");
        std::ptrdiff_t raw[2];
        std::memcpy(raw, &member, sizeof(raw));
        return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
    }

    //! Every operation's slot, in the host's order; S names a member by its name alone.
    static std::vector<std::ptrdiff_t> SlotsInHostOrder()
    {
        using A = KRRasterDataAccessor;
        using KRC::GetchResult, KRC::KRImageData, KRC::KRTerrainData, KRC::KRRect2d;
#define S(member) Slot(&SlotReader::member)
        return {S(GetPuginName), S(GetPluginType), S(IsDataSourcePlugin), S(IsVectorDataAccessorPlugin),
                S(IsRasterDataAccessorPlugin), S(IsFeatureDataAccessorPlugin),
                // the destructor takes two slots here
                S(Release), S(Close), S(IsValid), S(GetBeginLevel), S(GetEndLevel), S(GetLatLonBeginLevel),
                S(GetLatLonEndLevel), S(HasLevelData), S(GetProjectionRef), S(ExportProjectionRefToWkt),
                S(ExportProjToEsriPrj), S(ExportToEsriPrjFromDataFile), S(ExportProjToEsriPrjFile),
                S(ExportToEsriPrjFileFromDataFile), S(EsriPrjFileToProj4), S(Proj4ToEsriPrjFile),
                S(ExportProjectionRefToProj4), S(ExportToProj4FromDataFile), S(LoadProjectionFromESRIFile),
                S(ImportProjectionRefFromWkt), S(ImportProjectionRefFromESRI), S(ImportProjectionRefFromProj4),
                S(ComputeLGLatLonLevel), S(ComputePixelBounds), S(GetNoValue), S(IsScanlineReverse), S(SetFilterColor),
                S(GetFilterColor), S(SetFilterColorTolerance), S(GetFilterColorTolerance), S(IsFilterColorUsed),
                S(SetFilterColorUsed), S(IsIgnoreAlpha), S(SetIgnoreAlpha), S(SetBindsOrder), S(GetBindOrder),
                S(GetStetchType), S(SetStetchType), S(GetStretchClipMin), S(SetStretchClipMin), S(GetStretchClipMax),
                S(SetStretchClipMax), S(GetStretchGama), S(SetStretchGama), S(SrcPtToWGS84Pt), S(WGS84PtToSrcPt),
                S(Open), S(OpenForRead), S(CheckInitColorInfo),
                Slot(static_cast<GetchResult (A::*)(KRImageData*, KRImageData*&, const KRRect2d&, int*, bool)>(
                    &A::FetchImageData)),
                Slot(static_cast<GetchResult (A::*)(KRImageData*&, int, int, int)>(&A::FetchImageData)),
                S(FetchWMTileImgData),
                Slot(static_cast<GetchResult (A::*)(KRTerrainData*, const KRRect2d&, bool)>(&A::FetchTerrainData)),
                Slot(static_cast<GetchResult (A::*)(KRTerrainData*&, int, int, int)>(&A::FetchTerrainData)),
                S(FetchWMTileRawData), S(LoadRawData), S(GetRasterDataFormat), S(IsDataReverse), S(GetNoDataValue),
                S(LatLonToProBounds), S(LatLonToProPnt), S(ReadPixels), S(ReadColors), S(GetStretchValue),
                S(GetColorFromTable), S(ReprojectImage), S(CreateRasterFile), S(WriteRasterFile), S(GenerateOutline),
                S(BeginRead), S(ReadScanline), S(EndRead), S(BeginWrite), S(WriteScanline), S(EndWrite),
                S(QucikFetchImageData)};
#undef S
    }
};

TEST(VirtualTableOrder, OperationsStandInTheHostsOrder)
{
    const std::vector<std::ptrdiff_t> slots = SlotReader::SlotsInHostOrder();
    ASSERT_EQ(slots.size(), 82u); // 83 operations, the destructor not addressable
    for (size_t i = 0; i < slots.size(); ++i)
        EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i < 6 ? i : i + 2)) << "operation " << i << " is out of place";
}

TEST(AccessorLife, CloseReleasesAnOpenRasterAndItsHistogramsAndMayComeTwice)
{
    const krtest::TempDir dir;
    KRGORasterAccessorPlugin p;
    ASSERT_TRUE(krtest::WriteAndOpen(
        p, dir.File("utm.tif"), {4, 4, 1, GDT_Float32, {500000, 10, 0, 4500000, 0, -10}, krtest::WktOfEpsg(32633)}));
    auto& histograms = Probe::m_histograms(p);
    histograms.Add(new std::uint64_t[8]());
    histograms.Add(nullptr);
    histograms.Add(new std::uint64_t[3]());
    p.Close(); // the sanitizer build reports what leaks
    p.Close();
    EXPECT_TRUE(histograms.GetSize() == 0 && histograms.GetCapacity() == 0);
    EXPECT_TRUE(Probe::m_pDataset(p) == nullptr && Probe::m_pSrcToLatLon(p) == nullptr &&
                Probe::m_pLatLonToSrc(p) == nullptr && Probe::m_pLatLonSRS(p) == nullptr);
    EXPECT_TRUE(p.GetProjType() == 1 && !Probe::m_bOpened(p) && !Probe::m_bNsdtfDem(p));
}

} // namespace
