#pragma once
// gora's core: what every command shares. A command names its input and output
// files, tiles, points, rectangles and display options through the Add...
// helpers below, so that an option means the same in every command; it opens
// the raster with OpenSource, talks to the module only through the accessor's
// virtual operations (and the base class's getters), and writes pictures with
// WritePng. Failures are thrown as gora::Error, which main turns into one line
// on stderr and exit status 1; CLI::ParseError thrown by a command means a
// usage error (exit status 2).
//
// Adding a command group: write `void AddXCommands(CLI::App&, const Globals&)`
// in its own file, declare it in GoraCommands.h and call it from main.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "KRRasterDataAccessor.h"

namespace gora {

//! A command that failed on `file`; the message is "FILE: WHAT".
class Error : public std::runtime_error {
public:
    Error(const std::string& file, const std::string& what);
};

// ---------------------------------------------------------------------------
// Module and accessors

//! Options every command shares; main fills them before a command runs.
struct Globals {
    //! Folder of GORasterAccessorPlugin.so; empty: beside gora, else in ../lib.
    std::string moduleDir;
};

//! Adds --module-dir (default $GORA_MODULE_DIR), kept as an absolute path.
void AddGlobalOptions(CLI::App& app, Globals& globals);

//! `name` beside gora (the build folder), else in `installedDir` of the
//! installed prefix: the first that holds `probe` (itself when `probe` is
//! empty), or the one beside gora when neither does.
std::string FindBesideGora(const std::string& name, const std::string& installedDir, const std::string& probe = "");

//! An accessor made by the module's factory. It keeps the module loaded, and
//! the colour dictionary it was handed alive, for as long as it lives.
class Accessor {
public:
    Accessor(Accessor&&) = default;
    Accessor& operator=(Accessor&&) = delete; // would unload before destroying
    ~Accessor() = default;

    KRC::KRRasterDataAccessor& operator*() const { return *m_accessor; }
    KRC::KRRasterDataAccessor* operator->() const { return m_accessor.get(); }

    //! Makes `dict` the accessor's value-to-colour dictionary (null removes it).
    void SetColorDict(std::unique_ptr<KRC::KRColorDictTable> dict);

private:
    friend Accessor NewAccessor(const Globals& globals);
    Accessor() = default;

    // Destroyed bottom-up: the accessor, then its dictionary, then the module.
    std::shared_ptr<void> m_module;
    std::unique_ptr<KRC::KRColorDictTable> m_colorDict;
    std::unique_ptr<KRC::KRRasterDataAccessor> m_accessor;
};

//! A fresh accessor from the module's factory. Creating one makes the
//! module's folder the current one, so every path is made absolute first.
Accessor NewAccessor(const Globals& globals);

// ---------------------------------------------------------------------------
// Files

//! The raster a command reads, and a coordinate system to import after opening.
struct Source {
    std::string raster;
    std::string proj4; //!< for sources the module cannot place (metric NSDTF-DEM files)
};

//! Adds the RASTER argument and --proj4. Paths become absolute as they are parsed.
void AddSource(CLI::App& cmd, Source& source);

//! A new accessor with the source open; throws Error naming the file.
Accessor OpenSource(const Globals& globals, const Source& source);

//! Adds a required positional output file, made absolute as it is parsed.
void AddOutputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help);

//! Adds an optional positional input file (not the raster), made absolute.
CLI::Option* AddInputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help);

//! A file written under a temporary name beside its final one and moved into
//! place by Commit, so a command that fails leaves no partial file behind.
//! The temporary name keeps the extension, which GDAL drivers go by.
class PendingOutput {
public:
    explicit PendingOutput(std::string path);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& Path() const { return m_path; }
    const std::string& TempPath() const { return m_temp; }
    //! Moves the written file into place; throws Error when there is none.
    void Commit();

private:
    std::string m_path;
    std::string m_temp;
    bool m_committed = false;
};

// ---------------------------------------------------------------------------
// Tiles, points, rectangles, sizes

//! A tile of the host's tiling: column x east from -180, row y south from +90;
//! level L has 2^(L+1) x 2^L tiles of 180 / 2^L degrees.
struct TileRef {
    int x = 0;
    int y = 0;
    int level = 0;
};

//! --level with either --tile X Y or --at LON LAT (a point inside the tile).
struct TileOptions {
    int level = 0;
    std::vector<int> tile;
    std::vector<double> at;

    TileRef Resolve() const;
};

void AddTileOptions(CLI::App& cmd, TileOptions& tile, const std::string& what);

//! Adds the required --level of the host's tiling.
void AddLevelOption(CLI::App& cmd, int& level);

//! "tile X Y at level L", for messages.
std::string TileName(const TileRef& tile);

//! The tile holding a longitude/latitude at a level.
TileRef TileAt(double lon, double lat, int level);
KRC::KRRect2d TileBounds(const TileRef& tile);

//! Adds --at LON LAT (WGS84 degrees).
CLI::Option* AddPointOption(CLI::App& cmd, std::vector<double>& lonLat, const std::string& help);

