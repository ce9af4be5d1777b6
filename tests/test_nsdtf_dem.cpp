// NSDTF-DEM elevation text files: header, values, divisor, and terrain in degrees and in metres.
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

//! Values of f(row, column), row after row.
template <class F> std::string Values(int rows, int cols, F f)
{
    std::ostringstream out;
    out.precision(17);
    for (int i = 0; i < rows * cols; ++i)
        out << f(i / cols, i % cols) << ((i + 1) % cols ? ' ' : '\n');
    return out.str();
}
const std::string kZeros = Values(5, 6, [](int, int) { return 0; });

//! The default header (degrees: lon 100..102.5 in 6 columns, lat 39..40 in 5 rows), tokens changed, then
//! values; positional, or in the keyed layout of the 2007 edition (CRLF lines, as such files come).
enum Field { kUnit = 2, kOrientation, kCompress, kX, kY, kDx, kDy, kRows, kCols, kDivisor };
std::string Dem(const std::vector<std::pair<Field, std::string>>& changes, const std::string& values = kZeros,
                bool keyed = false)
{
    std::string tokens[] = {"NSDTF-DEM", "1.0", "D", "0", "0", "100", "40", "0.5", "0.25", "5", "6", "1"}, text;
    for (const auto& change : changes)
        tokens[change.first] = change.second;
    const char* keys[] = {"DataMark", "Version", "XYUnit", "Alpha", "Compress", "X0",
                          "Y0",       "DX",      "DY",     "Row",   "Col",      "Hzoom"};
    if (keyed) {
        tokens[0] = "CNSDTF-DEM";
        tokens[1] = "GB/T 17798-2007";
    }
    for (size_t i = 0; i < std::size(tokens); ++i)
        text += keyed ? std::string(keys[i]) + ":" + tokens[i] + "\r\n" : tokens[i] + "\n";
    return text + (keyed ? "ValueType:Integer\r\nZUnit:M\r\n" : "") + values;
}

class NsdtfTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        WriteText(m_dir.File(name), text);
        return m_dir.File(name);
    }
    void ReadInfo(const std::string& path) { Probe::ReadChinaDemInfo(m_p, KRString(path.c_str())); }
    const KRTerrainData* ReadData(const std::string& path)
    {
        Probe::ReadChinaDemData(m_p, KRString(path.c_str()));
        return Probe::m_pDemData(m_p);
    }
    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// The unit sets the coordinate type and, if K, keeps values whatever the divisor; orientation != 0: rows from south.
TEST_F(NsdtfTest, HeaderUnitOrientationAndDivisor)
{
    const struct {
        const char *unit, *orientation, *divisor, *value; //!< the first value; the others 0
        int projType;                                     //!< -1: not checked
        float expected;
    } cases[] = {{"s", "-1", "1", "5", 1, 5},
                 {"K", "0", "1000", "123.456", -1, 123.456f},
                 {"M", "0", "1000", "123456", 0, 123.456f}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.unit);
        const std::string path =
            Write("h.dem", Dem({{kUnit, tc.unit}, {kOrientation, tc.orientation}, {kDivisor, tc.divisor}},
                               tc.value + kZeros.substr(1)));
        ReadInfo(path);
        EXPECT_TRUE(tc.projType < 0 || Probe::m_nProjType(m_p) == tc.projType) << Probe::m_nProjType(m_p);
        EXPECT_EQ(Probe::m_nWidth(m_p) * 10 + Probe::m_nHeight(m_p), 65u);
        ExpectRectNear(Probe::m_srcBounds(m_p).GetGeoBounds(), KRRect2d(100, 40, 102.5, 39)); // outer samples on it
        EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeX(m_p), 2.5 / 6);
        EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeY(m_p), tc.orientation[0] == '0' ? -0.2 : 0.2);
        EXPECT_EQ(m_p.IsDataReverse(), tc.orientation[0] == '0');
        const KRTerrainData* grid = ReadData(path);
        ASSERT_NE(grid, nullptr);
        EXPECT_EQ(grid->GetValue(0, 0), tc.expected);
    }
}

