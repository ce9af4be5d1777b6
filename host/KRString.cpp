#include "KRString.h"

#include <cstring>

#include "KRArray.h"

namespace KRC {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// ASCII only, so the result does not depend on the process locale.
int LowerAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

} // namespace

KRString::KRString() = default;

KRString::KRString(const char* text)
{
    if (text != nullptr)
        m_str = text;
}

KRString::KRString(const char* text, int length)
{
    Append(text, length);
}

KRString::KRString(const KRString& other) = default;

KRString::KRString(KRString&& other) noexcept = default;

KRString::~KRString() = default;

KRString& KRString::operator=(const KRString& other) = default;

KRString& KRString::operator=(KRString&& other) noexcept = default;

KRString& KRString::operator=(const char* text)
{
    if (text == nullptr)
        m_str.clear();
    else
        m_str = text; // std::string copes with text that points into itself
    return *this;
}

KRString::operator const char*() const
{
    return m_str.c_str();
}

const char* KRString::Cstr() const
{
    return m_str.c_str();
}

int KRString::GetLength() const
{
    return static_cast<int>(m_str.size());
}

bool KRString::IsEmpty() const
{
    return m_str.empty();
}

KRString& KRString::Append(const char* text, int length)
{
    if (text != nullptr && length > 0)
        m_str.append(text, static_cast<std::size_t>(length));
    return *this;
}

KRString KRString::operator+(const char* text) const
{
    KRString result(*this);
    result += text;
    return result;
}

KRString& KRString::operator+=(const char* text)
{
    if (text != nullptr)
        m_str.append(text);
    return *this;
}

bool KRString::operator==(const KRString& other) const
{
    return m_str == other.m_str;
}

bool KRString::operator!=(const KRString& other) const
{
    return m_str != other.m_str;
}

// A null text compares as the empty text.
bool KRString::operator==(const char* text) const
{
    return m_str == (text != nullptr ? text : "");
}

bool KRString::operator!=(const char* text) const
{
    return !(*this == text);
}

// A null text compares as the empty text.
int KRString::CompareNoCase(const char* text) const
{
    const char* mine = m_str.c_str();
    const char* theirs = text != nullptr ? text : "";
    for (std::size_t i = 0;; ++i) {
        const int a = LowerAscii(static_cast<unsigned char>(mine[i]));
        const int b = LowerAscii(static_cast<unsigned char>(theirs[i]));
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
}

KRString& KRString::Trim(char c)
{
    const std::size_t first = m_str.find_first_not_of(c);
    if (first == std::string::npos) {
        m_str.clear();
        return *this;
    }
    const std::size_t last = m_str.find_last_not_of(c);
    m_str = m_str.substr(first, last - first + 1);
    return *this;
}

KRString& KRString::TrimLeft()
{
    std::size_t first = 0;
    while (first < m_str.size() && IsSpace(m_str[first]))
        ++first;
    m_str.erase(0, first);
    return *this;
}

KRString& KRString::TrimRight()
{
    std::size_t end = m_str.size();
    while (end > 0 && IsSpace(m_str[end - 1]))
        --end;
    m_str.erase(end);
    return *this;
}

// Every character of `separators` separates on its own, so "\r\n" splits both
// Unix and DOS lines; the empty piece between '\r' and '\n' is dropped unless
// asked for.
int KRString::Split(KRArray<KRString>& pieces, const char* separators, bool keepEmpty) const
{
    pieces.RemoveAll();
    const char* seps = separators != nullptr ? separators : "";
    const std::size_t sepCount = std::strlen(seps);
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < m_str.size() && std::memchr(seps, m_str[end], sepCount) == nullptr)
            ++end;
        if (end > start || keepEmpty)
            pieces.Add(KRString(m_str.data() + start, static_cast<int>(end - start)));
        if (end >= m_str.size())
            break;
        start = end + 1;
    }
    return pieces.GetSize();
}

} // namespace KRC
