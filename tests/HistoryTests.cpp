// The recent-connections store on real settings files, read back through the
// platform's private-profile calls. The store takes the file's path and opens
// no window; the list box that shows its entries has a test of its own.
#include "Expected.h"
#include "GuiDriver.h"

#include "../ui/ConnectionHistory.h"
#include "../ui/settings/AtomicReplace.h"
#include "../ui/settings/SettingsFormat.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

namespace {

const wchar_t* const SETTINGS = expected::SETTINGS_SECTION;
const wchar_t* const HISTORY = expected::HISTORY_SECTION;

using expected::sectionHeader;

// The scan as first designed: one read per key from 0 to the limit minus one.
// Kept here as the reference that the key-listing store must agree with.
namespace reference {

int limit(const std::wstring& path)
{
    wchar_t value[20];
    if (GetPrivateProfileStringW(SETTINGS, L"HistoryLimit", L"", value, 20, path.c_str()) == 0)
        return 32;
    return parseSignedDecimal(value + 1);
}

std::vector<std::wstring> lines(const std::wstring& path)
{
    std::vector<std::wstring> result;
    wchar_t value[256];
    for (int i = 0, n = limit(path); i < n; i++)
        if (GetPrivateProfileStringW(HISTORY, std::to_wstring(i).c_str(), L"", value, 256, path.c_str()) != 0)
            result.push_back(value + 1);
    return result;
}

// Where a numeral names several lines, the platform reads and deletes the
// first; a key is read again after each deletion until it holds another text.
void deleteText(const std::wstring& path, const std::wstring& text, bool all)
{
    std::vector<wchar_t> value(32768);
    for (int i = 0, n = limit(path); i < n; i++) {
        const std::wstring key = std::to_wstring(i);
        while (GetPrivateProfileStringW(HISTORY, key.c_str(), L"", value.data(), 32768, path.c_str()) != 0) {
            std::wstring entry = value.data() + 1;
            if (!all && entry != text)
                break;
            WritePrivateProfileStringW(HISTORY, key.c_str(), nullptr, path.c_str());
            WritePrivateProfileStringW((std::wstring(HISTORY) + L"\\" + entry).c_str(), nullptr, nullptr,
                                       path.c_str());
        }
    }
}

} // namespace reference

// Every section with its key=value lines, as the platform reads them back.
std::vector<std::wstring> dump(const std::wstring& path)
{
    std::vector<std::wstring> result;
    std::vector<wchar_t> names(1 << 16), lines(1 << 16);
    GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    for (const wchar_t* name = names.data(); *name != 0; name += wcslen(name) + 1) {
        result.push_back(std::wstring(L"[") + name + L"]");
        GetPrivateProfileSectionW(name, lines.data(), static_cast<DWORD>(lines.size()), path.c_str());
        for (const wchar_t* line = lines.data(); *line != 0; line += wcslen(line) + 1)
            result.push_back(line);
    }
    return result;
}

using Lines = std::vector<std::wstring>;

// The store's entries, as the list shows them.
Lines listedAt(const std::wstring& path)
{
    HistoryList history;
    listHistory(path.c_str(), history);
    Lines result;
    for (size_t i = 0; i < history.count; i++)
        result.push_back(history.entries[i].text);
    return result;
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolders(dataFolder);
        DeleteFileW(path.c_str());
    }
    void TearDown() override
    {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        DeleteFileW((path + TEMPORARY_SUFFIX).c_str());
        DeleteFileW((path + OLD_SUFFIX).c_str());
    }

    // Writes the settings file (UTF-16LE with BOM).
    void write(const std::wstring& text) { writeUtf16File(path, text); }
    void writeHistory(const std::wstring& entries, const std::wstring& limitLine = L"")
    {
        write(sectionHeader(SETTINGS) + limitLine + sectionHeader(HISTORY) + entries);
    }

    Lines lines() const { return listedAt(path); }
    // Delete record on list line index, as the panel asks the store.
    bool deleteLine(size_t index) const
    {
        HistoryList history;
        listHistory(path.c_str(), history);
        return index < history.count &&
               deleteHistoryEntry(path.c_str(), history.entries[index].text, history.entries[index].key);
    }
    bool clear() const { return clearHistoryEntries(path.c_str()); }

    std::wstring readKey(const wchar_t* section, const std::wstring& key) const
    {
        wchar_t value[512];
        GetPrivateProfileStringW(section, key.c_str(), L"<missing>", value, 512, path.c_str());
        return value;
    }
    bool sectionExists(const std::wstring& section) const
    {
        wchar_t value[64];
        return GetPrivateProfileSectionW(section.c_str(), value, 64, path.c_str()) > 0;
    }

