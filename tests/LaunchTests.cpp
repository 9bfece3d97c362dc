// The child launcher: its command lines as tables, then what a program
// started with one receives, and when the launch returns.
#include "Expected.h"
#include "TestSupport.h"

#include "../core/ChildLauncher.h"

namespace {

::testing::AssertionResult viewerLineIs(int row, const wchar_t* folder, const wchar_t* identity,
                                        const wchar_t* host, const std::wstring& line)
{
    StringStorage got;
    composeViewerCommandLine(got, (std::wstring(folder) + L"\\Data").c_str(), identity, host);
    if (got.isEqualTo(line.c_str()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "row " << row << ": " << wideToUtf8(got.getString());
}

TEST(CommandLines, ViewerAndServer)
{
    // 0: as a user reads it; the program path and the settings file are quoted.
    EXPECT_TRUE(viewerLineIs(0, L"E:\\Tools", L"0a1b2c3d", L"myhost::443",
                             L"\"E:\\Tools\\Data\\dodivarav.exe\" myhost::443 -settingsfile "
                             L"\"E:\\Tools\\Data\\viewer_settings.ini\" -wndclass viewer0a1b2c3d"));
    struct Case {
        const wchar_t* folder;
        const wchar_t* identity;
        const wchar_t* host;
    } cases[] = {
        /* 1 */ {L"E:\\Tools", L"0a1b2c3d", expected::LISTEN_SWITCH},
        /* 2 */ {L"E:\\Tools", L"00000000", L""},  // two blanks in a row, no host
        /* 3 */ {L"E:\\Tools", L"1a2b3c4d", L"my\"host:1"},  // passes unchanged
        /* 4 */ {L"E:", L"1a2b3c4d", L"h"},
        /* 5 */ {L"E:\\My Tools", L"00c0ffee", L"h"},
    };
    for (int row = 1; row <= 5; row++) {
        const Case& c = cases[row - 1];
        EXPECT_TRUE(viewerLineIs(row, c.folder, c.identity, c.host, expected::viewerLine(c.folder, c.host, c.identity)));
    }
    const wchar_t* serverFolders[] = {L"E:\\Tools", L"E:", L"E:\\My Tools"};
    for (const wchar_t* folder : serverFolders) {
        StringStorage line;
        composeServerCommandLine(line, (std::wstring(folder) + L"\\Data").c_str());
        EXPECT_EQ(std::wstring(line.getString()), expected::serverLine(folder)) << wideToUtf8(folder);
    }
}

TEST(CommandLines, DataFoldersAnAnsiProgramWouldMisreadAreRefused)
{
    struct Case {
        bool only1252;
        const wchar_t* folder;
        bool exact;
    } cases[] = {
        /* 0 */ {false, L"E:\\Apps\\Data", true},
        /* 1 */ {false, L"E:\\My Tools\\Data", true},
        /* 2 */ {true, L"E:\\caf\x00e9\\Data", true},
        /* 3 */ {true, L"E:\\\x4e2d\\Data", true},  // no image at all: "?", which names no file
        /* 4 */ {true, L"E:\\q\xff02 -listen \xff02x\\Data", false},  // a quote
        /* 5 */ {true, L"E:\\w\\\xff0e\xff0e\\Data", false},  // "..": another folder
        /* 6 */ {true, L"E:\\\x0101\\Data", false},  // "a"
        /* 7 */ {true, L"E:\\x\xff3cy\\Data", false},  // a backslash
    };
    // UTF-8 has no best fit: a folder reaches the program as it is, unless a lone surrogate becomes U+FFFD.
    EXPECT_TRUE(isExactInAnsi(L"E:\\q\xff02\x4e2d\\Data", CP_UTF8));
    EXPECT_FALSE(isExactInAnsi(L"E:\\a\xd800" L"b\\Data", CP_UTF8));
    // Code page 932's best fit turns the yen sign into a backslash: another folder.
    EXPECT_FALSE(isExactInAnsi(L"E:\\a\x00a5" L"b\\Data", 932));
    for (size_t row = 0; row < sizeof(cases) / sizeof(cases[0]); row++) {
        const Case& c = cases[row];
        if (!c.only1252 || GetACP() == 1252) {
            EXPECT_EQ(isExactInAnsi(c.folder), c.exact) << "row " << row;
        }
    }
}

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testDrivesMapped())
            GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
        removeTree(L"E:\\launch");
        makeFolders(folder + L"\\Data");
        ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\dodivarav.exe", expected::viewerPath(folder)));
        ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\WinZRX.exe", expected::serverPath(folder)));
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", LOG);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_MODULES", MODULES);
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", nullptr);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_MODULES", nullptr);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_WAIT", nullptr);
        removeTree(L"E:\\launch");
    }

    std::wstring viewerLine(const std::wstring& host) const
    {
        return expected::viewerLine(folder, host, TEST_DRIVE_SERIAL);
    }
    std::vector<std::wstring> logged() { return readLogLines(LOG); }

    // Unquoted, "E:\launch\My Tools\Data\dodivarav.exe ..." would run E:\launch\My.exe.
    const std::wstring folder = L"E:\\launch\\My Tools";
    static constexpr const wchar_t* LOG = L"E:\\launch\\standins.log";
    static constexpr const wchar_t* MODULES = L"E:\\launch\\modules.log";
};