// Bad headers (truncated, an overlong token, negative or absurd counts, more cells than the file holds, an infinite
// cell size): after a good file, a bad one leaves no band, size or coordinate type, and opening fails.
TEST_F(NsdtfTest, BadHeadersLeaveNothingUsable)
{
    std::vector<std::string> texts = {"NSDTF-DEM\n"};
    const std::pair<Field, std::string> changes[] = {
        {kUnit, std::string(256, 'D')}, {kCols, "-6"},     {kRows, "2147483648"},
        {kCols, "2000000000"},          {kRows, "100000"}, {kDx, "inf"}};
    for (const auto& change : changes)
        texts.push_back(Dem({change}));
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        ReadInfo(Write("good.dem", Dem({})));
        ASSERT_EQ(Probe::m_nBandCount(m_p), 1);
        ReadInfo(Write("bad.dem", text));
        EXPECT_EQ(Probe::m_nBandCount(m_p) + Probe::m_nWidth(m_p) + Probe::m_nHeight(m_p) + Probe::m_nProjType(m_p), 0);
        EXPECT_FALSE(m_p.OpenForRead(Write("BAD.DEM", text).c_str()));
        EXPECT_EQ(FetchTile(m_p, 0, 0, 0), nullptr);
    }
    ReadInfo(m_dir.File("vanished.dem"));
    EXPECT_EQ(Probe::m_nBandCount(m_p) + Probe::m_nWidth(m_p) + Probe::m_nHeight(m_p), 0u);
}

// Numbers read alike under a decimal-comma locale (built in the test's folder: few systems have one).
TEST_F(NsdtfTest, NumbersIgnoreProcessLocale)
{
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr), de = m_dir.File("de_DE.UTF-8");
    setenv("LOCPATH", m_dir.Path().c_str(), 1);
    const bool chosen = std::system(("localedef -i de_DE -f UTF-8 '" + de + "' >/dev/null 2>&1").c_str()) == 0 &&
                        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma available";
    ReadInfo(Write("a.dem", Dem({})));
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_DOUBLE_EQ(Probe::m_srcBounds(m_p).GetGeoBounds().right, 102.5);
}

// Values run in file order, wrapping as they like; a short list leaves the remaining cells nodata.
TEST_F(NsdtfTest, ValueOrderAndShortList)
{
    const KRTerrainData* grid = ReadData(Write("r.dem", Dem({{kRows, "2"}, {kCols, "3"}}, "7\n8 9\t10")));
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->GetWidth() * 10 + grid->GetHeight(), 32);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(grid->GetValue(i / 3, i % 3), i < 4 ? 7 + i : -9999) << i;
}

// Terrain from the default grid on a plane; coordinates in powers of two make float cells and sampling exact.
const KRRect2d kGridBox(100, 40, 102.5, 39);
const auto Plane = [](double lon, double lat) { return 2 * lon + 4 * lat + 1; };

//! Rows from the north or the south; with a -9999 cell at lon 101.5, lat 39.5 when `hole`.
std::string PlaneDem(bool northFirst, bool hole = false)
{
    return Dem({{kOrientation, northFirst ? "0" : "1"}}, Values(5, 6, [&](int r, int c) {
                   const double lat = northFirst ? 40 - r * 0.25 : 39 + r * 0.25;
                   return hole && c == 3 && lat == 39.5 ? -9999 : Plane(100 + c * 0.5, lat);
               }));
}

// Rows from the north or the south, flipped (mirrored) or not, either layout: inside and past every edge the
// plane, and 0 beyond; wholly outside nothing is delivered.
TEST_F(NsdtfTest, GeographicFollowsPlaneAndStaysZeroBeyond)
{
    for (int k = 0; k < 8; ++k) {
        const bool northFirst = k & 1, flip = k & 2, keyed = k & 4;
        SCOPED_TRACE(k);
        const std::string text = keyed ? Dem({{kOrientation, northFirst ? "0" : "1"}}, PlaneDem(northFirst).substr(
                                                                                        Dem({}, "").size()), true)
                                       : PlaneDem(northFirst);
        ASSERT_TRUE(m_p.OpenForRead(Write("plane" + std::to_string(k) + (keyed ? ".GRD" : ".dem"), text).c_str()));
        const auto plane = [&](double lon, double lat) { return Plane(lon, flip ? 79 - lat : lat); };
        auto dst = MakeGrid(17, 17);
        for (const KRRect2d& rect : {KRRect2d(100.25, 39.875, 102.25, 39.125), KRRect2d(99, 40.5, 103.5, 38.5)}) {
            ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, flip), GetchResult_Delivered);
            ExpectSamples(*dst, rect, 1e-9, PlaneOverBox(kGridBox, 0, plane));
        }
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(110, 40, 111, 39), false), GetchResult_None);
    }
}