    const std::wstring dataFolder = ownFolder() + L"\\Data";
    const std::wstring path = expected::viewerSettingsPath(ownFolder());
};

// The limit is the text after the value's first character, read like a
// signed decimal; keys from 0 to the limit less one are listed.
TEST_F(HistoryTest, LimitDecidesWhichKeysAreSeen)
{
    std::wstring entries;
    for (int i = 0; i <= 40; i++)
        entries += std::to_wstring(i) + L"=xhost" + std::to_wstring(i) + L"\r\n";
    writeHistory(entries);
    EXPECT_EQ(lines().size(), 32u) << "no HistoryLimit: keys 0 to 31";
    EXPECT_EQ(lines().back(), L"host31");
    writeHistory(entries, L"HistoryLimit=\r\n");
    EXPECT_EQ(lines().size(), 32u) << "an empty HistoryLimit";

    const struct {
        const wchar_t* text; // after the first character
        int value;
        int listed; // -1: no text a settings file can hold
    } cases[] = {
        {L"5", 5, 5}, {L"", 0, 0}, {L"abc", 0, 0}, {L"-3", -3, 0}, {L"+5", 5, 5}, {L" 7", 7, 7}, {L"0", 0, 0},
        {L"40", 40, 40}, {L"\t\r\n 12x", 12, -1}, {L"99999999999", INT_MAX, 41}, {L"-99999999999", INT_MIN, 0},
        {L"2147483647", INT_MAX, 41}, {L"-2147483648", INT_MIN, 0}, {L"+-1", 0, 0}, {L"1 2", 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSignedDecimal(c.text), c.value) << wideToUtf8(c.text);
        if (c.listed >= 0) {
            writeHistory(entries, std::wstring(L"HistoryLimit=d") + c.text + L"\r\n");
            EXPECT_EQ(lines().size(), static_cast<size_t>(c.listed)) << wideToUtf8(c.text);
        }
    }
}

