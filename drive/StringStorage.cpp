#include "StringStorage.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <new>

wchar_t* allocateWideArray(size_t count)
{
    if (count > UINT32_MAX / sizeof(wchar_t))
        throw std::bad_alloc();
    return new wchar_t[count];
}

int formatToArray(wchar_t* array, size_t count, const wchar_t* formatText, ...)
{
    va_list args;
    va_start(args, formatText);
    // msvcrt's formatter reads %s as wide text; the C99 swprintf family does not.
    int written = _vsnwprintf(array, count, formatText, args);
    va_end(args);
    return written;
}

StringStorage::StringStorage()
    : m_text(nullptr), m_length(0)
{
}

StringStorage::~StringStorage()
{
    release();
}

void StringStorage::release()
{
    delete[] m_text;
    m_text = nullptr;
    m_length = 0;
}

void StringStorage::setString(const wchar_t* source)
{
    release();
    if (source == nullptr)
        return;
    size_t count = wcslen(source);
    wchar_t* array = allocateWideArray(count + 1);
    wmemcpy(array, source, count + 1);
    m_text = array;
    m_length = static_cast<uint32_t>(count);
}

void StringStorage::appendString(const wchar_t* source)
{
    if (m_text == nullptr) {
        setString(source);
        return;
    }
    size_t added = wcslen(source);
    size_t total = static_cast<size_t>(m_length) + added;
    if (total < added)
        throw std::bad_alloc();
    wchar_t* array = allocateWideArray(total + 1);
    wmemcpy(array, m_text, m_length);
    wmemcpy(array + m_length, source, added + 1);
    delete[] m_text;
    m_text = array;
    m_length = static_cast<uint32_t>(total);
}

void StringStorage::copyPrefix(int32_t lastIndex, StringStorage& target) const
{
    int64_t last = static_cast<int64_t>(m_length) - 1;
    if (last < 0)
        last = 0;
    if (lastIndex < last)
        last = lastIndex;
    // k + 1 characters are copied; a negative index copies none.
    size_t copied = last < 0 ? 0 : static_cast<size_t>(last) + 1;
    if (copied > m_length)
        copied = m_length;
    size_t room = (last + 1 > 1 ? static_cast<size_t>(last) + 1 : 1) + 1;
    wchar_t* prefix = allocateWideArray(room);
    wmemcpy(prefix, m_text, copied);
    prefix[copied] = L'\0';
    // The prefix is a copy of its own, so a target that is *this can release
    // its old array in setString and still receive it: the cut is in place.
    try {
        target.setString(prefix);
    } catch (...) {
        delete[] prefix;
        throw;
    }
    delete[] prefix;
}

bool StringStorage::isEqualTo(const wchar_t* other) const
{
    if (other == nullptr)
        return m_text == nullptr;
    if (m_text == nullptr)
        return false;
    size_t count = wcslen(other);
    return count == m_length && wmemcmp(m_text, other, count) == 0;
}

int StringStorage::format(const wchar_t* formatText, ...)
{
    va_list args;
    va_start(args, formatText);
    int needed = _vscwprintf(formatText, args);
    va_end(args);
    if (needed < 0) {
        // Only a malformed format fails to count; none of the program's does.
        setString(L"");
        return 0;
    }
    size_t n = static_cast<size_t>(needed);
    if (static_cast<size_t>(m_length) < n + 1) {
        release();
        m_text = allocateWideArray(n + 1);
    }
    m_length = static_cast<uint32_t>(n);
    va_start(args, formatText);
    _vsnwprintf(m_text, n + 1, formatText, args);
    va_end(args);
    m_text[n] = L'\0';
    return needed;
}
