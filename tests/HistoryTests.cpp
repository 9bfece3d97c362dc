// The recent-connections store on real settings files, through the platform's
// private-profile calls, with the front panel's own dialog procedure and
// template. The store reads the file beside this test program: bin\Data.
#include "Expected.h"
#include "TestSupport.h"

#include "../res/resource.h"
#include "../ui/ConnectionHistory.h"
#include "../ui/FrontPanel.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>

namespace {

const wchar_t* const SETTINGS = expected::SETTINGS_SECTION;
const wchar_t* const HISTORY = expected::HISTORY_SECTION;

std::wstring header(const wchar_t* section)
{
    return std::wstring(L"[") + section + L"]\r\n";
}

// The scan as first designed: one read per key from 0 to the limit minus one.
// Kept here as the reference that the key-listing store must agree with.
namespace reference {

std::wstring key(int i)
{
    return std::to_wstring(i);
}

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
        if (GetPrivateProfileStringW(HISTORY, key(i).c_str(), L"", value, 256, path.c_str()) != 0)
            result.push_back(value + 1);
    return result;
}

// Where a numeral names several lines, the platform reads and deletes the
// first; a key is read again after each deletion until it holds another text.
void deleteText(const std::wstring& path, const std::wstring& text, bool all)
{
    std::vector<wchar_t> value(32768);
    for (int i = 0, n = limit(path); i < n; i++) {
        while (GetPrivateProfileStringW(HISTORY, key(i).c_str(), L"", value.data(), 32768, path.c_str()) != 0) {
            std::wstring entry = value.data() + 1;
            if (!all && entry != text)
                break;
            WritePrivateProfileStringW(HISTORY, key(i).c_str(), nullptr, path.c_str());
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

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolders(dataFolder);
        DeleteFileW(path.c_str());
        panel = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr,
                                   frontPanelProc, reinterpret_cast<LPARAM>(&state));
        ASSERT_NE(panel, nullptr);
        list = GetDlgItem(panel, IDC_HISTORY_LIST);
        edit = GetDlgItem(panel, IDC_HOST_EDIT);
    }
    void TearDown() override
    {
        if (panel != nullptr)
            DestroyWindow(panel);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }

    // Writes the settings file (UTF-16LE with BOM) and refills the panel.
    void write(const std::wstring& text)
    {
        writeUtf16File(path, text);
        fillHistoryList(state);
        refreshControls(state);
    }
    void writeHistory(const std::wstring& entries, const std::wstring& limitLine = L"")
    {
        write(header(SETTINGS) + limitLine + header(HISTORY) + entries);
    }

    std::vector<std::wstring> lines() const
    {
        std::vector<std::wstring> result;
        LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; i++) {
            std::vector<wchar_t> text(SendMessageW(list, LB_GETTEXTLEN, i, 0) + 1);
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            result.push_back(text.data());
        }
        return result;
    }
    std::wstring editText() const
    {
        wchar_t text[512];
        GetWindowTextW(edit, text, 512);
        return text;
    }
    LRESULT selection() const { return SendMessageW(list, LB_GETCURSEL, 0, 0); }
    void select(int index) { SendMessageW(list, LB_SETCURSEL, index, 0); }

    // The panel's own commands, as its buttons send them.
    void deleteRecord() { SendMessageW(panel, WM_COMMAND, MAKEWPARAM(IDC_DELETE_RECORD, BN_CLICKED), 0); }
    void clear()
    {
        clearHistory();
        fillHistoryList(state);
        refreshControls(state);
    }

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
    bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(panel, id)) != FALSE; }

    const std::wstring dataFolder = ownFolder() + L"\\Data";
    const std::wstring path = expected::viewerSettingsPath(ownFolder());
    FrontPanelState state;
    HWND panel = nullptr;
    HWND list = nullptr;
    HWND edit = nullptr;
};

using Lines = std::vector<std::wstring>;

