// NSDTF-DEM elevation text files: the header that opening reads, the value grid
// that the first terrain fetch reads, and the two terrain paths over that grid.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <ogr_spatialref.h>

#include "KRBandWindow.h"
#include "KRNsdtfDem.h"

namespace KRC {

namespace {

constexpr double kDemNoData = -9999.0; // value of grid cells that hold no elevation
constexpr double kOrientationTolerance = 1e-10;
constexpr double kIntersectTolerance = 1e-16;
constexpr int kBoundsSteps = 72;
constexpr size_t kMaxTokenLength = 255; // longer tokens are outside the format
constexpr size_t kReadChunk = 64 * 1024;

//! Whitespace-separated tokens of a text file, read through a buffer. Tokens
//! are bounded: a longer one stops the reading and marks the file bad.
class TokenReader {
public:
    explicit TokenReader(const char* path) : m_file(VSIFOpenL(path, "rb")), m_buffer(kReadChunk)
    {
        if (m_file != nullptr && VSIFSeekL(m_file, 0, SEEK_END) == 0) {
            m_size = VSIFTellL(m_file);
            if (VSIFSeekL(m_file, 0, SEEK_SET) != 0) {
                VSIFCloseL(m_file);
                m_file = nullptr;
            }
        }
    }
    ~TokenReader()
    {
        if (m_file != nullptr)
            VSIFCloseL(m_file);
    }
    TokenReader(const TokenReader&) = delete;
    TokenReader& operator=(const TokenReader&) = delete;

    bool IsOpen() const { return m_file != nullptr; }

    //! Back to the first token; false when the file cannot seek.
    bool Rewind()
    {
        m_pos = 0;
        m_end = 0;
        m_pushedBack.clear();
        m_endedLine = false;
        m_overlong = false;
        return m_file != nullptr && VSIFSeekL(m_file, 0, SEEK_SET) == 0;
    }
    std::uint64_t Size() const { return m_size; }
    //! A token longer than the format allows was met.
    bool Overlong() const { return m_overlong; }

    //! The next token; false at the end of the text or at an overlong token.
    bool Next(std::string& token)
    {
        token.clear();
        if (m_file == nullptr || m_overlong)
            return false;
        int c = Get();
        while (c >= 0 && IsSpace(c))
            c = Get();
        while (c >= 0 && !IsSpace(c)) {
            if (token.size() == kMaxTokenLength) {
                m_overlong = true;
                return false;
            }
            token.push_back(static_cast<char>(c));
            c = Get();
        }
        m_endedLine = c < 0 || c == '\n';
        return !token.empty();
    }

    //! The rest of the line of the last token (nothing when the token ended
    //! it), without the line break; false at a line longer than a token may be.
    bool RestOfLine(std::string& rest)
    {
        rest.clear();
        if (m_endedLine)
            return true;
        for (int c = Get(); c >= 0 && c != '\n'; c = Get()) {
            if (rest.size() == kMaxTokenLength) {
                m_overlong = true;
                return false;
            }
            rest.push_back(static_cast<char>(c));
        }
        m_endedLine = true;
        return true;
    }

    //! Makes `token`, just read, the token read next, ending as it ended.
    void PushBack(const std::string& token) { m_pushedBack = token + (m_endedLine ? "\n" : " "); }

private:
    // The C locale's white space, whatever locale the host has set.
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    int Get()
    {
        if (!m_pushedBack.empty()) {
            const int c = static_cast<unsigned char>(m_pushedBack.front());
            m_pushedBack.erase(0, 1);
            return c;
        }
        if (m_pos == m_end) {
            m_pos = 0;
            m_end = VSIFReadL(m_buffer.data(), 1, m_buffer.size(), m_file);
            if (m_end == 0)
                return -1;
        }
        return static_cast<unsigned char>(m_buffer[m_pos++]);
    }

