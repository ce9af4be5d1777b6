// The module as the host sees it: loaded by name, created through its factory,
// its exports, the order of its virtual operations, and the object's life.
#include <unistd.h>

#include <array>
#include <cmath>
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

std::vector<std::string> ExportedSymbols()
{
    std::vector<std::string> symbols;
    const std::string command = std::string("nm -D --defined-only -C --format=just-symbols ") + KR_PLUGIN_MODULE;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return symbols;
    std::array<char, 4096> line{};
    while (fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr)
        symbols.emplace_back(line.data(), std::strcspn(line.data(), "\r\n"));
    pclose(pipe);
    return symbols;
}

} // namespace

class PluginModuleTest : public ::testing::Test {
protected:
    krtest::PluginModule m_module;
};

TEST_F(PluginModuleTest, FactoryCreatesTheNamedRasterAccessor)
{
    ASSERT_TRUE(m_module.IsLoaded()) << dlerror();
    auto accessor = m_module.Create();
    ASSERT_NE(accessor, nullptr);
    EXPECT_STREQ(accessor->GetPuginName().Cstr(), "GORasterAccessorPlugin");
    EXPECT_EQ(accessor->GetPluginType(), KRC::KRPlugin::Type_RasterDataAccessor);
    EXPECT_TRUE(accessor->IsRasterDataAccessorPlugin());
    EXPECT_FALSE(accessor->IsVectorDataAccessorPlugin());
    EXPECT_NE(dynamic_cast<KRGORasterAccessorPlugin*>(accessor.get()), nullptr);
}

TEST_F(PluginModuleTest, ConstructionPointsGdalAtTheDataBesideTheCommonLibrary)
{
    ASSERT_TRUE(m_module.IsLoaded());
    ASSERT_EQ(chdir("/"), 0);
    auto accessor = m_module.Create();
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

TEST_F(PluginModuleTest, ExportsOnlyTheFactoryTheClassAndTheContainers)
{
    const std::vector<std::string> symbols = ExportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm could not list the module's symbols";
    const char* allowed[] = {"KRC::KRGORasterAccessorPlugin::", "vtable for KRC::KRGORasterAccessorPlugin",
                             "typeinfo for KRC::KRGORasterAccessorPlugin",
                             "typeinfo name for KRC::KRGORasterAccessorPlugin", "KRC::KRArray<", "KRC::KRList<"};
    for (const std::string& symbol : symbols) {
        bool ok = symbol == "CreatePluginInstance";
        for (const char* prefix : allowed)
            ok = ok || symbol.rfind(prefix, 0) == 0;
        EXPECT_TRUE(ok) << "unexpected export: " << symbol;
    }
    const std::set<std::string> names(symbols.begin(), symbols.end());
    for (const char* expected :
         {"CreatePluginInstance", "KRC::KRArray<double>::SetSize(int)", "KRC::KRArray<void*>::FreeExtra()",
          "KRC::KRArray<unsigned int>::Add(unsigned int const&)", "KRC::KRArray<KRC::KRString>::GetSize() const",
          "KRC::KRArray<KRC::KRTerrainData*>::RemoveAll()", "KRC::KRArray<unsigned char>::~KRArray()",
          "KRC::KRArray<KRC::KRVec3d>::~KRArray()", "KRC::KRArray<KRC::KRPoint2d>::~KRArray()",
          "KRC::KRArray<KRC::KRGridLevelInfo>::~KRArray()", "KRC::KRArray<KRC::KRSPluginElem>::~KRArray()",
          "KRC::KRList<KRC::KRGridLevelInfo*>::~KRList()", "KRC::KRList<KRC::KRProjectItem>::~KRList()",
          "KRC::KRList<KRC::KRSRelativeDirItem>::~KRList()",
          "KRC::KRGORasterAccessorPlugin::KRGORasterAccessorPlugin()"})
        EXPECT_EQ(names.count(expected), 1u) << "missing export: " << expected;
}

TEST_F(PluginModuleTest, FactoryIsReachableByItsPlainName)
{
    ASSERT_NE(m_module.Handle(), nullptr);
    EXPECT_NE(dlsym(m_module.Handle(), "CreatePluginInstance"), nullptr);
    EXPECT_EQ(dlsym(m_module.Handle(), "_Z20CreatePluginInstancev"), nullptr);
}

// The host calls through the virtual table by position, so the operations must
// stand in its order. A pointer to a virtual member holds 1 + its slot's offset.
namespace {

struct SlotReader : KRRasterDataAccessor {
    template <class F>
    static std::ptrdiff_t Slot(F member)
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
            Slot(static_cast<KRC::GetchResult (A::*)(KRC::KRImageData*, KRC::KRImageData*&, const KRC::KRRect2d&,
                                                     int*, bool)>(&A::FetchImageData)),
            Slot(static_cast<KRC::GetchResult (A::*)(KRC::KRImageData*&, int, int, int)>(&A::FetchImageData)),
            Slot(&A::FetchWMTileImgData),
            Slot(static_cast<KRC::GetchResult (A::*)(KRC::KRTerrainData*, const KRC::KRRect2d&, bool)>(
                &A::FetchTerrainData)),
            Slot(static_cast<KRC::GetchResult (A::*)(KRC::KRTerrainData*&, int, int, int)>(&A::FetchTerrainData)),
            Slot(&A::FetchWMTileRawData), Slot(&A::LoadRawData), Slot(&A::GetRasterDataFormat),
            Slot(&A::IsDataReverse), Slot(&A::GetNoDataValue), Slot(&A::LatLonToProBounds), Slot(&A::LatLonToProPnt),
            Slot(&A::ReadPixels), Slot(&A::ReadColors), Slot(&A::GetStretchValue), Slot(&A::GetColorFromTable),
            Slot(&A::ReprojectImage), Slot(&A::CreateRasterFile), Slot(&A::WriteRasterFile),
            Slot(&A::GenerateOutline), Slot(&A::BeginRead), Slot(&A::ReadScanline), Slot(&SlotReader::EndRead),
            Slot(&SlotReader::BeginWrite), Slot(&SlotReader::WriteScanline), Slot(&SlotReader::EndWrite),
            Slot(&A::QucikFetchImageData)};
    }
};

} // namespace

