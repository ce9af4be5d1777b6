#pragma once

#include "KRArray.h"
#include "KRExport.h"

namespace KRC {

// Packed colour: red in the low byte, then green, then blue.
#define KRRGB(r, g, b)                                                                  \
    (static_cast<unsigned int>(static_cast<unsigned char>(r)) |                         \
     (static_cast<unsigned int>(static_cast<unsigned char>(g)) << 8) |                  \
     (static_cast<unsigned int>(static_cast<unsigned char>(b)) << 16))
#define KRREDVAL(c) (static_cast<unsigned char>((c) & 0xFFu))
#define KRGREENVAL(c) (static_cast<unsigned char>(((c) >> 8) & 0xFFu))
#define KRBLUEVAL(c) (static_cast<unsigned char>(((c) >> 16) & 0xFFu))

//! Colour with components on the 0 to 1 scale.
class KR_COMMON_API KRColor3 {
public:
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;
    float a = 1.0f;

    KRColor3() = default;
    KRColor3(float red, float green, float blue, float alpha) : r(red), g(green), b(blue), a(alpha) {}

    //! Components on the 0 to 255 scale.
    void SetValue4i(int red, int green, int blue, int alpha);
};

//! Palette of packed colours indexed by sample value.
class KR_COMMON_API KRColorset {
public:
    //! Resizes the colour vector; new colours are 0 (black).
    void SetColorSize(int count);
    int GetColorSize() const;

    KRArray<unsigned int> m_colors;
};

//! Value-to-colour dictionary; preferred over the palette when not empty.
class KR_COMMON_API KRColorDictTable {
public:
    KRColorDictTable();
    virtual ~KRColorDictTable();

    KRColorDictTable(const KRColorDictTable&) = delete;
    KRColorDictTable& operator=(const KRColorDictTable&) = delete;

    void AddColor(double value, unsigned int color);
    int GetCount() const;
    //! Colour of the nearest entry at or below `value` (the first entry below the smallest).
    unsigned int GetColor(double value) const;

private:
    struct Entry {
        double value;
        unsigned int color;
    };
    Entry* m_pEntries = nullptr;
    int m_nCount = 0;
};

} // namespace KRC