TEST(HistoryLimit, ConvertsTheTextAfterThePrefixLikeASignedDecimal)
{
    struct Case {
        const wchar_t* text;
        int value;
    } cases[] = {
        {L"5", 5},           {L"", 0},           {L"abc", 0},       {L"-3", -3},
        {L"+5", 5},          {L" 7", 7},         {L"\t\r\n 12x", 12}, {L"99999999999", INT_MAX},
        {L"-99999999999", INT_MIN}, {L"2147483647", INT_MAX}, {L"-2147483648", INT_MIN}, {L"+-1", 0},
        {L"1 2", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseSignedDecimal(c.text), c.value) << wideToUtf8(c.text);
}

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

    struct Case {
        const wchar_t* value;
        size_t listed;
    } cases[] = {{L"x5", 5}, {L"x", 0}, {L"xabc", 0}, {L"x-3", 0}, {L"x+5", 5}, {L"x 7", 7}, {L"x0", 0},
                 {L"x99999999999", 41}, {L"d40", 40}};
    for (const Case& c : cases) {
        writeHistory(entries, std::wstring(L"HistoryLimit=") + c.value + L"\r\n");
        EXPECT_EQ(lines().size(), c.listed) << wideToUtf8(c.value);
    }

    // With the limit at 0, neither command deletes anything.
    writeHistory(entries, L"HistoryLimit=x\r\n");
    clear();
    EXPECT_EQ(readKey(HISTORY, L"0"), L"xhost0");
    EXPECT_EQ(readKey(HISTORY, L"40"), L"xhost40");
}

TEST_F(HistoryTest, GapsEmptyValuesAndPrefixOnlyEntries)
{
    writeHistory(L"0=xfirst\r\n2=xthird\r\n");
    EXPECT_EQ(lines(), (Lines{L"first", L"third"}));
    EXPECT_EQ(editText(), L"first");
    EXPECT_EQ(selection(), LB_ERR);

    SetWindowTextW(edit, L"typed");
    writeHistory(L"0=\r\n1=xsecond\r\n3=x\r\n");
    EXPECT_EQ(lines(), (Lines{L"second", L""})) << "an empty value is no entry; a prefix alone is an empty line";
    EXPECT_EQ(editText(), L"second");

    // Deleting the empty line removes its key and the section named History + "\".
    write(header(SETTINGS) + header(HISTORY) + L"0=\r\n1=xsecond\r\n3=x\r\n" + header(HISTORY).insert(
          header(HISTORY).size() - 3, L"\\") + L"kept=1\r\n");
    ASSERT_TRUE(sectionExists(std::wstring(HISTORY) + L"\\"));
    select(1);
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"3"), L"<missing>");
    EXPECT_FALSE(sectionExists(std::wstring(HISTORY) + L"\\"));
    EXPECT_EQ(readKey(HISTORY, L"0"), L"") << "the empty value is never deleted";
    EXPECT_EQ(readKey(HISTORY, L"1"), L"xsecond");
}

TEST_F(HistoryTest, DeleteRemovesEveryKeyWithTheTextAndItsSection)
{
    std::wstring entrySections = header((std::wstring(HISTORY) + L"\\alpha").c_str()) + L"Port=1\r\n" +
                                 header((std::wstring(HISTORY) + L"\\Alpha").c_str()) + L"Port=2\r\n";
    writeHistory(L"0=xalpha\r\n1=xAlpha\r\n2=xalpha\r\n3=xbeta\r\n40=xalpha\r\n",
                 L"HistoryLimit=d32\r\n" + std::wstring(L"Other=kept\r\n"));
    write(header(SETTINGS) + L"HistoryLimit=d32\r\nOther=kept\r\n" + header(HISTORY) +
          L"0=xalpha\r\n1=xAlpha\r\n2=xalpha\r\n3=xbeta\r\n40=xalpha\r\n" + entrySections);
    EXPECT_EQ(lines(), (Lines{L"alpha", L"Alpha", L"alpha", L"beta"}));

    select(2);
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"0"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"2"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"1"), L"xAlpha") << "letter case makes another entry";
    EXPECT_EQ(readKey(HISTORY, L"3"), L"xbeta");
    EXPECT_EQ(readKey(HISTORY, L"40"), L"xalpha") << "keys at or above the limit are untouched";
    EXPECT_EQ(readKey(SETTINGS, L"Other"), L"kept");
    EXPECT_EQ(readKey(SETTINGS, L"HistoryLimit"), L"d32");
    // Section names match regardless of case on the platform, so "\Alpha" goes with "\alpha".
    EXPECT_FALSE(sectionExists(std::wstring(HISTORY) + L"\\alpha"));

    // The refill keeps the selection's position, or moves it to the new last line.
    EXPECT_EQ(lines(), (Lines{L"Alpha", L"beta"}));
    EXPECT_EQ(selection(), 1);
    EXPECT_EQ(editText(), L"Alpha");
    EXPECT_TRUE(enabled(IDC_DELETE_RECORD));
}

