#pragma once
// gora serve: the module's image and terrain tiles over HTTP, for the globe
// page in the page's folder (gora-web beside gora, made at build time).

#include <atomic>
#include <memory>
#include <string>

#include "GoraCore.h"

namespace gora {

//! What the server shows: imagery from one accessor, terrain from another, or
//! none (null: the page shows the flat ellipsoid). Both must stay open and
//! unchanged while the server runs; their fetches run on the server's threads
//! at the same time, as the host's would.
struct ServedRasters {
    KRC::KRRasterDataAccessor& imagery;
    KRC::KRRasterDataAccessor* terrain;
    bool flip = false;    //!< the display option: image tiles through the rectangle fetch with the flip byte
    bool accurate = true; //!< both were opened in the module's accurate mode
};

//! A raster serves as its own terrain when it holds elevations: one band, no
//! palette. An image (RGB, a palette) would turn its colours into bumps.
bool HoldsElevation(KRC::KRRasterDataAccessor& raster);

//! The HTTP server on 127.0.0.1: image tiles as PNG, terrain tiles as 33 x 33
//! floats, both rasters' descriptions as JSON, and the files of the page's
//! folder; nothing else.

class TileServer {
public:
    TileServer(const ServedRasters& rasters, const std::string& webDir);
    ~TileServer();
    TileServer(const TileServer&) = delete;
    TileServer& operator=(const TileServer&) = delete;

    //! Port 0 lets the system choose. Returns the port bound, or -1 (also
    //! when another server listens there already).
    int Bind(int port);
    //! Answers requests until Stop; false when it could not run.
    bool Listen();
    //! Ends Listen, on any thread, whether it has begun yet or not.
    void Stop();

private:
    struct Routes;
    std::unique_ptr<Routes> m_pRoutes;
    std::atomic<bool> m_bListening{false};
    std::atomic<bool> m_bStopRequested{false};
};

} // namespace gora
