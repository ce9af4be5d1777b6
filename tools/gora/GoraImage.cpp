// tile, image, quick: single pictures from the image fetches.
#include <algorithm>
#include <functional>
#include <iostream>

#include "GoraCommands.h"

using namespace KRC;

namespace gora {

namespace {

Picture PictureOrFail(const ImagePtr& image, const Source& source, const std::string& request)
{
    if (!image)
        throw Error(source.raster, request + ": " + NoImageReason(source));
    return PictureOfImage(*image);
}

using RectFetch = std::function<ImagePtr(const KRRect2d& rect, int width, int height)>;

//! The picture of `rect`, fetched strip by strip into `p.png`, so that its
//! memory stays bounded; a strip the module leaves undelivered is transparent.
void FetchInStrips(const KRRect2d& rect, int width, int height, const RectFetch& fetch, const PictureArgs& p,
                   const std::string& request, int stripRows = kStripRows)
{
    PictureStrips picture(p.png, width, height);
    const double rowHeight = (rect.top - rect.bottom) / height;
    bool delivered = false;
    Progress progress((height + stripRows - 1) / stripRows, 16);
    for (int top = 0; top < height; top += stripRows) {
        const int rows = std::min(stripRows, height - top);
        const double bottom = top + rows == height ? rect.bottom : rect.top - (top + rows) * rowHeight;
        const ImagePtr image = fetch(KRRect2d(rect.left, rect.top - top * rowHeight, rect.right, bottom), width, rows);
        delivered = delivered || image != nullptr;
        picture.Write(image ? PictureOfImage(*image) : Picture(width, rows, 4), top);
        progress.Step();
    }
    if (!delivered)
        throw Error(p.source.raster, request + ": " + NoImageReason(p.source));
    picture.Finish();
}

//! The picture's size from --size and the rectangle, refused when too big without --big.
void SizeOf(const std::vector<int>& size, const KRRect2d& rect, bool big, const std::string& png, int& width,
            int& height)
{
    PictureSize(size, rect, width, height);
    CheckBig(width, height, "", big, png);
}

struct TileArgs {
    PictureArgs picture;
    TileOptions tile;
};

void AddTile(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("tile", "fetch one 256 x 256 image tile into a PNG (top row first)");
    auto args = std::make_shared<TileArgs>();
    AddPictureArgs(*cmd, args->picture);
    AddTileOptions(*cmd, args->tile, "tile");
    cmd->callback([&globals, args] {
        const PictureArgs& p = args->picture;
        Accessor a = OpenForPictures(globals, p);
        const TileRef tile = args->tile.Resolve();
        const ImagePtr image = FetchImageTile(*a, tile, p.display.flip);
        SavePicture(PictureOrFail(image, p.source, TileName(tile)), p.png);
    });
}

struct ImageArgs {
    PictureArgs picture;
    std::vector<double> rect;
    std::vector<int> size;
    bool big = false;
};

void AddImage(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("image", "fetch the image of a WGS84 rectangle into a PNG");
    auto args = std::make_shared<ImageArgs>();
    AddPictureArgs(*cmd, args->picture);
    AddRectOption(*cmd, args->rect, "--rect", "WEST SOUTH EAST NORTH in WGS84 degrees (default: the raster's bounds)");
    AddSizeOption(*cmd, args->size);
    AddBigOption(*cmd, args->big);
    cmd->callback([&globals, args] {
        const PictureArgs& p = args->picture;
        Accessor a = OpenForPictures(globals, p);
        const KRRect2d rect = args->rect.empty() ? a->GetLatLonBounds().GetGeoBounds() : ToRect(args->rect, "--rect");
        int width = 0;
        int height = 0;
        SizeOf(args->size, rect, args->big, p.png, width, height);
        const auto fetch = [&](const KRRect2d& strip, int w, int h) {
            return FetchImageRect(*a, strip, w, h, p.display.flip);
        };
        FetchInStrips(rect, width, height, fetch, p, "the rectangle");
    });
}

struct QuickArgs {
    PictureArgs picture;
    std::vector<double> rect;
    std::vector<double> srcRect;
    std::vector<int> size;
    bool big = false;
};

//! Display options the quick path does not apply: it copies source bytes.
const std::vector<std::string> kNotOnTheQuickPath = {
    "--stretch", "--range", "--gamma", "--clip", "--ignore-alpha", "--filter-color", "--filter-tolerance", "--ramp"};

//! The quick path's rectangle, in source units.
KRRect2d QuickRect(KRRasterDataAccessor& a, const QuickArgs& args)
{
    if (!args.srcRect.empty())
        return ToRect(args.srcRect, "--src-rect");
    if (args.rect.empty())
        return a.GetSrcBounds().GetGeoBounds();
    KRRect2d source;
    a.LatLonToProBounds(ToRect(args.rect, "--rect"), source);
    return source;
}

void AddQuick(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand(
        "quick", "fill a picture by the quick path: source pixels straight into the image, no resampling");
    auto args = std::make_shared<QuickArgs>();
    AddPictureArgs(*cmd, args->picture);
    auto* rect = AddRectOption(*cmd, args->rect, "--rect",
                               "WEST SOUTH EAST NORTH in WGS84 degrees, carried into source units by the module");
    AddRectOption(*cmd, args->srcRect, "--src-rect", "XMIN YMIN XMAX YMAX in source units (default: the whole raster)")
        ->excludes(rect);
    AddSizeOption(*cmd, args->size);
    AddBigOption(*cmd, args->big);
    cmd->callback([cmd, &globals, args] {
        RefuseOptions(*cmd, kNotOnTheQuickPath, "by the quick path, which copies source values unchanged");
        const PictureArgs& p = args->picture;
        Accessor a = OpenForPictures(globals, p);
        const KRRect2d rect = QuickRect(*a, *args);
        int width = 0;
        int height = 0;
        SizeOf(args->size, rect, args->big, p.png, width, height);
        const std::vector<int> bandMap = BandMap(p.display);
        const auto fetch = [&](const KRRect2d& strip, int w, int h) {
            return FetchQuickRect(*a, strip, w, h, bandMap, p.display.flip);
        };
        // The quick path flips rows within the rectangle it fills: flipped, it is filled whole.
        FetchInStrips(rect, width, height, fetch, p, "the quick fetch", p.display.flip ? height : kStripRows);
    });
}

} // namespace

void AddImageCommands(CLI::App& app, const Globals& globals)
{
    AddTile(app, globals);
    AddImage(app, globals);
    AddQuick(app, globals);
}

} // namespace gora
