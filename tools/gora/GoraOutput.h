#pragma once
// Output files: written under a temporary name beside the target and moved
// into place only when complete, so a failed command leaves nothing behind.

#include <string>

#include "GoraPicture.h"

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

//! Writes the picture as a PNG file; throws Error, leaving no file, on failure.
void WritePng(const Picture& picture, const std::string& path);

//! WritePng, then one line on stdout saying what was written.
void SavePicture(const Picture& picture, const std::string& path);

} // namespace gora