// Delete record and Clear the list take out exactly the lines of the keys and
// entry sections that go, in one rewrite, and keep every other byte: another
// code page's bytes, comments, spacing, line ends; in 8-bit and UTF-16 files.
// What goes is what the platform's own deletions take: gaps, empty values,
// letter case, the limit and the keys beyond it.
TEST_F(HistoryTest, DeletionsKeepEveryOtherByte)
{
    const std::string settingsHeader = wideToUtf8(sectionHeader(SETTINGS));
    const std::string settings = "; the viewer's\r\n" + settingsHeader + "Other=!caf\xe9 z\xfcrich\r\n";
    const std::string history = wideToUtf8(sectionHeader(HISTORY));
    auto entry = [&](const std::string& text) { return "[" + wideToUtf8(HISTORY) + "\\" + text + "]\r\n"; };
    // A second History section, in other letter case.
    std::wstring otherCase = sectionHeader(HISTORY);
    CharLowerBuffW(&otherCase[0], static_cast<DWORD>(otherCase.size()));
    const std::string secondHistory = wideToUtf8(otherCase);
    const std::string h = wideToUtf8(HISTORY);
    const std::string hugeLimit = settingsHeader + "HistoryLimit=x2147483647\r\n" + history;
    // Twenty values of 300 characters, more than the first read of the section
    // holds, listed cut to 254. A line stands for its whole entry: both keys
    // holding it go, with its section; a text that only starts the same way stays.
    const std::string tail(294, 'L'), sameStart = "host0" + tail.substr(0, 249) + "other";
    std::string longValues, longValuesAfter;
    Lines longListed;
    for (int i = 0; i < 20; i++) {
        const std::string line = std::to_string(i) + "=!host" + std::to_string(i % 10) + tail + "\r\n";
        longValues += line;
        longValuesAfter += i % 10 != 0 ? line : "";
        longListed.push_back(utf8ToWide("host" + std::to_string(i % 10) + tail.substr(0, 249)));
    }
    longValues = history + longValues + "20=!" + sameStart + "\r\n21=!short\r\n";
    longValuesAfter = history + longValuesAfter + "20=!" + sameStart + "\r\n21=!short\r\n";
    longListed.insert(longListed.end(), {longListed[0], L"short"});
    struct Case {
        int selected; // the line deleted; -1: the list cleared
        Lines listed;
        std::string before;
        std::string after;
        // The 8-bit file in code page 932, where a lead byte takes the next
        // byte with it: its result when it differs, or not run at all there.
        std::string after932 = "";
        bool eightBitIn932 = true;
        // Compared with the platform's key-by-key deletion, which a huge limit would make take hours.
        bool byReference = true;
    } cases[] = {
        {1, {L"first", L"third"}, history + "0=!first\r\n2=!third\r\n", history + "0=!first\r\n"},
        // An empty value is no entry; a prefix alone is an empty line, whose section is History + "\".
        {1, {L"second", L""}, history + "0=\r\n1=!second\r\n3=!\r\n[" + h + "\\]\r\nkept=1\r\n",
         history + "0=\r\n1=!second\r\n"},
        // Keys beyond the limit, and keys that are no numeral, stay; a limit of 0 deletes nothing.
        {-1, {L"a", L"b"}, settingsHeader + "HistoryLimit=d3\r\n" + history + "0=!a\r\n1=\r\n2=!b\r\n5=!x\r\nname=!y\r\n",
         settingsHeader + "HistoryLimit=d3\r\n" + history + "1=\r\n5=!x\r\nname=!y\r\n"},
        {-1, {}, settingsHeader + "HistoryLimit=x\r\n" + history + "0=!a\r\n40=!b\r\n",
         settingsHeader + "HistoryLimit=x\r\n" + history + "0=!a\r\n40=!b\r\n"},
        // The platform's deletion knows no cut lines.
        {0, longListed, longValues + entry("host0" + tail) + "Port=1\r\n", longValuesAfter, "", true, false},
        {-1, longListed, longValues, history},
        // A huge limit costs no more than the entries: a scan would read two thousand million keys.
        {1, {L"a", L"last"}, hugeLimit + "0=!a\r\n2147483646=!last\r\n2147483647=!beyond\r\n",
         hugeLimit + "0=!a\r\n2147483647=!beyond\r\n", "", true, false},
        {-1, {L"a", L"last"}, hugeLimit + "0=!a\r\n2147483646=!last\r\n2147483647=!beyond\r\n",
         hugeLimit + "2147483647=!beyond\r\n", "", true, false},
        {0, {L"alpha", L"z\xfcrich.example"},
         settings + history + "0=!alpha\r\n  ; kept\r\n\t1 =  !z\xfcrich.example  \r\n\r\n" + entry("alpha") +
             "Port=d1\r\n\r\n" + entry("z\xfcrich.example") + "Port=d2\n",
         settings + history + "  ; kept\r\n\t1 =  !z\xfcrich.example  \r\n\r\n" + entry("z\xfcrich.example") +
             "Port=d2\n"},
        // Both keys with the text go, each with the first section of its name;
        // another letter case is another entry; a second History section is
        // not read.
        {0, {L"alpha", L"Alpha", L"alpha"},
         settings + history + " 0 = !alpha\r\n2=!Alpha\r\n40=!alpha\r\n3=!alpha\n" + entry("ALPHA") + "A=1\r\n" +
             entry("alpha") + "B=2\r\n" + secondHistory + "4=!alpha\r\n",
         settings + history + "2=!Alpha\r\n40=!alpha\r\n" + secondHistory + "4=!alpha\r\n"},
        // Quotes are stripped as the platform reads; a key without "=" and one
        // at the limit stay.
        {-1, {L"quoted", L"two"},
         settingsHeader + "HistoryLimit=d3\r\n" + history + "0=\"!quoted\"\r\n1\r\n2=!two\r\n3=!three\r\n" +
             entry("quoted") + "X=1\r\n" + entry("two") + "Y=2\r\n" + entry("three") + "Z=3",
         settingsHeader + "HistoryLimit=d3\r\n" + history + "1\r\n3=!three\r\n" + entry("three") + "Z=3"},
        // A carriage return alone ends a line too; blanks inside the brackets
        // do not count; only ASCII letters match in either case.
        {-1, {L"a"}, history + "0=!a\r" + settingsHeader + "Other=keep\r\n",
         history + settingsHeader + "Other=keep\r\n"},
        {0, {L"a"}, "[ " + h + " ]\r\n0=!a\r\n[\t" + h + "\\a ]\r\nX=1\r\n" + history + "0=!b\r\n",
         "[ " + h + " ]\r\n" + history + "0=!b\r\n"},
        {0, {L"\xe9"}, history + "0=!\xe9\r\n" + entry("\xc9") + "A=1\r\n" + entry("\xe9") + "B=2\r\n",
         history + entry("\xc9") + "A=1\r\n", "", false},
        {-1, {L"caf\xe9", L"beta"}, history + "0=!caf\xe9\n1=!beta\n" + entry("beta") + "P=1\n", history,
         history + entry("beta") + "P=1\n"},
    };
    auto widen = [](const std::string& text) {
        std::wstring wide(text.size(), L'\0');
        wide.resize(MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                        static_cast<int>(wide.size())));
        return wide;
    };
    auto utf16 = [&](const std::string& text) {
        std::wstring wide = L"\xfeff" + widen(text);
        return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    };
    // The tests run a second time in another code page, which Wine takes from the locale.
    if (const char* codePage = getenv("KORVANE_ANSI_CODE_PAGE")) {
        ASSERT_EQ(GetACP(), static_cast<UINT>(atoi(codePage)));
    }
    const std::wstring referencePath = ownFolder() + L"\\reference.ini";
    for (const Case& c : cases) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(testing::Message() << (wide ? "UTF-16: " : "8-bit: ") << c.before);
            std::string after = c.after;
            if (!wide && GetACP() == 932) {
                if (!c.eightBitIn932)
                    continue;
                if (!c.after932.empty())
                    after = c.after932;
            }
            const std::string before = wide ? utf16(c.before) : c.before;
            writeBytes(path, before);
            writeBytes(referencePath, before);
            Lines listed = lines();
            // An 8-bit file is read in the computer's code page.
            if (wide || GetACP() == 1252) {
                EXPECT_EQ(listed, c.listed);
            }
            if (c.selected >= 0)
                deleteLine(c.selected);
            else
                clear();
            EXPECT_EQ(readBytes(path), wide ? utf16(after) : after);
            if (c.byReference) {
                reference::deleteText(referencePath, c.selected >= 0 ? listed[c.selected] : L"", c.selected < 0);
                EXPECT_EQ(dump(path), dump(referencePath));
            }
        }
    }
    DeleteFileW(referencePath.c_str());
}