TEST(VirtualTableOrder, OperationsStandInTheHostsOrder)
{
    const std::vector<std::ptrdiff_t> slots = SlotReader::SlotsInHostOrder();
    ASSERT_EQ(slots.size(), 82u); // 83 operations, the destructor not addressable
    for (size_t i = 0; i < slots.size(); ++i) {
        const std::ptrdiff_t expected = i < 6 ? static_cast<std::ptrdiff_t>(i) : static_cast<std::ptrdiff_t>(i + 2);
        EXPECT_EQ(slots[i], expected) << "operation " << i << " is out of place";
    }
}

class AccessorLifeTest : public ::testing::Test {
protected:
    KRGORasterAccessorPlugin m_accessor;
};

TEST_F(AccessorLifeTest, FreshObjectIsNotValidAndClosesHarmlesslyTwice)
{
    EXPECT_FALSE(m_accessor.IsValid());
    m_accessor.Close();
    m_accessor.Close();
    EXPECT_EQ(Probe::m_nProjType(m_accessor), 1);
    EXPECT_FALSE(Probe::m_bOpened(m_accessor));
    EXPECT_FALSE(Probe::m_bNsdtfDem(m_accessor));
    EXPECT_EQ(Probe::m_pDataset(m_accessor), nullptr);
    EXPECT_EQ(Probe::m_histograms(m_accessor).GetSize(), 0);
    EXPECT_FALSE(m_accessor.IsValid());
}

TEST_F(AccessorLifeTest, CloseFreesHistogramBuffers)
{
    auto& histograms = Probe::m_histograms(m_accessor);
    histograms.Add(new std::uint64_t[8]());
    histograms.Add(nullptr);
    histograms.Add(new std::uint64_t[3]());
    m_accessor.Close(); // the sanitizer build reports the buffers if they leak
    EXPECT_EQ(histograms.GetSize(), 0);
    EXPECT_EQ(histograms.GetCapacity(), 0);
}

// Zero, negative and NaN resolutions all fail the validity test.
struct ValidityCase {
    int bands;
    std::uint64_t width;
    std::uint64_t height;
    double resX;
    double resY;
    bool valid;
};

void PrintTo(const ValidityCase& c, std::ostream* os)
{
    *os << c.bands << " bands, " << c.width << "x" << c.height << ", resolution " << c.resX << " x " << c.resY;
}

class ValidityTest : public AccessorLifeTest, public ::testing::WithParamInterface<ValidityCase> {};

TEST_P(ValidityTest, NeedsBandsSizeAndPositiveResolution)
{
    const ValidityCase& c = GetParam();
    Probe::m_nBandCount(m_accessor) = c.bands;
    Probe::m_nWidth(m_accessor) = c.width;
    Probe::m_nHeight(m_accessor) = c.height;
    Probe::m_dResX(m_accessor) = c.resX;
    Probe::m_dResY(m_accessor) = c.resY;
    EXPECT_EQ(m_accessor.IsValid(), c.valid);
    m_accessor.Close(); // Close keeps the description of the last raster
    EXPECT_EQ(m_accessor.IsValid(), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidityTest,
    ::testing::Values(ValidityCase{1, 10, 10, 1.0, 1.0, true}, ValidityCase{0, 10, 10, 1.0, 1.0, false},
                      ValidityCase{1, 0, 10, 1.0, 1.0, false}, ValidityCase{1, 10, 0, 1.0, 1.0, false},
                      ValidityCase{1, 1, 10, 0.0, 1.0, false}, ValidityCase{1, 10, 10, 1.0, -2.0, false},
                      ValidityCase{1, 10, 10, std::nan(""), 1.0, false},
                      ValidityCase{3, 10, 10, 1.0, std::nan(""), false}));
