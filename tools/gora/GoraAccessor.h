#pragma once
// The module and its accessors: loading GORasterAccessorPlugin.so with dlopen,
// making accessors with its factory, opening the raster a command names, and
// the fetches a command asks of an accessor. Failures are thrown as
// gora::Error, which main turns into one line on stderr and exit status 1.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "KRRasterDataAccessor.h"

namespace gora {

//! A command that failed on `file`; the message is "FILE: WHAT".
class Error : public std::runtime_error {
public:
    Error(const std::string& file, const std::string& what);
};

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

    //! Keeps a file the accessor reads (a VRT in memory) until the accessor is gone.
    void KeepSourceFile(std::shared_ptr<const std::string> file) { m_sourceFile = std::move(file); }

private:
    friend Accessor NewAccessor(const Globals& globals);
    Accessor() = default;

    // Destroyed bottom-up: the accessor, then its dictionary and the file it
    // read, then the module.
    std::shared_ptr<void> m_module;
    std::shared_ptr<const std::string> m_sourceFile;
    std::unique_ptr<KRC::KRColorDictTable> m_colorDict;
    std::unique_ptr<KRC::KRRasterDataAccessor> m_accessor;
};

//! A fresh accessor from the module's factory. Creating one makes the
//! module's folder the current one, so every path is made absolute first.
Accessor NewAccessor(const Globals& globals);

//! The raster a command reads, and a coordinate system to import after opening.
struct Source {
    std::string raster;
    std::string proj4;       //!< for sources the module cannot place (metric NSDTF-DEM files)
    bool noAccurate = false; //!< open in the module's default geometry instead of its accurate mode
};

//! A new accessor with the source open; throws Error naming the file.
Accessor OpenSource(const Globals& globals, const Source& source);

// ---------------------------------------------------------------------------
// Fetches

//! A tile of the host's tiling (see GoraTiles.h).
struct TileRef;

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

} // namespace gora