TEST_F(HistoryTest, BadFilesNeverCrashHangOrLoseOtherEntries)
{
    // Missing file, then a missing Data folder.
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(clear());
    RemoveDirectoryW(dataFolder.c_str());
    EXPECT_FALSE(clear());
    EXPECT_FALSE(deleteHistoryEntry(path.c_str(), L"", 0));
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(fileExists(path)) << "nothing is created";
    makeFolders(dataFolder);

    // A value of 40,000 characters, and one of only the prefix.
    std::wstring huge(40000, L'h');
    writeHistory(L"0=x" + huge + L"\r\n1=x\r\n2=xnext\r\n");
    EXPECT_EQ(lines(), (Lines{huge.substr(0, 254), L"", L"next"}));
    clear();
    EXPECT_EQ(readKey(HISTORY, L"2"), L"<missing>");

    // More lines than a 32-bit launcher can hold records for: unreadable,
    // rather than the launcher ended by a failed allocation. The most it reads:
    // the header, the entry and the empty lines.
    for (size_t empty : {LARGEST_LINE_COUNT - 2, LARGEST_LINE_COUNT - 1}) {
        writeBytes(path, wideToUtf8(sectionHeader(HISTORY)) + "0=xalive\r\n" + std::string(empty, '\n'));
        EXPECT_EQ(lines(), (empty == LARGEST_LINE_COUNT - 2 ? Lines{L"alive"} : Lines{})) << empty + 2 << " lines";
    }
    std::string many = wideToUtf8(sectionHeader(HISTORY)) + "0=xalive\r\n" + std::string(60 * 1024 * 1024, '\n');
    writeBytes(path, many);
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(clear());
    EXPECT_FALSE(deleteHistoryEntry(path.c_str(), L"alive", 0));
    EXPECT_EQ(readBytes(path).size(), many.size());
    many.clear();

    // Garbage and NUL bytes around the sections.
    std::string garbage("\x01\x02garbage\0\0[broken\r\n=novalue\r\n", 29);
    garbage += wideToUtf8(sectionHeader(HISTORY)) + "0=xok\r\n1\r\n\0\0\0=\r\n2=x\xff\xfe\r\n";
    writeBytes(path, garbage);
    EXPECT_FALSE(lines().empty());
    EXPECT_EQ(lines()[0], L"ok");

    // A read-only file: the deletions fail, nothing is lost, the list shows the file.
    // As root, Wine writes read-only files all the same; a handle that denies
    // writing makes the file as unwritable here as the attribute does on Windows.
    writeHistory(L"0=xone\r\n1=xtwo\r\n");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE denyWriting = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(deleteLine(0));
    EXPECT_FALSE(clear());
    CloseHandle(denyWriting);
    EXPECT_EQ(lines(), (Lines{L"one", L"two"}));
    EXPECT_EQ(readKey(HISTORY, L"0"), L"xone");
}

