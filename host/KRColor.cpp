#include "KRColor.h"

#include <cmath>
#include <new>

namespace KRC {

void KRColor3::SetValue4i(int red, int green, int blue, int alpha)
{
    r = static_cast<float>(red) / 255.0f;
    g = static_cast<float>(green) / 255.0f;
    b = static_cast<float>(blue) / 255.0f;
    a = static_cast<float>(alpha) / 255.0f;
}

void KRColorset::SetColorSize(int count)
{
    m_colors.SetSize(count < 0 ? 0 : count);
}

int KRColorset::GetColorSize() const
{
    return m_colors.GetSize();
}

KRColorDictTable::KRColorDictTable() = default;

KRColorDictTable::~KRColorDictTable()
{
    delete[] m_pEntries;
}

// Entries stay sorted by value so a lookup is a binary search. A NaN value has
// no place in that order and is ignored.
void KRColorDictTable::AddColor(double value, unsigned int color)
{
    if (std::isnan(value))
        return;
    int lo = 0;
    int hi = m_nCount;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (m_pEntries[mid].value < value)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < m_nCount && m_pEntries[lo].value == value) {
        m_pEntries[lo].color = color;
        return;
    }
    Entry* entries = new (std::nothrow) Entry[static_cast<std::size_t>(m_nCount) + 1];
    if (entries == nullptr)
        return;
    for (int i = 0; i < lo; ++i)
        entries[i] = m_pEntries[i];
    entries[lo] = Entry{value, color};
    for (int i = lo; i < m_nCount; ++i)
        entries[i + 1] = m_pEntries[i];
    delete[] m_pEntries;
    m_pEntries = entries;
    ++m_nCount;
}

int KRColorDictTable::GetCount() const
{
    return m_nCount;
}

// Values below the first entry, and NaN, take the first entry's colour.
unsigned int KRColorDictTable::GetColor(double value) const
{
    if (m_nCount <= 0)
        return 0;
    int lo = 0;
    int hi = m_nCount;
    while (lo < hi) { // first entry greater than value
        const int mid = lo + (hi - lo) / 2;
        if (m_pEntries[mid].value <= value)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo == 0 ? m_pEntries[0].color : m_pEntries[lo - 1].color;
}

} // namespace KRC