//! Adds --rect WEST SOUTH EAST NORTH (WGS84 degrees unless `help` says otherwise).
CLI::Option* AddRectOption(CLI::App& cmd, std::vector<double>& rect, const std::string& name, const std::string& help);

//! The rectangle given as WEST SOUTH EAST NORTH; throws a usage error when it is empty.
KRC::KRRect2d ToRect(const std::vector<double>& westSouthEastNorth, const std::string& option);

//! Adds --size WIDTH HEIGHT (pixels).
void AddSizeOption(CLI::App& cmd, std::vector<int>& size);

//! The --size given, else 512 pixels along the longer side of `rect`.
void PictureSize(const std::vector<int>& size, const KRC::KRRect2d& rect, int& width, int& height);

// ---------------------------------------------------------------------------
// Display options

//! How the host shows images: its display settings, the flip byte of the
//! rectangle fetches and a colour ramp for single-band sources.
struct DisplayOptions {
    std::string stretch = "none";
    float gamma = 1.0f;
    std::vector<float> clip;
    std::string bandOrder;
    bool ignoreAlpha = false;
    std::vector<int> filterColor;
    double filterTolerance = -1.0; //!< negative: the module's own
    bool flip = false;
    std::string ramp = "gray";
};

void AddDisplayOptions(CLI::App& cmd, DisplayOptions& display);

//! The --band-order as four integers; empty when none was given.
std::vector<int> BandMap(const DisplayOptions& display);

//! What every picture-making command takes: the raster, the PNG to write and
//! the display options.
struct PictureArgs {
    Source source;
    std::string png;
    DisplayOptions display;
};

void AddPictureArgs(CLI::App& cmd, PictureArgs& args);

//! The raster open, with the display options handed to the accessor.
Accessor OpenForPictures(const Globals& globals, const PictureArgs& args);

//! Hands the options to the accessor through the host's setters. A single-band
//! source without a palette gets the ramp as its colour dictionary, spread
//! over the band's value range (or over 0..255 when a stretch applies).
void ApplyDisplay(Accessor& accessor, const DisplayOptions& display);

//! Ramp names: "gray" (black to white) and "terrain" (green, ochre, brown, white).
std::unique_ptr<KRC::KRColorDictTable> MakeRamp(const std::string& name, double low, double high);

// ---------------------------------------------------------------------------
// Pictures

//! Pixels with the top row first, `bands` bytes each: 1 grey, 2 grey and
//! alpha, 3 RGB, 4 RGBA.
struct Picture {
    int width = 0;
    int height = 0;
    int bands = 0;
    std::vector<unsigned char> pixels;

    Picture() = default;
    Picture(int w, int h, int b);
    unsigned char* At(int row, int col);
    const unsigned char* At(int row, int col) const;
};

//! The host image as the host shows it: image row 0 is the south row, and a
//! pixel holds blue, green, red (and alpha) whatever the band order put there.
Picture PictureOfImage(const KRC::KRImageData& image);

//! Drops the alpha byte when every pixel is opaque.
void DropOpaqueAlpha(Picture& picture);

//! The picture as PNG bytes (GDAL's PNG driver); empty when encoding failed.
std::vector<unsigned char> EncodePng(const Picture& picture);

//! Writes the picture as a PNG file; throws Error, leaving no file, on failure.
void WritePng(const Picture& picture, const std::string& path);

//! WritePng, then one line on stdout saying what was written.
void SavePicture(const Picture& picture, const std::string& path);

// ---------------------------------------------------------------------------
// Fetches

using ImagePtr = std::unique_ptr<KRC::KRImageData>;

//! The image of one tile as the host fetches it (the tile operation), or,
//! with `flip`, through the rectangle operation on the tile's bounds, which is
//! the only one that takes the flip byte. Null when nothing was delivered.
ImagePtr FetchImageTile(KRC::KRRasterDataAccessor& accessor, const TileRef& tile, bool flip);

//! The rectangle fetch into a width x height image of three bytes per pixel;
//! the module hands back an RGBA image when some pixels are transparent.
ImagePtr FetchImageRect(KRC::KRRasterDataAccessor& accessor, const KRC::KRRect2d& rect, int width, int height,
                        bool flip);

//! The quick path (source units straight onto pixels) into a width x height
//! image of three bytes per pixel, or the RGBA image the module hands back
//! when the rectangle hangs over the raster's edge. `bandMap` may be empty.
ImagePtr FetchQuickRect(KRC::KRRasterDataAccessor& accessor, const KRC::KRRect2d& rect, int width, int height,
                        std::vector<int> bandMap, bool flip);

//! Shows GDAL's terminal progress (on stdout) when there are at least `minSteps` steps.
class Progress {
public:
    Progress(long long steps, long long minSteps);
    void Step();

private:
    long long m_steps;
    long long m_done = 0;
    bool m_shown;
};

// ---------------------------------------------------------------------------
// JSON

//! JSON has no NaN or infinity; such numbers are written as null.
nlohmann::json JsonNumber(double value);
nlohmann::json JsonRect(const KRC::KRRect2d& rect);

} // namespace gora