// Upper-case extension, lower-case magic; tile (398, 71) of level 8 (lon 99.84375..100.546875, lat
// 39.375..40.078125) reaches past the west and north. The -9999 cell counts in the range, sampled as 0.
TEST_F(NsdtfTest, TileAndNoDataCell)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("TILE.DEM", "nsdtf-dem" + PlaneDem(true, true).substr(9)).c_str()));
    auto tile = FetchTile(m_p, 398, 71, 8);
    ASSERT_NE(tile, nullptr);
    EXPECT_GT(ExpectSamples(*tile, TileRect(398, 71, 8), 1e-4, PlaneOverBox(kGridBox, 0.703125 / 32, Plane)), 100);
    auto dst = MakeGrid(6, 5); // one sample per cell
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), kGridBox, false), GetchResult_Delivered);
    EXPECT_EQ(std::make_pair(dst->GetValue(2, 3), dst->GetValue(2, 2)), std::make_pair(0.0, Plane(101, 39.5)));
    EXPECT_TRUE(Probe::m_bMinMaxValid(m_p) && Probe::m_dMinValue(m_p) == -9999 && Probe::m_dMaxValue(m_p) == 366);
}

// The grid is read on the first fetch; a file gone by then delivers nothing.
TEST_F(NsdtfTest, GridFileGoneBeforeFirstFetch)
{
    const std::string path = Write("gone.dem", PlaneDem(true, true));
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    std::filesystem::remove(path);
    EXPECT_EQ(FetchTile(m_p, 398, 71, 8), nullptr);
    EXPECT_EQ(Probe::m_pDemData(m_p), nullptr);
}

// A grid in metres (UTM 33N, 21 x 21 samples 1 km apart) serves nothing until a system is imported.
TEST_F(NsdtfTest, MetricGridNeedsProjection)
{
    Projector utm(32633);
    ASSERT_TRUE(utm.Ok());
    const auto plane = [](double e, double n) { return (e - 500000) / 1000 + 2 * (n - 4480000) / 1000; };
    const std::string text = "NSDTF-DEM 1.0 M 0 0 500000 4500000 1000 1000 21 21 1\n"; // plane = c + 40 - 2r
    ASSERT_TRUE(
        m_p.OpenForRead(Write("utm.dem", text + Values(21, 21, [](int r, int c) { return c + 40 - 2 * r; })).c_str()));
    const KRPoint2d mid = utm.Inverse(510000, 4490000);
    const KRRect2d rect(mid.x - 0.05, mid.y + 0.04, mid.x + 0.05, mid.y - 0.04);
    auto dst = MakeGrid(11, 11);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), rect, false), GetchResult_None);
    EXPECT_EQ(FetchTile(m_p, 0, 0, 0), nullptr);
    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs"));
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, false), GetchResult_Delivered);
    ExpectSamples(*dst, rect, 1e-6, [&](double x, double y) { return utm.Forward(x, y), plane(x, y); });
}