TEST_F(LaunchTest, ProgramsGetTheLineAndOneBlankAndNeverAPlantedProgram)
{
    ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\dodivarav.exe", L"E:\\launch\\My.exe"));
    // The longest line that starts: with its blank and zero, the platform's
    // 32,767 units. One unit more starts nothing, and nothing is cut.
    const size_t longest = 32765 - viewerLine(L"").size();
    std::wstring longHost(longest, L'h');
    EXPECT_TRUE(runProcessAndWait(viewerLine(L"my\"host:1").c_str()));
    EXPECT_TRUE(runProcessAndWait(expected::serverLine(folder).c_str()));
    EXPECT_TRUE(runProcessAndWait(viewerLine(longHost).c_str()));
    EXPECT_FALSE(runProcessAndWait(viewerLine(std::wstring(longest + 1, L'h')).c_str()));

    EXPECT_EQ(logged(), (std::vector<std::wstring>{expected::received(viewerLine(L"my\"host:1")),
                                                   expected::received(expected::serverLine(folder)),
                                                   expected::received(viewerLine(longHost))}));
    EXPECT_EQ(readLogLines(MODULES), (std::vector<std::wstring>{expected::viewerPath(folder),
                                                                expected::serverPath(folder),
                                                                expected::viewerPath(folder)}));
}

// Run here, where the Data folder has no programs, and by the test below from
// folders that have them but that an ANSI program would misread.
TEST(LaunchActions, StartNothingFromThisFolder)
{
    DWORD started = GetTickCount();
    EXPECT_FALSE(startViewer(L"myhost"));
    EXPECT_FALSE(startListeningViewer());
    EXPECT_FALSE(startServer());
    EXPECT_LT(GetTickCount() - started, 10000u);
}

TEST_F(LaunchTest, UnstartableProgramsReturnFalseAtOnce)
{
    EXPECT_FALSE(runProcessAndWait(expected::viewerLine(L"E:\\launch\\Bare", L"h", TEST_DRIVE_SERIAL).c_str()));
    EXPECT_FALSE(runProcessAndWait(expected::serverLine(L"E:\\launch\\Bare").c_str()));
    ASSERT_EQ(GetACP(), 1252u) << "scripts/run-tests.sh runs Wine with code page 1252";
    // Code page 1252's best fit turns U+FF02 into a quote (an ANSI viewer would
    // read "-listen" as a switch and E:\launch\q as its settings file), and
    // U+FF0E into a dot (E:\launch\w\..\Data is another folder).
    for (const wchar_t* misread : {L"E:\\launch\\q\xff02 -listen \xff02x", L"E:\\launch\\w\\\xff0e\xff0e"}) {
        layOutDriveFolder(misread, ownPath(), L"loader.exe");
        EXPECT_TRUE(passesAsCopy(std::wstring(misread) + L"\\loader.exe", L"LaunchActions.StartNothingFromThisFolder"));
    }
    EXPECT_TRUE(logged().empty());
}

DWORD WINAPI runServerLine(void* line)
{
    return runProcessAndWait(static_cast<const std::wstring*>(line)->c_str()) ? 11 : 10;
}

TEST_F(LaunchTest, ReturnsOnlyAfterTheChildHasEnded)
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"korvane-test-release-launch");
    SetEnvironmentVariableW(L"KORVANE_STANDIN_WAIT", L"korvane-test-release-launch");
    std::wstring line = expected::serverLine(folder);
    HANDLE launch = CreateThread(nullptr, 0, runServerLine, &line, 0, nullptr);
    ASSERT_NE(launch, nullptr);
    for (int i = 0; i < 800 && logged().empty(); i++)
        Sleep(25);
    EXPECT_EQ(logged().size(), 1u) << "the server never started";
    EXPECT_EQ(WaitForSingleObject(launch, 500), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(launch, 10000), WAIT_OBJECT_0);
    DWORD result = 0;
    GetExitCodeThread(launch, &result);
    EXPECT_EQ(result, 11u);
    CloseHandle(launch);
    CloseHandle(release);
}

} // namespace
