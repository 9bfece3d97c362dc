#pragma once

// Dialog templates as the platform lays them out in a program's resources:
// a reader for them, and the controls of a dialog of the launcher under test.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct TemplateControl {
    int id;
    const wchar_t* kind;
    const wchar_t* text;
    short x, y, width, height;
    DWORD style; // besides WS_CHILD | WS_VISIBLE, which every control has: read, one missing shows
    DWORD exStyle = 0;
};

// Reads a DLGTEMPLATE and its items field by field.
class TemplateReader {
public:
    explicit TemplateReader(const void* data) : m_at(static_cast<const BYTE*>(data)) {}

    DWORD dword()
    {
        DWORD value;
        memcpy(&value, m_at, 4);
        m_at += 4;
        return value;
    }
    WORD word()
    {
        WORD value;
        memcpy(&value, m_at, 2);
        m_at += 2;
        return value;
    }
    short number() { return static_cast<short>(word()); }
    // A zero-terminated text, or 0xFFFF and an ordinal (returned as "#n").
    std::wstring textOrOrdinal()
    {
        WORD first = word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(word());
        std::wstring text;
        for (WORD c = first; c != 0; c = word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // Where the next text starts, for pointing into the resource itself.
    const wchar_t* at() const { return reinterpret_cast<const wchar_t*>(m_at); }
    void alignToDword()
    {
        while (reinterpret_cast<uintptr_t>(m_at) % 4 != 0)
            m_at++;
    }
    void skip(size_t bytes) { m_at += bytes; }

private:
    const BYTE* m_at;
};

// Class names as the template may store them: by name or by ordinal.
inline const wchar_t* kindName(const std::wstring& stored, const wchar_t* named)
{
    const wchar_t* const byOrdinal[] = {L"Button", L"Edit", L"Static", L"ListBox"};
    for (int i = 0; i < 4; i++)
        if (stored == L"#" + std::to_wstring(128 + i))
            return byOrdinal[i];
    return named;
}

// The controls of dialog id in program's resources, in template order. The
// texts point into the resources, which stay loaded for the test's lifetime;
// empty when the program or the dialog is not there.
inline std::vector<TemplateControl> dialogControlsOf(const std::wstring& program, int id)
{
    std::vector<TemplateControl> controls;
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module != nullptr ? FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG) : nullptr;
    if (found == nullptr)
        return controls;
    TemplateReader r(LockResource(LoadResource(module, found)));
    r.skip(8); // style, extended style
    WORD count = r.word();
    r.skip(8); // x, y, width, height
    r.textOrOrdinal(); // menu
    r.textOrOrdinal(); // class
    r.textOrOrdinal(); // title
    r.skip(2);         // font size
    r.textOrOrdinal(); // font
    for (WORD i = 0; i < count; i++) {
        TemplateControl c = {};
        r.alignToDword();
        c.style = r.dword() ^ static_cast<DWORD>(WS_CHILD | WS_VISIBLE);
        c.exStyle = r.dword();
        c.x = r.number();
        c.y = r.number();
        c.width = r.number();
        c.height = r.number();
        c.id = r.number();
        const wchar_t* named = r.at();
        c.kind = kindName(r.textOrOrdinal(), named);
        c.text = r.at();
        if (r.textOrOrdinal().compare(0, 1, L"#") == 0 && *c.text == 0xFFFF)
            c.text = L"";
        r.skip(r.word());
        controls.push_back(c);
    }
    return controls;
}
