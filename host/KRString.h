#pragma once

#include <string>

#include "KRExport.h"

namespace KRC {

template <class T> class KRArray;

//! 8-bit text of the host.
class KR_COMMON_API KRString {
public:
    KRString();
    KRString(const char* text);
    KRString(const char* text, int length);
    KRString(const KRString& other);
    KRString(KRString&& other) noexcept;
    ~KRString();

    KRString& operator=(const KRString& other);
    KRString& operator=(KRString&& other) noexcept;
    KRString& operator=(const char* text);

    operator const char*() const;
    const char* Cstr() const;
    int GetLength() const;
    bool IsEmpty() const;

    //! Appends `length` bytes of `text` (zero bytes included).
    KRString& Append(const char* text, int length);
    KRString operator+(const char* text) const;
    KRString& operator+=(const char* text);
    bool operator==(const KRString& other) const;
    bool operator!=(const KRString& other) const;
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const;

    //! 0 when equal ignoring ASCII case, else the sign of the first difference.
    int CompareNoCase(const char* text) const;

    KRString& Trim(char c);
    KRString& TrimLeft();
    KRString& TrimRight();

    //! Splits at every character of `separators`, dropping empty pieces;
    //! returns the piece count. `keepEmpty` true keeps empty pieces.
    int Split(KRArray<KRString>& pieces, const char* separators, bool keepEmpty) const;

private:
    std::string m_str;
};

} // namespace KRC
