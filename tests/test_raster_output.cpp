// Raster output: WGS84 GeoTIFF creation, sample writing by output type, the
// replaced dataset, and reprojection to each kind of target definition.
#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;

namespace {

//! The dataset's reference is `epsg` (datasets read longitude first whatever the reference says).
void ExpectReference(GDALDataset& ds, int epsg)
{
    const char* const ignoreAxes[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    EXPECT_TRUE(ds.GetSpatialRef() != nullptr && ds.GetSpatialRef()->IsSame(&srs, ignoreAxes)) << epsg;
}

int OpenDatasetCount()
{
    GDALDatasetH* list = nullptr;
    int count = 0;
    GDALGetOpenDatasets(&list, &count);
    return count;
}

// Writing into a 4 x 2 raster at (120, 31), 0.5 degrees a pixel, in a folder
// that does not exist yet; reprojecting a geographic raster over lon 7..9,
// lat 46..47.5 and a UTM 32N raster over the same area.
class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto smooth = [](int, int c, int r) { return 100.0 + 3.0 * c + 2.0 * r + 0.1 * c * r; };
        krtest::RasterLayout geo{40, 30, 1, GDT_Float32, {7, 0.05, 0, 47.5, 0, -0.05}, krtest::WktOfEpsg(4326),
                                 {}, smooth};
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("geo.tif"), geo));
        geo.geoTransform = {350000, 4000, 0, 5260000, 0, -4000};
        geo.wkt = krtest::WktOfEpsg(32632);
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("utm.tif"), geo));
    }
    bool Create(int bands, GDALDataType type, bool compress = false)
    {
        return m_p.CreateRasterFile(m_path.c_str(), 4, 2, 0.5, 120.0, 31.0, bands, type, compress);
    }
    //! Closes the accessor's file, opens it with GDAL as m_out and reads band `band`.
    std::vector<double> Written(int band)
    {
        m_p.Close();
        m_out.reset(GDALDataset::Open(m_path.c_str()));
        std::vector<double> v(8, -1.0);
        EXPECT_TRUE(m_out && m_out->GetRasterCount() >= band &&
                    m_out->GetRasterBand(band)->RasterIO(GF_Read, 0, 0, 4, 2, v.data(), 4, 2, GDT_Float64, 0, 0,
                                                         nullptr) == CE_None);
        return v;
    }
    bool Reproject(const std::string& source, const std::string& dst, const std::string& text, int kind,
                   GDALProgressFunc progress = nullptr)
    {
        return m_p.OpenForRead(m_dir.File(source).c_str()) &&
               m_p.ReprojectImage(m_dir.File(dst).c_str(), text.c_str(), kind, progress, nullptr);
    }

    krtest::TempDir m_dir;
    std::string m_path = m_dir.File("new/folder/out.tif");
    KRGORasterAccessorPlugin m_p;
    GDALDatasetUniquePtr m_out;
};

// Samples go to the last band. Int16 truncates toward zero and wraps around;
// NaN and values beyond 32 bits give 0. Other types get the floats converted
// by GDAL (Byte: rounded, clamped). The file spans lon 120..122, lat 30..31.
TEST_F(OutputTest, CreatesWgs84GeoTiffsAndWritesTheLastBandByOutputType)
{
    // type, a 3 x 2 block at column 1, row 0, then the band read back (column 0 unwritten)
    const std::tuple<GDALDataType, std::vector<float>, std::vector<double>> cases[] = {
        {GDT_Int16, {-3.9f, 3.9f, 32768.0f, 40000.0f, -32769.0f, 65541.0f}, {0, -3, 3, -32768, 0, -25536, 32767, 5}},
        {GDT_Int16, {NAN, 1e10f, -1e10f, 0.5f, -0.5f, 65535.0f}, {0, 0, 0, 0, 0, 0, 0, -1}},
        {GDT_Byte, {-5.0f, 3.6f, 300.0f, 7.0f, 0.4f, 254.5f}, {0, 0, 4, 255, 0, 7, 0, 255}}};
    for (auto [type, samples, band] : cases) {
        SCOPED_TRACE(GDALGetDataTypeName(type));
        ASSERT_TRUE(Create(3, type));
        ASSERT_TRUE(m_p.WriteRasterFile(1, 0, 3, 2, samples.data()));
        EXPECT_TRUE(Written(1) == std::vector<double>(8, 0.0) && Written(3) == band);
        double gt[6];
        ASSERT_TRUE(m_out && m_out->GetRasterXSize() == 4 && m_out->GetRasterYSize() == 2 &&
                    m_out->GetGeoTransform(gt) == CE_None);
        EXPECT_EQ(std::vector<double>(gt, gt + 6), std::vector<double>({120.0, 0.5, 0.0, 31.0, 0.0, -0.5}));
        ExpectReference(*m_out, 4326);
        EXPECT_TRUE(m_out->GetRasterBand(1)->GetRasterDataType() == type &&
                    m_out->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE") == nullptr);
    }
    ASSERT_TRUE(Create(3, GDT_Byte, true));
    Written(1);
    EXPECT_STREQ(m_out ? m_out->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE") : "", "JPEG");
}

// A window GDAL refuses writes nothing, and the call still succeeds; only a
// missing band (nothing created) or missing samples fail.
TEST_F(OutputTest, WindowsOffTheRasterWriteNothing)
{
    std::vector<float> samples(64, 7.0f);
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, samples.data()));
    ASSERT_TRUE(Create(1, GDT_Int16));
    for (const auto& w : {std::vector<int>{3, 1, 2, 2}, {0, 0, 0, 0}, {-1, 0, 2, 2}, {0, 0, 5, 1}, {0, 2, 1, 1}})
        EXPECT_TRUE(m_p.WriteRasterFile(w[0], w[1], w[2], w[3], samples.data())) << w[0] << " " << w[2];
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, nullptr));
    EXPECT_EQ(Written(1), std::vector<double>(8, 0.0));
}

