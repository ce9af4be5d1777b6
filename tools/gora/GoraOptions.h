#pragma once
// Command-line options that mean the same in every command: input and output
// files, points, rectangles, picture sizes and the display options. A command
// adds them through the Add... helpers below; CLI::ParseError thrown while a
// command runs means a usage error (exit status 2).

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "GoraAccessor.h"

namespace gora {

//! `path` as an absolute, normalised path (empty stays empty).
std::string AbsolutePath(const std::string& path);

//! A transform that makes an option's path absolute as it is parsed: creating
//! an accessor changes the current folder.
const CLI::Validator& MakesAbsolute();

//! The integers of a comma-separated list; false when an item is not one.
bool ParseIntegers(const std::string& text, std::vector<int>& values);

//! Adds the RASTER argument and --proj4. Paths become absolute as they are parsed.
void AddSource(CLI::App& cmd, Source& source);

//! Adds a required positional output file, made absolute as it is parsed.
void AddOutputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help);

//! Adds an optional positional input file (not the raster), made absolute.
CLI::Option* AddInputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help);

//! Adds --at LON LAT (WGS84 degrees).
CLI::Option* AddPointOption(CLI::App& cmd, std::vector<double>& lonLat, const std::string& help);

//! Adds --rect WEST SOUTH EAST NORTH (WGS84 degrees unless `help` says otherwise).
CLI::Option* AddRectOption(CLI::App& cmd, std::vector<double>& rect, const std::string& name, const std::string& help);

//! The rectangle given as WEST SOUTH EAST NORTH; throws a usage error when it is empty.
KRC::KRRect2d ToRect(const std::vector<double>& westSouthEastNorth, const std::string& option);

//! The longitude and latitude of --at; throws a usage error when they lie off the globe.
KRC::KRPoint3d LonLat(const std::vector<double>& lonLat);

//! Adds --size WIDTH [HEIGHT] (pixels; one number is the longer side).
void AddSizeOption(CLI::App& cmd, std::vector<int>& size);

//! The --size given (one number: the longer side, the other kept in `rect`'s
//! proportions), else 512 pixels along the longer side.
void PictureSize(const std::vector<int>& size, const KRC::KRRect2d& rect, int& width, int& height);

//! Pictures beyond 4096 x 4096 pixels are made only when asked for with --big.
constexpr long long kBigPixels = 4096LL * 4096LL;

//! Adds --big.
void AddBigOption(CLI::App& cmd, bool& big);

//! Throws Error naming `png` when a picture of `pixels` needs --big and did not get it.
void CheckBig(long long width, long long height, const std::string& detail, bool big, const std::string& png);

//! Throws a usage error naming the first of `names` given to `cmd`: options a
//! command (or the way it was asked) does not use are refused, not ignored.
void RefuseOptions(const CLI::App& cmd, const std::vector<std::string>& names, const std::string& why);

//! How the host shows images: its display settings, the flip byte of the
//! rectangle fetches and a colour ramp for single-band sources.
struct DisplayOptions {
    std::string stretch = "auto"; //!< auto: clip for 16-bit bands, else none
    std::string bands;            //!< source bands shown as red, green, blue (and alpha), "3,2,1"
    std::vector<double> range;    //!< MIN MAX for the ramp, or stretched onto 0..255
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

//! Every display option's name, for commands that refuse them.
const std::vector<std::string>& DisplayOptionNames();

//! The --bands as band numbers; empty when none were given.
std::vector<int> SourceBands(const DisplayOptions& display);

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

} // namespace gora