TEST_F(HistoryTest, DeletingTheFirstOfThreeKeepsTheOthersUnderTheirNumbers)
{
    writeHistory(L"0=xone\r\n1=xtwo\r\n2=xthree\r\n");
    select(0);
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"1"), L"xtwo");
    EXPECT_EQ(readKey(HISTORY, L"2"), L"xthree");
    EXPECT_EQ(lines(), (Lines{L"two", L"three"}));
    EXPECT_EQ(selection(), 0);
    EXPECT_EQ(editText(), L"two");

    select(1);
    deleteRecord();
    EXPECT_EQ(lines(), (Lines{L"two"}));
    EXPECT_EQ(selection(), 0);

    // The only line: nothing is selected afterwards, and the host that the
    // panel wrote from the list goes with it, also edited and then undone.
    SendMessageW(edit, EM_SETSEL, 3, 3);
    SendMessageW(edit, WM_CHAR, L'x', 1);
    SendMessageW(edit, WM_CHAR, 0x1A, 1); // Ctrl+Z
    ASSERT_EQ(editText(), L"two");
    deleteRecord();
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(selection(), LB_ERR);
    EXPECT_EQ(editText(), L"");
    EXPECT_FALSE(enabled(IDC_CONNECT));
    EXPECT_FALSE(enabled(IDC_DELETE_RECORD));
    EXPECT_FALSE(enabled(IDC_CLEAR_LIST));

    // Nothing selected: Delete record touches nothing.
    writeHistory(L"0=xone\r\n");
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"0"), L"xone");
}

TEST_F(HistoryTest, LongValuesAreListedCutAndDeletedWhole)
{
    // Twenty values of 300 characters: more than the first read of the section holds.
    const std::wstring tail(294, L'L');
    std::wstring entries;
    for (int i = 0; i < 20; i++)
        entries += std::to_wstring(i) + L"=xhost" + std::to_wstring(i % 10) + tail + L"\r\n";
    const std::wstring sameStart = L"host0" + tail.substr(0, 249) + L"other";
    entries += L"20=x" + sameStart + L"\r\n21=xshort\r\n";
    writeHistory(entries + header((std::wstring(HISTORY) + L"\\host0" + tail).c_str()) + L"Port=1\r\n");
    Lines listed = lines();
    ASSERT_EQ(listed.size(), 22u);
    EXPECT_EQ(listed[0], L"host0" + tail.substr(0, 249));
    EXPECT_EQ(listed[20], listed[0]) << "another text, cut to the same line";
    EXPECT_EQ(listed[21], L"short");

    // The line stands for its whole entry: both keys holding it go, with its
    // section; the text that only starts the same way stays.
    select(0);
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"0"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"10"), L"<missing>");
    EXPECT_FALSE(sectionExists(std::wstring(HISTORY) + L"\\host0" + tail));
    EXPECT_EQ(readKey(HISTORY, L"20"), L"x" + sameStart);
    EXPECT_EQ(lines().size(), 20u);

    clear();
    EXPECT_EQ(readKey(HISTORY, L"20"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"21"), L"<missing>");
    EXPECT_TRUE(lines().empty());
}