// The dataset open before is closed, not leaked, and only it and its band
// change: the coordinate system, its transformations and the open state stay
// the previous raster's.
TEST_F(OutputTest, ReplacesOnlyTheOpenDataset)
{
    const int before = OpenDatasetCount();
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("utm.tif").c_str()) && Create(1, GDT_Int16));
    EXPECT_TRUE(OpenDatasetCount() == before + 1 && m_p.GetProjType() == 2 &&
                KRGORasterAccessorPluginProbe::m_bOpened(m_p));
    double x = 9.0, y = 47.0;
    m_p.LatLonToProPnt(x, y, x, y);
    EXPECT_NEAR(x, 500000.0, 1e-6); // 9 E is zone 32's central meridian
    KRPixelDataMultiBand pixels(1, 1, 1, RDF_Int16, false, 0.0, 0.0);
    EXPECT_FALSE(m_p.ReadPixels(pixels, 0, 0, 0, 0, false)); // no current band until BeginRead

    m_p.Close();
    EXPECT_EQ(OpenDatasetCount(), before);
}

// Each kind of target definition reaches its system, on the grid gdalwarp picks
// for it; ".TIF" and ".img" both end up as GeoTIFF (GDAL knows no driver named
// "img" and falls back to GeoTIFF). A progress function that cancels is asked.
TEST_F(OutputTest, EveryKindOfTargetReachesItsSystemOnGdalWarpsGrid)
{
    const std::string esri = krtest::WktOfEpsg(32632, true);
    krtest::WriteText(m_dir.File("utm32.prj"), esri);
    // source, output, target definition, its kind, then the system it stands for
    const std::tuple<const char*, const char*, std::string, int, int> cases[] = {
        {"utm.tif", "to4326.tif", "4326", 4, 4326},
        {"geo.tif", "proj4.TIF", "+proj=utm +zone=32 +datum=WGS84 +units=m +no_defs", 0, 32632},
        {"geo.tif", "prj.img", m_dir.File("utm32.prj"), 1, 32632},
        {"geo.tif", "esri.tiff", esri, 2, 32632},
        {"utm.tif", "wkt.tif", krtest::WktOfEpsg(3857), 3, 3857}};
    for (const auto& [source, dst, text, kind, epsg] : cases) {
        SCOPED_TRACE(dst);
        ASSERT_TRUE(Reproject(source, dst, text, kind));
        GDALDatasetUniquePtr ours(GDALDataset::Open(m_dir.File(dst).c_str()));
        ASSERT_TRUE(ours);
        EXPECT_STREQ(ours->GetDriver()->GetDescription(), "GTiff");
        ExpectReference(*ours, epsg);
        CPLStringList args(CSLTokenizeString(CPLSPrintf("-of VRT -t_srs EPSG:%d -r bilinear -et 0", epsg)), TRUE);
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(args.List(), nullptr);
        GDALDatasetUniquePtr src(GDALDataset::Open(m_dir.File(source).c_str()));
        GDALDatasetH handle = GDALDataset::ToHandle(src.get());
        GDALDatasetUniquePtr same(GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &handle, options, nullptr)));
        GDALWarpAppOptionsFree(options);
        double gt[6], want[6];
        ASSERT_TRUE(same && ours->GetGeoTransform(gt) == CE_None && same->GetGeoTransform(want) == CE_None);
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(gt[k], want[k], 1e-9 * std::max(1.0, std::fabs(want[k]))) << k;
        const int w = same->GetRasterXSize(), h = same->GetRasterYSize();
        ASSERT_TRUE(ours->GetRasterXSize() == w && ours->GetRasterYSize() == h);
        // Bilinear, as the smooth surface shows: a nearest sample is off by whole units.
        std::vector<float> got(size_t(w) * size_t(h)), bilinear(got.size());
        for (auto [ds, values] : {std::pair{ours.get(), got.data()}, {same.get(), bilinear.data()}})
            ASSERT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, values, w, h, GDT_Float32, 0, 0, nullptr),
                      CE_None);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_NEAR(got[i], bilinear[i], 1e-3) << "pixel " << i;
    }
    EXPECT_FALSE(Reproject("geo.tif", "out.png", "4326", 4)); // PNG cannot be created
    EXPECT_FALSE(Reproject("geo.tif", "cancelled.tif", "4326", 4, [](double, const char*, void*) { return 0; }));
}

} // namespace