// The key-listing store against the one-read-per-key scan, on generated files
// with odd and empty key names, gaps, empty values, odd limits, comments,
// spacing, repeated names and entry sections in other letter cases, in both
// encodings. Where a numeral names several lines, the platform reads and
// deletes the first, and the first section of a name.
TEST_F(HistoryTest, AgreesWithTheKeyByKeyScanOnGeneratedFiles)
{
    std::mt19937 random(20261208);
    // " 7" and "3 " name keys 7 and 3 once the platform trims them.
    const wchar_t* oddKeys[] = {L"05", L"+3", L"-1", L"abc", L"1e2", L"007", L"99999999999", L" 7", L"3 "};
    // Limits the key-by-key scan can afford; huge ones have a test of their own.
    const wchar_t* limits[] = {L"", L"x", L"x-4", L"x0", L"x+9", L"x 12", L"x40", L"x64", L"x-99999999999"};
    const wchar_t* texts[] = {L"alpha", L"Alpha", L"beta", L"host::5901", L"", L"gamma:1"};
    const wchar_t* spacings[] = {L"%s=%s", L"  %s = %s\t", L"\t%s=\t%s ", L"%s =%s"};
    const std::wstring referencePath = ownFolder() + L"\\reference.ini";

    for (int round = 0; round < 30; round++) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const bool repeatedNames = round % 3 == 2;
        std::wstring text = L"; the viewer's settings\r\n" + sectionHeader(SETTINGS);
        const wchar_t* limit = limits[round % 9];
        if (round % 9 != 0)
            text += std::wstring(L"HistoryLimit=") + limit + L"\r\n";
        text += sectionHeader(HISTORY);
        std::vector<int> numerals(50);
        for (int i = 0; i < 50; i++)
            numerals[i] = i;
        std::shuffle(numerals.begin(), numerals.end(), random);
        std::vector<std::wstring> used;
        for (int k = 0; k < 30; k++) {
            // An empty name at the start or in the middle (at the end below).
            if ((round % 4 == 0 && k == 0) || (round % 4 == 1 && k == 15))
                text += L"=xodd\r\n";
            if (random() % 8 == 0)
                text += L" ; a comment\r\n\r\n";
            std::wstring key;
            if (random() % 4 == 0)
                key = oddKeys[random() % (repeatedNames ? 9 : 7)];
            else
                key = std::to_wstring(repeatedNames ? random() % 12 : numerals[k]);
            std::wstring value = random() % 6 == 0 ? L"" : L"x" + std::wstring(texts[random() % 6]);
            // Quotes around a value are not part of it.
            std::wstring written = random() % 5 == 0 ? L"\"" + value + L"\"" : value;
            wchar_t line[128];
            _snwprintf(line, 128, spacings[random() % 4], key.c_str(), written.c_str());
            const wchar_t* lineEnds[] = {L"\r\n", L"\n", L"\r"};
            text += line + std::wstring(lineEnds[random() % 3]);
            if (value.size() > 1)
                used.push_back(value.substr(1));
        }
        if (round % 4 == 2)
            text += L"=xodd\r\n";
        for (const std::wstring& entry : used) {
            std::wstring name = std::wstring(HISTORY) + L"\\" + entry;
            // The platform matches section names regardless of case.
            if (random() % 3 == 0)
                CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
            // Blanks inside the brackets do not count either.
            text += (random() % 4 == 0 ? L"[ " + name + L"\t]\r\n" : sectionHeader(name)) + L"Data=1\r\n";
        }

        if (round % 2 == 0) {
            write(text);
            writeUtf16File(referencePath, text);
        } else {
            writeBytes(path, wideToUtf8(text));
            writeBytes(referencePath, wideToUtf8(text));
        }
        Lines listed = lines();
        ASSERT_EQ(listed, reference::lines(referencePath));

        if (!listed.empty()) {
            const std::wstring deleted = listed[random() % listed.size()];
            deleteLine(std::find(listed.begin(), listed.end(), deleted) - listed.begin());
            reference::deleteText(referencePath, deleted, false);
            EXPECT_EQ(dump(path), dump(referencePath)) << "after deleting " << wideToUtf8(deleted);
        }
        clear();
        EXPECT_TRUE(lines().empty());
        reference::deleteText(referencePath, L"", true);
        EXPECT_EQ(dump(path), dump(referencePath)) << "after clearing";
    }
    DeleteFileW(referencePath.c_str());
}

