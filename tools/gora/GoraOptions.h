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

//! Adds --size WIDTH HEIGHT (pixels).
void AddSizeOption(CLI::App& cmd, std::vector<int>& size);

//! The --size given, else 512 pixels along the longer side of `rect`.
void PictureSize(const std::vector<int>& size, const KRC::KRRect2d& rect, int& width, int& height);

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

} // namespace gora
