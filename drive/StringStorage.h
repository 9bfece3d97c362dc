#pragma once

#include <cstddef>
#include <cstdint>

// An owned, heap-held, zero-terminated UTF-16 text with its length.
// It is either without text (null pointer, length 0) or holds text (non-null,
// zero at position length). The empty text is the second kind with length 0.
// Never copied: pass it by reference or hand out getString().
class StringStorage {
public:
    StringStorage();
    ~StringStorage();

    StringStorage(const StringStorage&) = delete;
    StringStorage& operator=(const StringStorage&) = delete;

    // Replaces the text by a copy of source; a null source leaves no text.
    // source must not point into this object's own array.
    virtual void setString(const wchar_t* source);

    // Appends source; without text, acts as setString (null allowed there only).
    // Changes nothing before the new array has been obtained.
    void appendString(const wchar_t* source);

    // Gives target the characters 0..min(lastIndex, max(length-1, 0)); a negative
    // lastIndex gives the empty text. Requires text. target may be *this.
    void copyPrefix(int32_t lastIndex, StringStorage& target) const;

    // Null other: true when without text. Otherwise an exact, case-sensitive
    // comparison of the 16-bit units.
    bool isEqualTo(const wchar_t* other) const;

    // printf-style formatting with the Windows runtime's conventions: %s takes
    // wide text. Keeps the present array when it is large enough.
    int format(const wchar_t* formatText, ...);

    const wchar_t* getString() const { return m_text; }
    uint32_t getLength() const { return m_length; }

private:
    void release();

    wchar_t* m_text;
    uint32_t m_length;
};

// Allocates an array of count wide characters with the throwing array form;
// a byte size that overflows 32 bits counts as a failed allocation.
wchar_t* allocateWideArray(size_t count);

// Bounded formatting into a fixed array, as msvcrt's counted wide formatter:
// at most count characters are stored; the zero follows only when the result
// is shorter than count; the return is count or negative when it did not fit.
int formatToArray(wchar_t* array, size_t count, const wchar_t* formatText, ...);

// White space as the C locale's isspace has it: blank, tab, line feed,
// vertical tab, form feed and carriage return.
inline bool isAsciiSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}
