#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "KRExport.h"

namespace KRC {

//! Growable contiguous array of the host. The layout (three element pointers,
//! then the grow-by count) and the growth rules are shared with the host, which
//! passes these arrays across the module boundary.
template <class T>
class KR_API_EXPORT KRArray {
public:
    KRArray() noexcept;
    KRArray(const KRArray& other);
    KRArray(KRArray&& other) noexcept;
    ~KRArray();

    KRArray& operator=(const KRArray& other);
    KRArray& operator=(KRArray&& other) noexcept;

    int GetSize() const;
    T GetAt(int index) const;
    void SetAt(int index, const T& value);
    T& operator[](int index);
    const T& operator[](int index) const;

    //! Appends and returns the new element's index.
    int Add(const T& value);
    //! Resizes; new elements are value-initialised (zero for numbers and pointers).
    void SetSize(int count);
    void RemoveAll();
    void FreeExtra();
    void Copy(const KRArray& other);

    int GetCapacity() const;
    int GetGrowBy() const;
    //! Fixed growth step of Add and SetSize; 0 or less grows geometrically.
    void SetGrowBy(int growBy);
    T* GetData();
    const T* GetData() const;

private:
    std::size_t Size() const;
    std::size_t Capacity() const;
    static std::size_t MaxSize();
    static T* Allocate(std::size_t count);
    static void Deallocate(T* storage);
    std::size_t GrownCapacity(std::size_t needed) const;
    void Reallocate(std::size_t capacity);
    void DestroyRange(T* first, T* last);
    void CheckIndex(int index) const;
    [[noreturn]] static void ThrowTooLong();