    VSILFILE* m_file;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    std::uint64_t m_size = 0;
    std::string m_pushedBack;
    bool m_endedLine = false;
    bool m_overlong = false;
};

//! The header as both readers use it, from either layout.
struct DemHeader {
    KRString unit;
    double orientation = 0.0;
    double x = 0.0;
    double y = 0.0;
    double dx = 0.0;
    double dy = 0.0;
    int rows = 0;
    int cols = 0;
    double divisor = 1.0;
    bool keyed = false;       //!< the 2007 edition: Hzoom divides, -99999 marks nodata
    double noData = -99999.0; //!< file value of a cell without elevation (keyed layout)
};

constexpr double kKeyedNoData = -99999.0;
constexpr double kSecondsPerDegree = 3600.0;
constexpr int kMaxKeyedHeaderLines = 64;

//! A row or column count: the number truncated toward zero, or 0 when it is
//! not a positive count an int holds.
int ParseCount(const std::string& token)
{
    const double value = CPLAtof(token.c_str());
    if (!(value >= 1.0 && value < 2147483648.0))
        return 0;
    return static_cast<int>(value);
}

//! `text` without white space at either end.
std::string Trimmed(const std::string& text)
{
    const char* space = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool SameNoCase(const std::string& a, const char* b)
{
    return EQUAL(a.c_str(), b);
}

//! The positional layout: twelve tokens, the magic first. Numbers are read as
//! in the C locale, whatever the host process has set.
bool ReadPositionalHeader(TokenReader& in, DemHeader& header)
{
    std::string tokens[12];
    for (std::string& token : tokens) {
        if (!in.Next(token))
            return false;
    }
    header.unit = KRString(tokens[2].c_str());
    header.unit.TrimLeft();
    header.unit.TrimRight();
    header.orientation = CPLAtof(tokens[3].c_str());
    header.x = CPLAtof(tokens[5].c_str());
    header.y = CPLAtof(tokens[6].c_str());
    header.dx = CPLAtof(tokens[7].c_str());
    header.dy = CPLAtof(tokens[8].c_str());
    header.rows = ParseCount(tokens[9]);
    header.cols = ParseCount(tokens[10]);
    header.divisor = CPLAtof(tokens[11].c_str());
    return true;
}

//! The keyed layout of the 2007 edition: "Key:Value" lines in any order, up to
//! the first token without a colon, the first value. The grid's place and size
//! must be given; Alpha (the orientation, 0 for rows from the north), Hzoom
//! (the divisor) and XYUnit have defaults; a compressed grid is refused, and
//! coordinates in arc seconds are turned into degrees.
bool ReadKeyedHeader(TokenReader& in, DemHeader& header)
{
    header.keyed = true;
    header.unit = "M";
    header.noData = kKeyedNoData;
    int found = 0; // one bit per required key
    std::string token;
    std::string rest;
    for (int n = 0; n < kMaxKeyedHeaderLines && in.Next(token); ++n) {
        const std::size_t colon = token.find(':');
        if (colon == std::string::npos) {
            in.PushBack(token);
            break;
        }
        if (!in.RestOfLine(rest))
            return false;
        const std::string key = token.substr(0, colon);
        const std::string value = Trimmed(token.substr(colon + 1) + rest);
        const double number = CPLAtof(value.c_str());
        const struct {
            const char* name;
            double* target;
            int bit;
        } places[] = {{"X0", &header.x, 1},
                      {"Y0", &header.y, 2},
                      {"DX", &header.dx, 4},
                      {"DY", &header.dy, 8},
                      {"Alpha", &header.orientation, 0},
                      {"Hzoom", &header.divisor, 0}};
        for (const auto& place : places) {
            if (SameNoCase(key, place.name)) {
                *place.target = number;
                found |= place.bit;
            }
        }
        if (SameNoCase(key, "Row")) {
            header.rows = ParseCount(value);
            found |= 16;
        } else if (SameNoCase(key, "Col")) {
            header.cols = ParseCount(value);
            found |= 32;
        } else if (SameNoCase(key, "XYUnit")) {
            header.unit = KRString(value.c_str());
        } else if (SameNoCase(key, "Compress") && number != 0.0) {
            return false;
        }
    }
    if (found != 63)
        return false;
    if (header.unit.CompareNoCase("S") == 0) {
        header.x /= kSecondsPerDegree;
        header.y /= kSecondsPerDegree;
        header.dx /= kSecondsPerDegree;
        header.dy /= kSecondsPerDegree;
    }
    return true;
}

//! Reads the header of either layout. False when it is cut short, holds an
//! overlong token, has counts that are not positive, counts more values than
//! the file could hold (every value takes at least a digit and a separator),
//! or places the grid nowhere (coordinates, spacings or the far edges they give
//! not finite).
bool ReadDemHeader(TokenReader& in, DemHeader& header)
{
    header = DemHeader();
    std::string first;
    if (!in.Next(first))
        return false;
    in.PushBack(first);
    const bool read =
        STARTS_WITH_CI(first.c_str(), "DataMark") ? ReadKeyedHeader(in, header) : ReadPositionalHeader(in, header);
    if (!read || header.rows < 1 || header.cols < 1)
        return false;
    const std::uint64_t cells = static_cast<std::uint64_t>(header.rows) * static_cast<std::uint64_t>(header.cols);
    if (cells > in.Size() / 2)
        return false;
    const double right = header.x + (header.cols - 1) * header.dx;
    const double bottom = header.y - (header.rows - 1) * header.dy;
    return std::isfinite(header.x) && std::isfinite(header.y) && std::isfinite(right) && std::isfinite(bottom);
}

//! Tokens after the header, counted up to `limit`.
long long CountValues(TokenReader& in, long long limit)
{
    std::string token;
    long long count = 0;
    while (count < limit && in.Next(token))
        ++count;
    return count;
}

bool IsGeographicUnit(const KRString& unit)
{
    return unit.CompareNoCase("D") == 0 || unit.CompareNoCase("S") == 0;
}

//! The last step of both geometries: the destination samples over
//! `spanBounds` (all of them for projected requests) sampled from `grid`.
GetchResult FillOverGrid(KRTerrainData& terrain, const KRRect2d& rect, const KRTerrainData& grid,
                         const detail::KRGridFrame& frame, const KRRect2d& spanBounds, bool strict,
                         OGRCoordinateTransformation* toSource)
{
    terrain.ZeroAll();
    const detail::KRSampleSpan span =
        toSource != nullptr ? detail::FullSpan(terrain.GetWidth(), terrain.GetHeight())
                            : detail::ClippedSpan(rect, spanBounds, terrain.GetWidth(), terrain.GetHeight(), strict);
    detail::FillTerrainSamples(terrain, rect, span, grid, frame, toSource);
    return GetchResult_Delivered;
}

//! The default geometry: positions over the whole grid, tested against its size.
GetchResult FillFromDemGrid(KRTerrainData& terrain, const KRRect2d& rect, KRTerrainData& dem, const KRRect2d& srcBounds,
                            std::uint64_t width, std::uint64_t height, bool topDown,
                            OGRCoordinateTransformation* toSource)
{
    // Fetches from several threads would all write the same value; only the
    // first one after reading the grid needs to.
    if (dem.m_dNoDataValue != kDemNoData)
        dem.m_dNoDataValue = kDemNoData;

    detail::KRGridFrame frame;
    frame.bounds = srcBounds;
    frame.cols = static_cast<int>(std::min<std::uint64_t>(width, INT32_MAX));
    frame.rows = static_cast<int>(std::min<std::uint64_t>(height, INT32_MAX));
    frame.topDown = topDown;
    frame.rangeTest = true;
    return FillOverGrid(terrain, rect, dem, frame, srcBounds, false, toSource);
}

} // namespace

namespace detail {

bool StartsAsNsdtfDem(const char* head, std::size_t size, bool demExtension)
{
    const std::string text(head, size);
    if (demExtension && text.size() >= 9 && EQUALN(text.c_str(), "NSDTF-DEM", 9))
        return true;
    const std::string line = text.substr(0, text.find('\n'));
    const std::size_t colon = line.find(':');
    return colon != std::string::npos && SameNoCase(Trimmed(line.substr(0, colon)), "DataMark") &&
           SameNoCase(Trimmed(line.substr(colon + 1)), "CNSDTF-DEM");
}

} // namespace detail

// On any failure the accessor is left describing no raster (no band, no size,
// no coordinate type), which makes the open fail and every fetch deliver nothing.
void KRGORasterAccessorPlugin::ReadChinaDemInfo(const KRString& path)
{
    bool ok = false;
    try {
        TokenReader in(path.Cstr());
        DemHeader header;
        if (in.IsOpen() && ReadDemHeader(in, header)) {
            if (IsGeographicUnit(header.unit))
                m_nProjType = 1;
            else
                m_nProjType = m_pLatLonToSrc != nullptr ? 2 : 0;

            // Point-registered: the outer samples lie on the bounds.
            const KRRect2d bounds(header.x, header.y, header.x + (header.cols - 1) * header.dx,
                                  header.y - (header.rows - 1) * header.dy);
            m_nWidth = static_cast<std::uint64_t>(header.cols);
            m_nHeight = static_cast<std::uint64_t>(header.rows);
            m_nBandCount = 1;
            m_ePixelFormat = PF_R32F;
            m_dPixelSizeX = bounds.Width() / static_cast<double>(m_nWidth);
            const double pixelHeight = bounds.Height() / static_cast<double>(m_nHeight);
            const bool northFirst =
                header.orientation > -kOrientationTolerance && header.orientation < kOrientationTolerance;
            m_dPixelSizeY = northFirst ? -pixelHeight : pixelHeight;
            m_srcBounds.SetGeoBounds(bounds);
            m_latLonBounds.SetGeoBounds(TransformBounds(m_pSrcToLatLon, bounds, kBoundsSteps));
            CalcResolution();
            ok = true;
        }
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        m_nBandCount = 0;
        m_nWidth = 0;
        m_nHeight = 0;
        m_nProjType = 0;
        m_srcBounds.SetGeoBounds(KRRect2d());
        m_latLonBounds.SetGeoBounds(KRRect2d());
    }
}

// A file that cannot be read leaves m_pDemData as it was (null on the first
// fetch), and the fetch then delivers nothing. Cells for which the file holds
// no value stay at the nodata value, so they come out as 0, as long as it holds
// at least half of them: a header that announces far more values than the file
// holds is not believed, so it cannot make the grid take the memory of values
// that do not exist. The values are counted in a first pass for that reason.
void KRGORasterAccessorPlugin::ReadChinaDemData(const KRString& path)
{
    try {
        TokenReader in(path.Cstr());
        DemHeader header;
        if (!in.IsOpen() || !ReadDemHeader(in, header))
            return;
        const long long announced = static_cast<long long>(header.rows) * header.cols;
        if (2 * CountValues(in, announced) < announced || !in.Rewind() || !ReadDemHeader(in, header))
            return;
        double divisor = header.divisor;
        if (!header.keyed && header.unit.CompareNoCase("K") == 0)
            divisor *= 0.001;

        std::unique_ptr<KRTerrainData> grid = detail::NewTerrainGrid(header.cols, header.rows, RDF_Float32);
        if (!grid)
            return;
        for (int row = 0; row < header.rows; ++row) {
            for (int col = 0; col < header.cols; ++col)
                grid->SetValue(row, col, kDemNoData);
        }
        grid->m_dNoDataValue = kDemNoData;

        delete m_pDemData;
        m_pDemData = nullptr;
        m_bMinMaxValid = false;
        std::string token;
        // A short list ends early: the remaining cells keep the nodata value.
        for (long long k = 0; k < announced && in.Next(token); ++k) {
            const double value = CPLAtof(token.c_str());
            if (header.keyed && value == header.noData)
                continue; // the cell keeps the grid's own nodata value and stays out of the range
            const float parsed = static_cast<float>(value);
            const double cell = static_cast<double>(static_cast<float>(static_cast<double>(parsed) / divisor));
            grid->SetValue(static_cast<int>(k / header.cols), static_cast<int>(k % header.cols), cell);
            if (!std::isfinite(cell))
                continue; // a range of NaN or infinity would describe nothing
            if (!m_bMinMaxValid) {
                m_dMaxValue = cell;
                m_dMinValue = cell;
                m_bMinMaxValid = true;
            } else {
                if (cell > m_dMaxValue)
                    m_dMaxValue = cell;
                if (cell < m_dMinValue)
                    m_dMinValue = cell;
            }
        }
        m_pDemData = grid.release();
    } catch (...) {
        // An allocation that failed leaves no grid; fetches then deliver nothing.
    }
}

// In accurate mode the grid's values belong to its nodes, so its cells are
// centred on them: their edges lie half a spacing beyond the outer nodes.
GetchResult KRGORasterAccessorPlugin::FillFromDem(KRTerrainData& terrain, const KRRect2d& rect, const KRRect2d& srcRect,
                                                  bool flip, OGRCoordinateTransformation* toSource)
{
    const bool topDown = (m_dPixelSizeY < 0.0) != flip;
    const KRRect2d& nodes = m_srcBounds.GetGeoBounds();
    if (!m_bAccurate)
        return FillFromDemGrid(terrain, rect, *m_pDemData, nodes, m_nWidth, m_nHeight, topDown, toSource);
    KRBandWindow window;
    if (!SourceWindow(rect, srcRect, terrain.GetWidth(), terrain.GetHeight(), topDown, window))
        return GetchResult_None;
    std::unique_ptr<KRTerrainData> grid = detail::NewTerrainGrid(window.bufW, window.bufH, RDF_Float32);
    if (!grid)
        return GetchResult_None;
    const KRTerrainData& dem = *m_pDemData;
    const detail::KRRowReader readRow = [&dem](int row, int x, int count, int step, double* values) {
        for (int c = 0; c < count; ++c)
            values[c] = dem.GetValue(row, x + c * step + step / 2);
        return true;
    };
    detail::ReduceWindow(window, readRow, false, true, kDemNoData, *grid);
    grid->m_dNoDataValue = kDemNoData;

    const double halfX = m_dResX / 2.0, halfY = m_dResY / 2.0;
    const KRRect2d edges(nodes.left - halfX, nodes.top + halfY, nodes.right + halfX, nodes.bottom - halfY);
    const detail::KRGridFrame frame = detail::CentredFrame(window, edges, static_cast<long long>(m_nWidth),
                                                           static_cast<long long>(m_nHeight), topDown, true);
    return FillOverGrid(terrain, rect, *grid, frame, edges, true, toSource);
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromChinaDemLatLonData(KRTerrainData* terrain,
                                                                                   const KRRect2d& rect, bool flip)
{
    const KRRect2d& src = m_srcBounds.GetGeoBounds();
    if (terrain == nullptr || m_pDemData == nullptr || !rect.IsIntersect(src, kIntersectTolerance))
        return GetchResult_None;
    return FillFromDem(*terrain, rect, rect, flip, nullptr);
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromChinaDemProData(KRTerrainData* terrain,
                                                                                const KRRect2d& rect, bool flip)
{
    if (terrain == nullptr || m_pDemData == nullptr)
        return GetchResult_None;
    const std::unique_ptr<OGRCoordinateTransformation> toSource = detail::CloneForFetch(m_pLatLonToSrc);
    if (!toSource)
        return GetchResult_None;

    const KRRect2d& src = m_srcBounds.GetGeoBounds();
    const KRRect2d srcRect = TransformBounds(toSource.get(), rect, kBoundsSteps);
    if (!srcRect.IsIntersect(src, kIntersectTolerance))
        return GetchResult_None;
    return FillFromDem(*terrain, rect, srcRect, flip, toSource.get());
}

} // namespace KRC
