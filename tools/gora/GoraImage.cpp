// tile, image, quick: single pictures from the image fetches.
#include <iostream>

#include "GoraCommands.h"

using namespace KRC;

namespace gora {

namespace {

Picture PictureOrFail(const ImagePtr& image, const std::string& raster, const std::string& request)
{
    if (!image)
        throw Error(raster, request + ": nothing delivered (outside the raster, or no imagery for this source)");
    return PictureOfImage(*image);
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
        SavePicture(PictureOrFail(image, p.source.raster, TileName(tile)), p.png);
    });
}

struct ImageArgs {
    PictureArgs picture;
    std::vector<double> rect;
    std::vector<int> size;
};

void AddImage(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("image", "fetch the image of a WGS84 rectangle into a PNG");
    auto args = std::make_shared<ImageArgs>();
    AddPictureArgs(*cmd, args->picture);
    AddRectOption(*cmd, args->rect, "--rect", "WEST SOUTH EAST NORTH in WGS84 degrees (default: the raster's bounds)");
    AddSizeOption(*cmd, args->size);
    cmd->callback([&globals, args] {
        const PictureArgs& p = args->picture;
        Accessor a = OpenForPictures(globals, p);
        const KRRect2d rect = args->rect.empty() ? a->GetLatLonBounds().GetGeoBounds() : ToRect(args->rect, "--rect");
        int width = 0;
        int height = 0;
        PictureSize(args->size, rect, width, height);
        const ImagePtr image = FetchImageRect(*a, rect, width, height, p.display.flip);
        SavePicture(PictureOrFail(image, p.source.raster, "the rectangle"), p.png);
    });
}

struct QuickArgs {
    PictureArgs picture;
    std::vector<double> rect;
    std::vector<double> srcRect;
    std::vector<int> size;
};

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
    cmd->callback([&globals, args] {
        const PictureArgs& p = args->picture;
        Accessor a = OpenForPictures(globals, p);
        const KRRect2d rect = QuickRect(*a, *args);
        int width = 0;
        int height = 0;
        PictureSize(args->size, rect, width, height);
        const ImagePtr image = FetchQuickRect(*a, rect, width, height, BandMap(p.display), p.display.flip);
        SavePicture(PictureOrFail(image, p.source.raster, "the quick fetch"), p.png);
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
