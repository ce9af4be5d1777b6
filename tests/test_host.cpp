// The stand-in host code the module leans on: the grid samplers (the tiling is checked through the tile
// fetches).
// Expected values are worked by hand or are closed forms.
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "KRArray.h"
#include "KRHostSession.h"
#include "KRTerrainData.h"

using namespace KRC;

namespace {

constexpr double kNoData = -9999.0;
using Quad = std::array<double, 4>;

std::unique_ptr<KRTerrainData> Grid(enumRasterDataFromat format, int width, int height, std::vector<double> values)
{
    auto grid = krtest::SessionGrid(width, height, 0.0, format);
    for (size_t i = 0; i < values.size(); ++i)
        grid->SetValue(static_cast<long long>(i), values[i]);
    return grid;
}

//! The static multi-band samplers: one value per grid, then 0s, and 255 or 0 for "not nodata".
Quad Sample(const std::vector<KRTerrainData*>& grids, const std::vector<double>& noData, double row, double col,
            bool ignoreNoData = false, bool nearest = false)
{
    KRArray<KRTerrainData*> g;
    KRArray<double> nd;
    for (KRTerrainData* p : grids)
        g.Add(p);
    for (double v : noData)
        nd.Add(v);
    Quad out{};
    if (nearest)
        KRTerrainData::GetValue(row, col, g, nd, out.data(), ignoreNoData, 1e-6);
    else
        KRTerrainData::GetBRasampleValue(row, col, g, nd, out.data(), ignoreNoData, 1e-6);
    return out;
}

} // namespace

TEST(Sampler, NodataNeighboursGetNoWeight)
{
    auto grid = Grid(RDF_Float32, 2, 2, {10, 20, 30, kNoData});
    grid->m_dNoDataValue = kNoData;
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, false), 20.0);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(1.0, 0.5, false), 30.0); // no dark fringe
    EXPECT_EQ(grid->GetBRasampleValue(1.0, 1.0, false), kNoData);
    EXPECT_DOUBLE_EQ(grid->GetBRasampleValue(0.5, 0.5, true), (10.0 + 20.0 + 30.0 + kNoData) / 4.0);
    // Static sampler: a neighbour is dropped only when every band is nodata there.
    auto b1 = Grid(RDF_Float32, 2, 2, {0, 0, 30, 60}), b2 = Grid(RDF_Float32, 2, 2, {0, 9, 3, 6});
    EXPECT_EQ(Sample({b1.get(), b2.get()}, {0.0, 0.0}, 0.5, 0.5), (Quad{30, 6, 0, 255}));
    auto sevens = Grid(RDF_UInt8, 2, 2, {7, 7, 7, 7});
    EXPECT_EQ(Sample({sevens.get()}, {7.0}, 0.5, 0.5), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(Sample({sevens.get()}, {7.0}, 0.5, 0.5, false, true), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(Sample({sevens.get()}, {7.0}, 0.5, 0.5, true), (Quad{7, 0, 0, 255}));
}

TEST(Sampler, ReproducesAPlaneInEveryFormatClampsAndRoundsNearestHalfUp)
{
    // base + 2 r + 5 c on 5 x 4, integral at every cell; base near the format's limit where it has one.
    const std::pair<enumRasterDataFromat, double> formats[] = {
        {RDF_UInt8, 200},         {RDF_Int16, -30000},        {RDF_UInt16, 65000},  {RDF_Float32, 0.5},
        {RDF_Int32, -2000000000}, {RDF_UInt32, 4000000000.0}, {RDF_Int64, -0x1p40}, {RDF_Float64, 1000000.25}};
    for (const auto& [format, base] : formats) {
        auto grid = Grid(format, 5, 4, {});
        for (int i = 0; i < 20; ++i)
            grid->SetValue(static_cast<long long>(i), base + 2.0 * (i / 5) + 5.0 * (i % 5));
        // Within the grid, and beyond each edge, where the nearest edge sample's row or column stands in.
        for (const auto& [row, col, r, c] : {Quad{0.25, 0.5, 0.25, 0.5}, Quad{2.5, 3.75, 2.5, 3.75}, Quad{3, 4, 3, 4},
                                             Quad{-0.5, 1.5, 0, 1.5}, Quad{5, -3, 3, 0}}) {
            const double v = base + 2.0 * r + 5.0 * c;
            EXPECT_EQ(grid->GetBRasampleValue(row, col, false), v) << format << ": " << row << ", " << col;
            EXPECT_EQ(Sample({grid.get(), grid.get()}, {}, row, col), (Quad{v, v, 0, 255})) << format;
        }
    }
    // Nearest: row and column rounded half up, then clamped to the grid of 10 r + c.
    auto grid = Grid(RDF_Float64, 3, 3, {0, 1, 2, 10, 11, 12, 20, 21, 22});
    for (const auto& [row, col, v, unused] :
         {Quad{0.5, 0.49, 10}, Quad{1.49, 1.5, 12}, Quad{-0.5, 1.5, 2}, Quad{2.6, -0.6, 20}, Quad{-3, 7, 2}})
        EXPECT_EQ(Sample({grid.get()}, {kNoData}, row, col, false, true), (Quad{v, 0, 0, 255})) << row << ", " << col;
}
