#pragma once

#include <cstddef>

#include "KRExport.h"
#include "KRTypes.h"

namespace KRC {

template <class T> class KRArray;

//! Row-major grid of samples of one enumRasterDataFromat.
class KR_COMMON_API KRTerrainData {
public:
    struct Structure {
        float fScale = 1.0f; //!< vertical scale of the grid
        int nFlags = 0;
    };

    explicit KRTerrainData(const Structure& info);
    virtual ~KRTerrainData();

    KRTerrainData(const KRTerrainData&) = delete;
    KRTerrainData& operator=(const KRTerrainData&) = delete;

    void SetWidth(int width);
    void SetHeight(int height);
    void SetDataFormat(enumRasterDataFromat format);

    //! Allocates width x height zeroed samples; false when the size is not
    //! positive, the format has no size, or the allocation fails.
    bool CreateData();

    int GetWidth() const;
    int GetHeight() const;
    enumRasterDataFromat GetDataFormat() const;
    void* GetData() const;
    std::size_t GetDataBytes() const;
    const Structure& GetStructure() const;

    void ZeroAll();

    //! Stores `value` converted to the grid's format (saturating for integers,
    //! NaN as 0); out-of-range indices are ignored.
    void SetValue(long long index, double value);
    void SetValue(int row, int col, double value);

    //! The sample at (row, col); 0 outside the grid.
    double GetValue(int row, int col) const;

    //! Bilinear value at a fractional position, clamped to the grid. With
    //! `ignoreNoData` false, neighbours within 1e-10 of m_dNoDataValue get no
    //! weight; when none is valid the result is m_dNoDataValue.
    double GetBRasampleValue(double row, double col, bool ignoreNoData) const;

    //! Nearest cell of every grid at (row, col) into out[band]; out[3] is the
    //! alpha: 0 when no band has a valid sample, else 255 (or band 4's value).
    static void GetValue(double row, double col, const KRArray<KRTerrainData*>& bands,
                         const KRArray<double>& noData, double* out, bool ignoreNoData,
                         double tolerance);

    //! Bilinear counterpart of the static GetValue; nodata neighbours get no
    //! weight, so no dark fringe appears at nodata edges.
    static void GetBRasampleValue(double row, double col, const KRArray<KRTerrainData*>& bands,
                                  const KRArray<double>& noData, double* out, bool ignoreNoData,
                                  double tolerance);

    //! Nodata value used by the member sampler.
    double m_dNoDataValue = -9999.0;

private:
    Structure m_info;
    int m_nWidth = 0;
    int m_nHeight = 0;
    enumRasterDataFromat m_eFormat = RDF_None;
    unsigned char* m_pData = nullptr;
};

} // namespace KRC