    T* m_pFirst = nullptr;
    T* m_pLast = nullptr;
    T* m_pEnd = nullptr;
    int m_nGrowBy = 0;
};

template <class T>
KRArray<T>::KRArray() noexcept = default;

template <class T>
KRArray<T>::KRArray(const KRArray& other) : m_nGrowBy(other.m_nGrowBy)
{
    const std::size_t count = other.Size();
    if (count == 0)
        return;
    T* storage = Allocate(count);
    try {
        std::uninitialized_copy(other.m_pFirst, other.m_pLast, storage);
    } catch (...) {
        Deallocate(storage);
        throw;
    }
    m_pFirst = storage;
    m_pLast = storage + count;
    m_pEnd = storage + count;
}

template <class T>
KRArray<T>::KRArray(KRArray&& other) noexcept
    : m_pFirst(other.m_pFirst), m_pLast(other.m_pLast), m_pEnd(other.m_pEnd), m_nGrowBy(other.m_nGrowBy)
{
    other.m_pFirst = other.m_pLast = other.m_pEnd = nullptr;
}

template <class T>
KRArray<T>::~KRArray()
{
    DestroyRange(m_pFirst, m_pLast);
    Deallocate(m_pFirst);
}

template <class T>
KRArray<T>& KRArray<T>::operator=(const KRArray& other)
{
    if (this == &other)
        return *this;
    m_nGrowBy = other.m_nGrowBy;
    const std::size_t count = other.Size();
    if (count <= Capacity()) {
        const std::size_t common = std::min(count, Size());
        std::copy(other.m_pFirst, other.m_pFirst + common, m_pFirst);
        if (count < Size()) {
            DestroyRange(m_pFirst + count, m_pLast);
        } else {
            std::uninitialized_copy(other.m_pFirst + common, other.m_pLast, m_pFirst + common);
        }
        m_pLast = m_pFirst + count;
        return *this;
    }
    const std::size_t capacity = std::max(GrownCapacity(0), count);
    DestroyRange(m_pFirst, m_pLast);
    Deallocate(m_pFirst);
    m_pFirst = m_pLast = m_pEnd = nullptr;
    T* storage = Allocate(capacity);
    try {
        std::uninitialized_copy(other.m_pFirst, other.m_pLast, storage);
    } catch (...) {
        Deallocate(storage);
        throw;
    }
    m_pFirst = storage;
    m_pLast = storage + count;
    m_pEnd = storage + capacity;
    return *this;
}

template <class T>
KRArray<T>& KRArray<T>::operator=(KRArray&& other) noexcept
{
    if (this == &other)
        return *this;
    DestroyRange(m_pFirst, m_pLast);
    Deallocate(m_pFirst);
    m_pFirst = other.m_pFirst;
    m_pLast = other.m_pLast;
    m_pEnd = other.m_pEnd;
    m_nGrowBy = other.m_nGrowBy;
    other.m_pFirst = other.m_pLast = other.m_pEnd = nullptr;
    return *this;
}

template <class T>
int KRArray<T>::GetSize() const
{
    return static_cast<int>(Size());
}

template <class T>
T KRArray<T>::GetAt(int index) const
{
    CheckIndex(index);
    return m_pFirst[index];
}

template <class T>
void KRArray<T>::SetAt(int index, const T& value)
{
    CheckIndex(index);
    m_pFirst[index] = value;
}

template <class T>
T& KRArray<T>::operator[](int index)
{
    CheckIndex(index);
    return m_pFirst[index];
}

template <class T>
const T& KRArray<T>::operator[](int index) const
{
    CheckIndex(index);
    return m_pFirst[index];
}

template <class T>
int KRArray<T>::Add(const T& value)
{
    if (Size() >= MaxSize())
        ThrowTooLong();
    // The value may live in this array's storage, which growing releases.
    T copy(value);
    if (Size() >= Capacity() && m_nGrowBy > 0)
        Reallocate(Capacity() + static_cast<std::size_t>(m_nGrowBy));
    if (Size() >= Capacity())
        Reallocate(GrownCapacity(Size() + 1));
    ::new (static_cast<void*>(m_pLast)) T(std::move(copy));
    ++m_pLast;
    return static_cast<int>(Size() - 1);
}

template <class T>
void KRArray<T>::SetSize(int count)
{
    if (count < 0 || static_cast<std::size_t>(count) > MaxSize())
        ThrowTooLong();
    const auto wanted = static_cast<std::size_t>(count);
    if (count > static_cast<int>(Capacity()) && m_nGrowBy > 0) {
        const std::size_t step = static_cast<std::size_t>(m_nGrowBy);
        Reallocate(Capacity() + (wanted - wanted % step + step));
    }
    if (wanted < Size()) {
        DestroyRange(m_pFirst + wanted, m_pLast);
        m_pLast = m_pFirst + wanted;
        return;
    }
    if (wanted > Capacity())
        Reallocate(GrownCapacity(wanted));
    T* newLast = m_pFirst + wanted;
    for (T* p = m_pLast; p != newLast; ++p) {
        ::new (static_cast<void*>(p)) T();
        m_pLast = p + 1;
    }
}

template <class T>
void KRArray<T>::RemoveAll()
{
    DestroyRange(m_pFirst, m_pLast);
    m_pLast = m_pFirst;
    FreeExtra();
}

template <class T>
void KRArray<T>::FreeExtra()
{
    if (Capacity() > Size())
        Reallocate(Size());
}

template <class T>
void KRArray<T>::Copy(const KRArray& other)
{
    *this = other;
}

template <class T>
int KRArray<T>::GetCapacity() const
{
    return static_cast<int>(Capacity());
}

template <class T>
int KRArray<T>::GetGrowBy() const
{
    return m_nGrowBy;
}

template <class T>
void KRArray<T>::SetGrowBy(int growBy)
{
    m_nGrowBy = growBy;
}

template <class T>
T* KRArray<T>::GetData()
{
    return m_pFirst;
}

template <class T>
const T* KRArray<T>::GetData() const
{
    return m_pFirst;
}

template <class T>
std::size_t KRArray<T>::Size() const
{
    return static_cast<std::size_t>(m_pLast - m_pFirst);
}

template <class T>
std::size_t KRArray<T>::Capacity() const
{
    return static_cast<std::size_t>(m_pEnd - m_pFirst);
}

template <class T>
std::size_t KRArray<T>::MaxSize()
{
    return std::numeric_limits<std::size_t>::max() / sizeof(T);
}

template <class T>
T* KRArray<T>::Allocate(std::size_t count)
{
    if (count == 0)
        return nullptr;
    if (count > MaxSize())
        throw std::bad_array_new_length();
    return static_cast<T*>(::operator new(count * sizeof(T)));
}

template <class T>
void KRArray<T>::Deallocate(T* storage)
{
    ::operator delete(static_cast<void*>(storage));
}

// One and a half times the capacity, at least `needed`, at most MaxSize().
template <class T>
std::size_t KRArray<T>::GrownCapacity(std::size_t needed) const
{
    const std::size_t capacity = Capacity();
    if (capacity > MaxSize() - capacity / 2)
        return MaxSize();
    return std::max(capacity + capacity / 2, needed);
}

template <class T>
void KRArray<T>::Reallocate(std::size_t capacity)
{
    if (capacity > MaxSize())
        ThrowTooLong();
    const std::size_t count = Size();
    T* storage = Allocate(capacity);
    T* out = storage;
    try {
        for (T* p = m_pFirst; p != m_pLast; ++p, ++out)
            ::new (static_cast<void*>(out)) T(std::move_if_noexcept(*p));
    } catch (...) {
        DestroyRange(storage, out);
        Deallocate(storage);
        throw;
    }
    DestroyRange(m_pFirst, m_pLast);
    Deallocate(m_pFirst);
    m_pFirst = storage;
    m_pLast = storage + count;
    m_pEnd = storage + capacity;
}

template <class T>
void KRArray<T>::DestroyRange(T* first, T* last)
{
    for (T* p = first; p != last; ++p)
        p->~T();
}

template <class T>
void KRArray<T>::CheckIndex(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= Size())
        throw std::out_of_range("invalid vector subscript");
}

template <class T>
void KRArray<T>::ThrowTooLong()
{
    throw std::length_error("vector too long");
}

} // namespace KRC