TEST_F(HistoryTest, ClearLeavesKeysOutsideTheRangeAndTheSettings)
{
    writeHistory(L"0=xa\r\n1=\r\n2=xb\r\n5=xabove\r\nname=xodd\r\n", L"HistoryLimit=x3\r\n");
    clear();
    EXPECT_EQ(readKey(HISTORY, L"0"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"2"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY, L"1"), L"");
    EXPECT_EQ(readKey(HISTORY, L"5"), L"xabove");
    EXPECT_EQ(readKey(HISTORY, L"name"), L"xodd");
    EXPECT_EQ(readKey(SETTINGS, L"HistoryLimit"), L"x3");
    EXPECT_TRUE(lines().empty());

    // Raising the limit lists what stayed.
    WritePrivateProfileStringW(SETTINGS, L"HistoryLimit", L"x6", path.c_str());
    fillHistoryList(state);
    EXPECT_EQ(lines(), (Lines{L"above"}));
}

// Delete record and Clear the list take out exactly the lines of the keys and
// entry sections that go, in one rewrite, and keep every other byte: another
// code page's bytes, comments, spacing, line ends; in 8-bit and UTF-16 files.
// What goes is what the platform's own deletions take.
TEST_F(HistoryTest, DeletionsKeepEveryOtherByte)
{
    const std::string settingsHeader = wideToUtf8(header(SETTINGS));
    const std::string settings = "; the viewer's\r\n" + settingsHeader + "Other=!caf\xe9 z\xfcrich\r\n";
    const std::string history = wideToUtf8(header(HISTORY));
    auto entry = [&](const std::string& text) { return "[" + wideToUtf8(HISTORY) + "\\" + text + "]\r\n"; };
    // A second History section, in other letter case.
    std::wstring otherCase = header(HISTORY);
    CharLowerBuffW(&otherCase[0], static_cast<DWORD>(otherCase.size()));
    const std::string secondHistory = wideToUtf8(otherCase);
    const std::string h = wideToUtf8(HISTORY);
    struct Case {
        int selected; // the line deleted; -1: the list cleared
        Lines listed;
        std::string before;
        std::string after;
        // The 8-bit file in code page 932, where a lead byte takes the next
        // byte with it: its result when it differs, or not run at all there.
        std::string after932 = "";
        bool eightBitIn932 = true;
    } cases[] = {
        {0, {L"alpha", L"z\xfcrich.example"},
         settings + history + "0=!alpha\r\n  ; kept\r\n\t1 =  !z\xfcrich.example  \r\n\r\n" + entry("alpha") +
             "Port=d1\r\n\r\n" + entry("z\xfcrich.example") + "Port=d2\n",
         settings + history + "  ; kept\r\n\t1 =  !z\xfcrich.example  \r\n\r\n" + entry("z\xfcrich.example") +
             "Port=d2\n"},
        // Both keys with the text go, each with the first section of its name;
        // another letter case is another entry; a second History section is
        // not read.
        {0, {L"alpha", L"Alpha", L"alpha"},
         settings + history + " 0 = !alpha\r\n2=!Alpha\r\n3=!alpha\n" + entry("ALPHA") + "A=1\r\n" +
             entry("alpha") + "B=2\r\n" + secondHistory + "4=!alpha\r\n",
         settings + history + "2=!Alpha\r\n" + secondHistory + "4=!alpha\r\n"},
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
            fillHistoryList(state);
            Lines listed = lines();
            // An 8-bit file is read in the computer's code page.
            if (!wide && GetACP() == 1252) {
                EXPECT_EQ(listed, c.listed);
            }
            if (c.selected >= 0) {
                select(c.selected);
                deleteRecord();
                reference::deleteText(referencePath, listed[c.selected], false);
            } else {
                clear();
                reference::deleteText(referencePath, L"", true);
            }
            EXPECT_EQ(readBytes(path), wide ? utf16(after) : after);
            EXPECT_EQ(dump(path), dump(referencePath));
        }
    }
    DeleteFileW(referencePath.c_str());
}

