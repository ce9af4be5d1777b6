#pragma once
// Output files: written under a temporary name beside the target and moved
// into place only when complete, so a failed command leaves nothing behind.

#include <memory>
#include <string>

#include "GoraPicture.h"

class GDALDataset;

namespace gora {

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

//! A picture made strip by strip, so that its memory stays bounded: strips go
//! into a temporary GeoTIFF beside the target, which Finish turns into the PNG
//! (RGB when every pixel was opaque) and moves into place.
class PictureStrips {
public:
    PictureStrips(const std::string& path, int width, int height);
    ~PictureStrips();
    PictureStrips(const PictureStrips&) = delete;
    PictureStrips& operator=(const PictureStrips&) = delete;

    //! Writes rows top.. of the picture; `strip` is as wide as the picture.
    void Write(const Picture& strip, int top);
    //! The PNG moved into place, and one line on stdout saying what was written.
    void Finish();

private:
    PendingOutput m_output;
    std::string m_strips;
    std::unique_ptr<GDALDataset> m_dataset;
    int m_width;
    int m_height;
    bool m_opaque = true;
};

//! Rows per strip of big pictures: bounded memory at any width gora allows.
constexpr int kStripRows = 256;

//! Refuses, before any work, an output whose folder does not exist: gora
//! creates no folders, so a mistyped path does not leave new ones behind.
void CheckOutputFolder(const std::string& path);

//! Writes the picture as a PNG file; throws Error, leaving no file, on failure.
void WritePng(const Picture& picture, const std::string& path);

//! WritePng, then one line on stdout saying what was written.
void SavePicture(const Picture& picture, const std::string& path);

} // namespace gora
