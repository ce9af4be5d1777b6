// NSDTF-DEM text grids: what the header and the values mean, in either layout,
// and real grids of the 2007 edition. Terrain from such grids is checked with
// the other sources in test_terrain.cpp.
#include <algorithm>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

//! A keyed header of the 2007 edition (CRLF lines, as such files come): 2 rows of 3 from lon 100, lat 40.
const std::string kKeyed = "DataMark:CNSDTF-DEM\r\nVersion:GB/T 17798-2007\r\nXYUnit:D\r\nAlpha:0\r\nCompress:0\r\n"
                           "X0:100\r\nY0:40\r\nDX:0.5\r\nDY:0.25\r\nRow:2\r\nCol:3\r\nHzoom:1\r\nZUnit:M\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}

class NsdtfTest : public AccessorTest {
protected:
    //! The grid's cells, row after row, once the file opens; empty when it does not.
    std::vector<float> Open(const std::string& name, const std::string& text)
    {
        WriteText(m_dir.File(name), text);
        if (!m_p.OpenForRead(m_dir.File(name).c_str()))
            return {};
        Probe::ReadChinaDemData(m_p, KRString(m_dir.File(name).c_str()));
        const KRTerrainData* grid = Probe::m_pDemData(m_p);
        const auto* cells = static_cast<const float*>(grid != nullptr ? grid->GetData() : nullptr);
        return cells ? std::vector<float>(cells, cells + grid->GetWidth() * grid->GetHeight()) : std::vector<float>{-1};
    }
};

// Values in file order, wrapped as they like, divided by the divisor (in thousandths when the unit is K); cells
// the list is short of, and -9999 (which still counts in the range), are nodata. D and S are degrees, other units
// a system still to be imported. The keyed layout: keys in any order and case, a space after the colon, one line
// of values longer than a header line may be, Hzoom dividing, -99999 for nodata (out of the range), and
// coordinates in arc seconds.
TEST_F(NsdtfTest, HeaderAndValues)
{
    std::string row;
    for (int c = 0; c < 120; ++c)
        row += std::to_string(100000 + c) + " ";
    const struct {
        std::string name, text;
        int projType;
        std::vector<float> cells;
        double min = 0, max = 0;
    } cases[] = {
        {"a.dem", "NSDTF-DEM 1.0 D 0 0 100 40 0.5 0.25 2 3 10\n7\n8 9\t10 -99990 120", 1,
         {0.7f, 0.8f, 0.9f, 1, -9999, 12}, -9999, 12},
        {"b.DEM", "nsdtf-dem 1.0 K 0 0 100 40 0.5 0.25 2 3 1000\n1.5 2 3 4", 0, {1.5, 2, 3, 4, -9999, -9999}, 1.5, 4},
        {"d.GRD", Replaced(kKeyed, "Hzoom:1", "Hzoom:1000") + "-99999 2500 0 0 0 0", 1, {-9999, 2.5, 0, 0, 0, 0}, 0,
         2.5},
        {"e.txt", "  datamark: CNSDTF-DEM \nY0: 40\nCol: 120\nrow: 1\nDX:0.5\nDY:0.5\nX0:100\nXYUnit:D\n" + row, 1,
         {}, 100000, 100119},
        // refused: a compressed grid, a missing key, the keyed magic in a ".dem" file's positional place
        {"f.GRD", Replaced(kKeyed, "Compress:0", "Compress:1") + "1 2 3 4 5 6", -1, {}},
        {"g.GRD", Replaced(kKeyed, "DataMark", "DataMarc") + "1 2 3 4 5 6", -1, {}},
        {"h.GRD", Replaced(kKeyed, "Row:", "Rows:") + "1 2 3 4 5 6", -1, {}},
        {"i.dem", "NSDTF-DEM\n" + kKeyed + "1 2 3 4 5 6", -1, {}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        const std::vector<float> cells = Open(tc.name, tc.text);
        EXPECT_TRUE(tc.projType < 0 ? cells.empty() : tc.cells.empty() ? cells.size() == 120 && cells[0] == 100000
                                                                         : cells == tc.cells);
        EXPECT_TRUE(tc.projType < 0 || (m_p.GetProjType() == tc.projType && m_p.IsMinMaxValid() &&
                                        m_p.GetMinValue() == tc.min && m_p.GetMaxValue() == tc.max));
    }
    Open("s.grd", Replaced(Replaced(kKeyed, "XYUnit:D", "XYUnit:S"), "X0:100\r\nY0:40\r\nDX:0.5\r\nDY:0.25",
                           "X0:360000\r\nY0:144000\r\nDX:1800\r\nDY:900") + "0 0 0 0 0 0");
    ExpectRectNear(m_p.GetSrcBounds().GetGeoBounds(), KRRect2d(100, 40, 101, 39.75));
    EXPECT_EQ(m_p.GetProjType(), 1);
}

// Real CNSDTF grids of the 2007 edition (skipped when absent), in metres: the sample values of the small ones,
// the third one's rows as the fourth's first, and terrain once a system is imported (Gauss-Kruger at 114 E).
TEST_F(NsdtfTest, RealKeyedGrids)
{
    const std::string dir = std::string(KR_REAL_DATA_DIR) + "/cnsdtfl/cgrd/";
    if (!std::filesystem::exists(dir + "TEST4.GRD"))
        GTEST_SKIP() << "real data absent: " << dir;
    const auto grid = [&](const char* name) { return Open(name, ReadText(dir + name)); };
    EXPECT_EQ(grid("TEST1.GRD"), (std::vector<float>{100, 200, 300, 400}));
    const std::vector<float> head = grid("TEST3.GRD"), all = grid("TEST4.GRD");
    EXPECT_EQ(m_p.GetProjType(), 0);
    ASSERT_EQ(all.size(), 371u * 495u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
    EXPECT_NEAR(m_p.GetMinValue(), 39.912, 1e-4);
    EXPECT_NEAR(m_p.GetMaxValue(), 103.787, 1e-4);
    ExpectRectNear(m_p.GetSrcBounds().GetGeoBounds(), KRRect2d(414150, 3126512.5, 420325, 3121887.5));
    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=tmerc +lon_0=114 +k=1 +x_0=500000 +a=6378140 +rf=298.257"));
    auto dst = SessionGrid(33, 33, 0.0, RDF_Float64);
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), m_p.GetLatLonBounds().GetGeoBounds(), false), GetchResult_Delivered);
    const float middle = static_cast<float>(dst->GetValue(16, 16));
    EXPECT_TRUE(middle > 39.9f && middle < 103.8f) << middle;
}

} // namespace