TEST_F(HistoryTest, BadFilesNeverCrashHangOrLoseOtherEntries)
{
    // Missing file, then a missing Data folder.
    SetWindowTextW(edit, L"kept");
    fillHistoryList(state);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(editText(), L"kept");
    clear();
    RemoveDirectoryW(dataFolder.c_str());
    fillHistoryList(state);
    clear();
    deleteRecord();
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(fileExists(path)) << "nothing is created";
    makeFolders(dataFolder);

    // A value of 40,000 characters, and one of only the prefix.
    std::wstring huge(40000, L'h');
    writeHistory(L"0=x" + huge + L"\r\n1=x\r\n2=xnext\r\n");
    EXPECT_EQ(lines(), (Lines{huge.substr(0, 254), L"", L"next"}));
    clear();
    EXPECT_EQ(readKey(HISTORY, L"2"), L"<missing>");

    // Garbage and NUL bytes around the sections.
    std::string garbage("\x01\x02garbage\0\0[broken\r\n=novalue\r\n", 29);
    garbage += wideToUtf8(header(HISTORY)) + "0=xok\r\n1\r\n\0\0\0=\r\n2=x\xff\xfe\r\n";
    writeBytes(path, garbage);
    fillHistoryList(state);
    EXPECT_FALSE(lines().empty());
    EXPECT_EQ(lines()[0], L"ok");

    // A read-only file: the deletions fail, nothing is lost, the list shows the file.
    // As root, Wine writes read-only files all the same; a handle that denies
    // writing makes the file as unwritable here as the attribute does on Windows.
    writeHistory(L"0=xone\r\n1=xtwo\r\n");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE denyWriting = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    select(0);
    deleteRecord();
    clear();
    CloseHandle(denyWriting);
    EXPECT_EQ(lines(), (Lines{L"one", L"two"}));
    EXPECT_EQ(readKey(HISTORY, L"0"), L"xone");
}

TEST_F(HistoryTest, HugeLimitCostsNoMoreThanTheEntries)
{
    std::wstring entries;
    for (int i = 0; i < 32; i++)
        entries += std::to_wstring(i * 1000) + L"=xhost" + std::to_wstring(i) + L"\r\n";
    entries += L"2147483646=xlast\r\n2147483647=xbeyond\r\n";
    // Each operation would read two thousand million keys one by one if it scanned.
    writeHistory(entries, L"HistoryLimit=x2147483647\r\n");
    ASSERT_EQ(lines().size(), 33u);
    EXPECT_EQ(lines().back(), L"last");
    select(32);
    deleteRecord();
    EXPECT_EQ(readKey(HISTORY, L"2147483646"), L"<missing>");
    clear();
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(readKey(HISTORY, L"2147483647"), L"xbeyond");
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
        std::wstring text = L"; the viewer's settings\r\n" + header(SETTINGS);
        const wchar_t* limit = limits[round % 9];
        if (round % 9 != 0)
            text += std::wstring(L"HistoryLimit=") + limit + L"\r\n";
        text += header(HISTORY);
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
            text += (random() % 4 == 0 ? L"[ " + name + L"\t]\r\n" : header(name.c_str())) + L"Data=1\r\n";
        }

        if (round % 2 == 0) {
            write(text);
            writeUtf16File(referencePath, text);
        } else {
            writeBytes(path, wideToUtf8(text));
            writeBytes(referencePath, wideToUtf8(text));
            fillHistoryList(state);
        }
        Lines listed = lines();
        ASSERT_EQ(listed, reference::lines(referencePath));

        if (!listed.empty()) {
            const std::wstring deleted = listed[random() % listed.size()];
            select(static_cast<int>(std::find(listed.begin(), listed.end(), deleted) - listed.begin()));
            deleteRecord();
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

} // namespace