// The Unix path under Wine of a Windows path.
std::wstring unixPath(const std::wstring& path)
{
    typedef char*(CDECL * UnixName)(const wchar_t*);
    auto toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
    std::wstring result = name != nullptr ? utf8ToWide(name) : L"";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a shell command on the machine that Wine runs on, with the settings
// file's Unix path for %f, and returns what it printed. Wine starts Unix
// programs but cannot wait for them: the output comes through a file that
// the command renames into place when it is done.
std::wstring shell(std::wstring command, const std::wstring& file)
{
    for (size_t at = command.find(L"%f"); at != std::wstring::npos; at = command.find(L"%f"))
        command.replace(at, 2, L"'" + unixPath(file) + L"'");
    const std::wstring out = ownFolder() + L"\\shell.out";
    const std::wstring unixOut = L"'" + unixPath(out) + L"'";
    DeleteFileW(out.c_str());
    runAndWait(L"/bin/sh -c \"(" + command + L") >" + unixOut + L".part 2>&1; mv " + unixOut + L".part " +
               unixOut + L"\"");
    for (int waited = 0; !fileExists(out) && waited < 20000; waited += 10)
        Sleep(10);
    std::string printed = readBytes(out);
    DeleteFileW(out.c_str());
    return utf8ToWide(printed.substr(0, printed.find_last_not_of("\r\n") + 1));
}

// What the rewrite keeps besides the content, or, where it cannot keep it,
// that it changes nothing; and that it leaves nothing of its own behind and
// touches nothing else in Data.
TEST_F(HistoryTest, RewriteChangesTheContentOnly)
{
    const std::wstring temporary = path + TEMPORARY_SUFFIX;
    const std::wstring second = dataFolder + L"\\second.ini";
    const std::wstring target = dataFolder + L"\\elsewhere.ini";
    const std::wstring others[] = {dataFolder + L"\\kvp1A2B.tmp", path + L".new", dataFolder + L"\\notes.txt"};
    const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    HANDLE writer = INVALID_HANDLE_VALUE;
    ASSERT_NE(unixPath(path), L"");
    struct Case {
        const char* name;
        bool rewritten;
        std::function<void()> prepare;
        std::function<bool()> kept;
    } cases[] = {
        {"another program has it open for writing", false,
         [&] { writer = CreateFileW(path.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr); },
         [&] { return CloseHandle(writer) != FALSE; }},
        {"hidden, system and archive", true, [&] { SetFileAttributesW(path.c_str(), marks); },
         [&] { return (GetFileAttributesW(path.c_str()) & marks) == marks; }},
        // A killed run's file, with a cleared host in it, goes; the rest stays.
        {"a temporary file left", true,
         [&] {
             writeBytes(temporary, "0=xcleared.example\r\n");
             for (const std::wstring& other : others)
                 writeBytes(other, "the user's");
         },
         [&] {
             bool kept = !fileExists(temporary);
             for (const std::wstring& other : others)
                 kept = readBytes(other) == "the user's" && DeleteFileW(other.c_str()) && kept;
             return kept;
         }},
        // A run killed after it gave the file its second name: that name goes,
        // and the file is rewritten, not refused as one with two names.
        {"its second name left by a killed run", true,
         [&] { CreateHardLinkW((path + OLD_SUFFIX).c_str(), path.c_str(), nullptr); },
         [&] { return !fileExists(path + OLD_SUFFIX); }},
        // The link stays, and its target changes.
        {"symbolic link", true,
         [&] {
             MoveFileW(path.c_str(), target.c_str());
             shell(L"ln -s elsewhere.ini %f", path);
         },
         [&] {
             std::wstring link = shell(L"readlink %f", path);
             EXPECT_EQ(link, L"elsewhere.ini");
             EXPECT_FALSE(fileExists(target + TEMPORARY_SUFFIX));
             EXPECT_FALSE(fileExists(target + OLD_SUFFIX));
             return shell(L"rm %f", path).empty() && DeleteFileW(target.c_str()) && link == L"elsewhere.ini";
         }},
        // Refused, yet a killed run's file with its hosts goes all the same.
        {"read-only, a temporary file left", false,
         [&] {
             writeBytes(temporary, "0=xcleared.example\r\n");
             writeBytes(path + OLD_SUFFIX, "0=xcleared.example\r\n");
             SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
         },
         [&] { return !fileExists(path + OLD_SUFFIX); }},
        // Something else under the launcher's own name is never touched, nor
        // what a link there leads to; the rewrite is refused.
        {"a link at the temporary name", false,
         [&] {
             writeBytes(target, "the user's");
             SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
             shell(L"ln -s elsewhere.ini %f", temporary);
         },
         [&] {
             bool kept = readBytes(target) == "the user's" &&
                         (GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
             SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
             return shell(L"rm %f", temporary).empty() && DeleteFileW(target.c_str()) && kept;
         }},
        {"a directory at the temporary name", false, [&] { CreateDirectoryW(temporary.c_str(), nullptr); },
         [&] { return RemoveDirectoryW(temporary.c_str()) != FALSE; }},
        // Nor can another program's write then be seen.
        {"a directory at the second name", false, [&] { CreateDirectoryW((path + OLD_SUFFIX).c_str(), nullptr); },
         [&] { return RemoveDirectoryW((path + OLD_SUFFIX).c_str()) != FALSE; }},
        // A rename would break a hard link, and under Wine give a file that
        // only its owner may read the folder's mode: nothing changes.
        {"hard link", false, [&] { CreateHardLinkW(second.c_str(), path.c_str(), nullptr); },
         [&] { return readBytes(second) == readBytes(path) && DeleteFileW(second.c_str()); }},
        {"mode 600", false, [&] { shell(L"chmod 600 %f", path); },
         [&] { return shell(L"stat -c %a %f", path) == L"600"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeHistory(L"0=xone\r\n1=xtwo\r\n" + sectionHeader(std::wstring(HISTORY) + L"\\one") + L"A=1\r\n");
        c.prepare();
        std::string before = readBytes(path);
        EXPECT_EQ(deleteLine(0), c.rewritten);
        EXPECT_EQ(readBytes(path) == before, !c.rewritten);
        EXPECT_EQ(lines(), (c.rewritten ? Lines{L"two"} : Lines{L"one", L"two"}));
        EXPECT_TRUE(c.kept());
        EXPECT_FALSE(fileExists(temporary));
        EXPECT_FALSE(fileExists(path + OLD_SUFFIX));
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // A Clear killed after its rename: the cleared hosts under the second name go when the list is read.
    writeHistory(L"");
    writeBytes(path + OLD_SUFFIX, "0=xcleared.example\r\n");
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(fileExists(path + OLD_SUFFIX));
}

// Another program that writes the file while the store rewrites it: its
// write lands before the read, and the new file keeps it, or after the
// rename; meanwhile it fails, and trying again is its own affair. Nothing it
// wrote is lost, however close to the rename, and the file is never cut.
TEST_F(HistoryTest, AnotherWritersChangeIsNeverLostOrCut)
{
    std::wstring entries, sections;
    for (int i = 0; i < 3000; i++) {
        entries += std::to_wstring(i) + L"=xhost" + std::to_wstring(i) + L"\r\n";
        sections += sectionHeader(std::wstring(HISTORY) + L"\\host" + std::to_wstring(i)) + L"Port=1\r\n";
    }
    writeHistory(entries + sections, L"HistoryLimit=d4000\r\n");
    std::atomic<bool> done(false);
    std::vector<int> written;
    std::thread writer([&] {
        for (int n = 0; !done; n++) {
            if (WritePrivateProfileStringW(SETTINGS, (L"W" + std::to_wstring(n)).c_str(), L"1", path.c_str()))
                written.push_back(n);
        }
    });
    int rewrites = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 6000 && rewrites < 150;)
        rewrites += deleteLine(0);
    done = true;
    writer.join();
    // Refused now and then while the writer had the file open, never for good.
    EXPECT_GT(rewrites, 0);
    EXPECT_TRUE(clear());
    for (int n : written)
        ASSERT_EQ(readKey(SETTINGS, L"W" + std::to_wstring(n)), L"1") << "of " << written.size() << " writes";
    // Whole: each key that stays has its entry section, and the last line is there.
    const std::wstring text = readUtf16File(path);
    auto count = [&](const std::wstring& what) {
        size_t found = 0;
        for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1))
            found++;
        return found;
    };
    EXPECT_EQ(count(L"=xhost"), count(L"[" + std::wstring(HISTORY) + L"\\host"));
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
}

// Past 260 characters the platform's profile reader fails; the store reads
// and rewrites the file all the same, the limit too.
TEST_F(HistoryTest, PathsPast260CharactersWork)
{
    const std::wstring top = L"\\\\?\\" + ownFolder() + L"\\" + std::wstring(150, L'l');
    const std::wstring file = top.substr(4) + L"\\" + std::wstring(150, L'm') + L"\\viewer_settings.ini";
    makeFolders(L"\\\\?\\" + file.substr(0, file.rfind(L'\\')));
    writeUtf16File(L"\\\\?\\" + file, sectionHeader(SETTINGS) + L"HistoryLimit=d2\r\n" + sectionHeader(HISTORY) +
                                          L"0=xone\r\n1=xtwo\r\n2=xthree\r\n");
    EXPECT_EQ(listedAt(file), (Lines{L"one", L"two"}));
    EXPECT_TRUE(deleteHistoryEntry(file.c_str(), L"one", 0));
    EXPECT_EQ(listedAt(file), (Lines{L"two"}));
    EXPECT_TRUE(clearHistoryEntries(file.c_str()));
    EXPECT_TRUE(listedAt(file).empty());
    EXPECT_NE(readUtf16File(L"\\\\?\\" + file).find(L"2=xthree"), std::wstring::npos) << "beyond the limit";
    EXPECT_FALSE(fileExists(L"\\\\?\\" + file + TEMPORARY_SUFFIX));
    removeTree(top);

    // Device and long-path forms stay as they are.
    const wchar_t* forms[][2] = {{L"C:\\a", L"\\\\?\\C:\\a"}, {L"\\\\host\\s\\a", L"\\\\?\\UNC\\host\\s\\a"},
                                 {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"}, {L"\\\\.\\C:\\a", L"\\\\.\\C:\\a"}};
    for (const auto& form : forms) {
        StringStorage longForm;
        toLongPathForm(form[0], longForm);
        EXPECT_STREQ(longForm.getString(), form[1]);
    }
}

// Lines that the list box takes while it draws itself.
int drawnInsertions = 0;
WNDPROC listProcedure = nullptr;

LRESULT CALLBACK countingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    static bool drawing = true;
    drawing = message == WM_SETREDRAW ? wParam != FALSE : drawing;
    drawnInsertions += drawing && (message == LB_INSERTSTRING || message == LB_ADDSTRING);
    return CallWindowProcW(listProcedure, window, message, wParam, lParam);
}

// A shown list box redraws itself and its scroll bar after each line it
// takes, which made a refill of thousands of lines take seconds: the refill
// is drawn once, at the end, and keeps the list where the user scrolled it.
TEST(HistoryList, RefillIsDrawnOnceAndKeepsScrollingAndSelection)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 300, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND list = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_SORT |
                                LBS_NOINTEGRALHEIGHT, 0, 0, 200, 150, window, nullptr, nullptr, nullptr);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 160, 200, 20, window, nullptr, nullptr,
                                nullptr);
    listProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingProcedure)));
    UpdateWindow(window);
    std::vector<std::wstring> texts;
    for (int i = 1000; i > 0; i--)
        texts.push_back(L"host" + std::to_wstring(i));
    auto show = [&](size_t count) {
        HistoryList history;
        history.entries.reset(new HistoryEntry[count + 1]);
        for (; history.count < count; history.count++)
            history.entries[history.count] = HistoryEntry{static_cast<int>(history.count), texts[history.count].c_str()};
        showHistory(list, edit, history);
    };
    auto state = [&] {
        return std::vector<LRESULT>{SendMessageW(list, LB_GETCOUNT, 0, 0), SendMessageW(list, LB_GETTOPINDEX, 0, 0),
                                    SendMessageW(list, LB_GETCURSEL, 0, 0)};
    };
    show(1000);
    SendMessageW(list, LB_SETCURSEL, 505, 0);
    SendMessageW(list, LB_SETTOPINDEX, 500, 0);
    drawnInsertions = 0;
    show(999);
    EXPECT_EQ(drawnInsertions, 0);
    EXPECT_TRUE(GetUpdateRect(list, nullptr, FALSE)) << "drawn anew";
    EXPECT_EQ(state(), (std::vector<LRESULT>{999, 500, 505}));
    EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 505, 0), 505);
    EXPECT_EQ(windowText(edit), L"host1000");
    // Fewer lines than the selection's index: the last line; none: no selection, the host edit kept.
    show(3);
    EXPECT_EQ(state(), (std::vector<LRESULT>{3, 0, 2}));
    SetWindowTextW(edit, L"typed");
    show(0);
    EXPECT_EQ(state(), (std::vector<LRESULT>{0, 0, LB_ERR}));
    EXPECT_EQ(windowText(edit), L"typed");
    DestroyWindow(window);
}

} // namespace
