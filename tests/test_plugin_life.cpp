// The module as the host sees it: loaded by name, created through its factory,
// its exports, the order of its virtual operations, and the object's life.
#include <dlfcn.h>
#include <unistd.h>

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

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using KRC::KRGORasterAccessorPlugin;
using KRC::KRRasterDataAccessor;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

//! The module's dynamic symbols, demangled, as nm lists them.
std::set<std::string> ExportedSymbols()
{
    std::set<std::string> symbols;
    const std::string command = std::string("nm -D --defined-only -C --format=just-symbols ") + KR_PLUGIN_MODULE;
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 4096> line{};
    while (pipe != nullptr && fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr)
        symbols.emplace(line.data(), std::strcspn(line.data(), "\r\n"));
    if (pipe != nullptr)
        pclose(pipe);
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
    for (const std::string& symbol : symbols) {
        bool ok = symbol == "CreatePluginInstance";
        for (const char* prefix : allowed)
            ok = ok || symbol.rfind(prefix, 0) == 0;
        EXPECT_TRUE(ok) << "unexpected export: " << symbol;
    }
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

    static std::vector<std::ptrdiff_t> SlotsInHostOrder()
    {
        using A = KRRasterDataAccessor;
        using P = KRC::KRPlugin;
        using KRC::GetchResult, KRC::KRImageData, KRC::KRTerrainData, KRC::KRRect2d;
        return {
            Slot(&P::GetPuginName), Slot(&P::GetPluginType), Slot(&P::IsDataSourcePlugin),
            Slot(&P::IsVectorDataAccessorPlugin), Slot(&P::IsRasterDataAccessorPlugin),
            Slot(&P::IsFeatureDataAccessorPlugin),
            // the destructor takes two slots here
            Slot(&P::Release), Slot(&A::Close), Slot(&A::IsValid), Slot(&A::GetBeginLevel), Slot(&A::GetEndLevel),
            Slot(&A::GetLatLonBeginLevel), Slot(&A::GetLatLonEndLevel), Slot(&A::HasLevelData),
            Slot(&A::GetProjectionRef), Slot(&A::ExportProjectionRefToWkt), Slot(&A::ExportProjToEsriPrj),
            Slot(&A::ExportToEsriPrjFromDataFile), Slot(&A::ExportProjToEsriPrjFile),
            Slot(&A::ExportToEsriPrjFileFromDataFile), Slot(&A::EsriPrjFileToProj4), Slot(&A::Proj4ToEsriPrjFile),
            Slot(&A::ExportProjectionRefToProj4), Slot(&A::ExportToProj4FromDataFile),
            Slot(&A::LoadProjectionFromESRIFile), Slot(&A::ImportProjectionRefFromWkt),
            Slot(&A::ImportProjectionRefFromESRI), Slot(&A::ImportProjectionRefFromProj4),
            Slot(&A::ComputeLGLatLonLevel), Slot(&A::ComputePixelBounds), Slot(&A::GetNoValue),
            Slot(&A::IsScanlineReverse), Slot(&A::SetFilterColor), Slot(&A::GetFilterColor),
            Slot(&A::SetFilterColorTolerance), Slot(&A::GetFilterColorTolerance), Slot(&A::IsFilterColorUsed),
            Slot(&A::SetFilterColorUsed), Slot(&A::IsIgnoreAlpha), Slot(&A::SetIgnoreAlpha), Slot(&A::SetBindsOrder),
            Slot(&A::GetBindOrder), Slot(&A::GetStetchType), Slot(&A::SetStetchType), Slot(&A::GetStretchClipMin),
            Slot(&A::SetStretchClipMin), Slot(&A::GetStretchClipMax), Slot(&A::SetStretchClipMax),
            Slot(&A::GetStretchGama), Slot(&A::SetStretchGama), Slot(&A::SrcPtToWGS84Pt), Slot(&A::WGS84PtToSrcPt),
            Slot(&A::Open), Slot(&A::OpenForRead), Slot(&A::CheckInitColorInfo),
            Slot(static_cast<GetchResult (A::*)(KRImageData*, KRImageData*&, const KRRect2d&, int*, bool)>(
                &A::FetchImageData)),
            Slot(static_cast<GetchResult (A::*)(KRImageData*&, int, int, int)>(&A::FetchImageData)),
            Slot(&A::FetchWMTileImgData),
            Slot(static_cast<GetchResult (A::*)(KRTerrainData*, const KRRect2d&, bool)>(&A::FetchTerrainData)),
            Slot(static_cast<GetchResult (A::*)(KRTerrainData*&, int, int, int)>(&A::FetchTerrainData)),
            Slot(&A::FetchWMTileRawData), Slot(&A::LoadRawData), Slot(&A::GetRasterDataFormat), Slot(&A::IsDataReverse),
            Slot(&A::GetNoDataValue), Slot(&A::LatLonToProBounds), Slot(&A::LatLonToProPnt), Slot(&A::ReadPixels),
            Slot(&A::ReadColors), Slot(&A::GetStretchValue), Slot(&A::GetColorFromTable), Slot(&A::ReprojectImage),
            Slot(&A::CreateRasterFile), Slot(&A::WriteRasterFile), Slot(&A::GenerateOutline), Slot(&A::BeginRead),
            Slot(&A::ReadScanline), Slot(&SlotReader::EndRead), Slot(&SlotReader::BeginWrite),
            Slot(&SlotReader::WriteScanline), Slot(&SlotReader::EndWrite), Slot(&A::QucikFetchImageData)};
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
    const krtest::RasterLayout utm{
        4, 4, 1, GDT_Float32, {500000, 10, 0, 4500000, 0, -10}, krtest::WktOfEpsg(32633), {}, [](int, int c, int r) {
            return c + r;
        }};
    ASSERT_TRUE(krtest::WriteRaster(dir.File("utm.tif"), utm));
    KRGORasterAccessorPlugin p;
    ASSERT_TRUE(p.OpenForRead(dir.File("utm.tif").c_str()));
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