// The keyed layout of the 2007 edition, in a file of any name: keys in any order and case, a space after the
// colon, values wrapped as they like (one line of them longer than a header line may be); Hzoom divides, and
// -99999 is nodata: sampled as 0 and out of the value range. Coordinates in arc seconds become degrees. A
// compressed grid, a missing key, or the key line's magic in a ".dem" file's positional place are refused.
TEST_F(NsdtfTest, KeyedLayoutOf2007)
{
    const std::string row = Values(1, 120, [](int, int c) { return 100000 + c; });
    const struct {
        std::string name, text;
        bool opens;
        double first = 0, min = 0, max = 0; //!< grid cell (0, 0) and the value range
    } cases[] = {
        {"a.GRD", Dem({{kDivisor, "1000"}}, "-99999 2500 " + kZeros.substr(4), true), true, -9999, 0, 2.5},
        {"b.txt", "  datamark: CNSDTF-DEM \nY0: 40\nCol: 120\nrow: 1\nDX:0.5\nDY:0.5\nX0:100\nXYUnit:D\n" + row, true,
         100000, 100000, 100119},
        {"c.GRD", Dem({{kCompress, "1"}}, kZeros, true), false},
        {"d.GRD", Dem({}, kZeros, true).replace(0, 8, "DataMarc"), false},
        {"e.GRD", Dem({}, kZeros, true).replace(Dem({}, "", true).find("Row:"), 4, "Rows:"), false},
        {"f.dem", "NSDTF-DEM\n" + Dem({}, kZeros, true), false},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        ASSERT_EQ(m_p.OpenForRead(Write(tc.name, tc.text).c_str()), tc.opens);
        if (!tc.opens)
            continue;
        EXPECT_EQ(m_p.GetProjType(), 1);
        const KRTerrainData* grid = ReadData(m_p.GetFileName().Cstr());
        ASSERT_NE(grid, nullptr);
        EXPECT_EQ(grid->GetValue(0, 0), tc.first);
        EXPECT_TRUE(m_p.IsMinMaxValid() && m_p.GetMinValue() == tc.min && m_p.GetMaxValue() == tc.max);
    }
    ASSERT_TRUE(m_p.OpenForRead(Write("sec.GRD", Dem({{kUnit, "S"}, {kX, "360000"}, {kY, "144000"}, {kDx, "1800"},
                                                       {kDy, "900"}}, kZeros, true)).c_str()));
    ExpectRectNear(m_p.GetSrcBounds().GetGeoBounds(), kGridBox);
    auto dst = MakeGrid(6, 5);
    ASSERT_TRUE(m_p.OpenForRead(Write("hole.GRD", Dem({}, "-99999 " + PlaneDem(true).substr(Dem({}, "").size() + 4),
                                                      true)).c_str()));
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), kGridBox, false), GetchResult_Delivered);
    EXPECT_EQ(std::make_pair(dst->GetValue(4, 0), dst->GetValue(4, 1)), std::make_pair(0.0, Plane(100.5, 40)));
}

// Real CNSDTF grids of the 2007 edition (skipped when absent), in metres: the sample values of the small ones,
// the third one's rows as the fourth's first, and terrain once a system is imported (Gauss-Kruger at 114 E).
TEST_F(NsdtfTest, RealKeyedGrids)
{
    const std::string dir = std::string(KR_REAL_DATA_DIR) + "/cnsdtfl/cgrd/";
    if (!std::filesystem::exists(dir + "TEST4.GRD"))
        GTEST_SKIP() << "real data absent: " << dir;
    const auto grid = [&](const std::string& name) {
        EXPECT_TRUE(m_p.OpenForRead((dir + name).c_str())) << name;
        EXPECT_EQ(m_p.GetProjType(), 0);
        const KRTerrainData* data = ReadData(dir + name);
        return data != nullptr ? std::vector<float>(static_cast<const float*>(data->GetData()),
                                                     static_cast<const float*>(data->GetData()) +
                                                         data->GetWidth() * data->GetHeight())
                               : std::vector<float>();
    };
    EXPECT_EQ(grid("TEST1.GRD"), (std::vector<float>{100, 200, 300, 400}));
    EXPECT_EQ(grid("TEST2.GRD").size(), 40u);
    const std::vector<float> head = grid("TEST3.GRD"), all = grid("TEST4.GRD");
    ASSERT_EQ(all.size(), 371u * 495u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
    EXPECT_NEAR(m_p.GetMinValue(), 39.912, 1e-4);
    EXPECT_NEAR(m_p.GetMaxValue(), 103.787, 1e-4);
    ExpectRectNear(m_p.GetSrcBounds().GetGeoBounds(), KRRect2d(414150, 3126512.5, 420325, 3121887.5));
    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=tmerc +lon_0=114 +k=1 +x_0=500000 +a=6378140 +rf=298.257"));
    auto dst = MakeGrid(33, 33);
    const KRRect2d& box = m_p.GetLatLonBounds().GetGeoBounds();
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), box, false), GetchResult_Delivered);
    const float middle = static_cast<float>(dst->GetValue(16, 16));
    EXPECT_TRUE(middle > 39.9f && middle < 103.8f) << middle;
}

} // namespace
