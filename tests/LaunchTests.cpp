// The launch actions, run by a probe (or by the launcher under test) placed on
// the test drive with the stand-ins in its Data folder: what each program
// receives, and when.
#include "Expected.h"
#include "GuiDriver.h"

#include "../res/resource.h"

namespace {

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testDrivesMapped())
            GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
        removeTree(L"E:\\launch");
        makeFolders(L"E:\\launch");
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", LOG);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_MODULES", MODULES);
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", nullptr);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_MODULES", nullptr);
        removeTree(L"E:\\launch");
    }

    // Runs "probe ACTION" from folder; returns the probe's exit code
    // (11 started, 10 not started).
    DWORD runAction(const std::wstring& folder, const std::wstring& action)
    {
        ProcessResult run = runAndWait(L"\"" + folder + L"\\loader.exe\" " + action);
        EXPECT_TRUE(run.finished);
        return run.exitCode;
    }

    std::vector<std::wstring> logged() { return readLogLines(LOG); }

    static constexpr const wchar_t* LOG = L"E:\\launch\\standins.log";
    static constexpr const wchar_t* MODULES = L"E:\\launch\\modules.log";
};

std::wstring viewerLine(const std::wstring& folder, const std::wstring& host, const std::wstring& identity)
{
    return expected::received(expected::viewerLine(folder, host, identity));
}
std::wstring serverLine(const std::wstring& folder)
{
    return expected::received(expected::serverLine(folder));
}

TEST_F(LaunchTest, EachActionHandsItsProgramTheExactLine)
{
    std::wstring folder = L"E:\\launch\\Apps";
    layOutDriveFolder(folder, ownFolder() + L"\\drive_probe.exe", L"loader.exe");
    {
        ScopedEnvironment host(L"KORVANE_PROBE_HOST", L"myhost::443");
        EXPECT_EQ(runAction(folder, L"viewer"), 11u);
    }
    {
        // The empty host leaves two blanks in a row; a double quote passes through.
        ScopedEnvironment host(L"KORVANE_PROBE_HOST", L"");
        EXPECT_EQ(runAction(folder, L"viewer"), 11u);
    }
    {
        ScopedEnvironment host(L"KORVANE_PROBE_HOST", L"my\"host:1");
        EXPECT_EQ(runAction(folder, L"viewer"), 11u);
    }
    EXPECT_EQ(runAction(folder, L"listen"), 11u);
    EXPECT_EQ(runAction(folder, L"server"), 11u);

    std::vector<std::wstring> lines = {
        viewerLine(folder, L"myhost::443", TEST_DRIVE_SERIAL),
        viewerLine(folder, L"", TEST_DRIVE_SERIAL),
        viewerLine(folder, L"my\"host:1", TEST_DRIVE_SERIAL),
        viewerLine(folder, expected::LISTEN_SWITCH, TEST_DRIVE_SERIAL),
        serverLine(folder),
    };
    EXPECT_EQ(logged(), lines);
}

TEST_F(LaunchTest, FolderWithBlanksNeverRunsAPlantedProgram)
{
    // Unquoted, "E:\launch\My Tools\Data\dodivarav.exe ..." would run E:\launch\My.exe.
    // The launcher under test itself, through its buttons.
    std::wstring folder = L"E:\\launch\\My Tools";
    layOutDriveFolder(folder, launcherUnderTest(), L"KorvanePortable.exe");
    ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\dodivarav.exe", L"E:\\launch\\My.exe"));
    for (int button : {IDC_START_LISTENING_VIEWER, IDC_START_SERVER}) {
        LauncherProcess launcher = startLauncher(folder);
        HWND panel = nullptr;
        ASSERT_TRUE(waitFor([&] { return (panel = findProcessWindow(launcher.pid, L"Korvane Portable Edition")) != nullptr; }));
        clickButton(GetDlgItem(panel, button));
        EXPECT_EQ(waitForEnd(launcher), 0u);
    }

    std::vector<std::wstring> ran = readLogLines(MODULES);
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0], expected::viewerPath(folder));
    EXPECT_EQ(ran[1], expected::serverPath(folder));
    EXPECT_EQ(logged()[0], viewerLine(folder, expected::LISTEN_SWITCH, TEST_DRIVE_SERIAL));
}

TEST_F(LaunchTest, LongLinesAreStartedWholeAndTooLongOnesRefused)
{
    // A launcher deep in a folder tree: every line is over 300 units.
    std::wstring folder = L"E:\\launch\\" + std::wstring(100, L'd') + L"\\" + std::wstring(100, L'e');
    layOutDriveFolder(folder, ownFolder() + L"\\drive_probe.exe", L"loader.exe");
    std::wstring host(200, L'h');
    {
        ScopedEnvironment hostText(L"KORVANE_PROBE_HOST", host);
        EXPECT_EQ(runAction(folder, L"viewer"), 11u);
    }
    EXPECT_EQ(runAction(folder, L"server"), 11u);
    EXPECT_EQ(runAction(folder, L"viewer-repeat 30000"), 11u);
    // Past the platform's 32,767 units nothing is started, and nothing is cut.
    EXPECT_EQ(runAction(folder, L"viewer-repeat 33000"), 10u);

    std::vector<std::wstring> lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], viewerLine(folder, host, TEST_DRIVE_SERIAL));
    EXPECT_GT(lines[0].size(), 500u);
    EXPECT_EQ(lines[1], serverLine(folder));
    EXPECT_EQ(lines[2], viewerLine(folder, std::wstring(30000, L'h'), TEST_DRIVE_SERIAL));
}

TEST_F(LaunchTest, UnstartableProgramsReturnFalseAtOnce)
{
    std::wstring folder = L"E:\\launch\\Bare";
    layOutDriveFolder(folder, ownFolder() + L"\\drive_probe.exe", L"loader.exe", false);
    // Code page 1252's best fit turns U+FF02 into a quote (an ANSI viewer would
    // read "-listen" as a switch and E:\launch\q as its settings file), and
    // U+FF0E into a dot (E:\launch\w\..\Data is another folder).
    std::wstring ansiQuoted = L"E:\\launch\\q\xff02 -listen \xff02x";
    std::wstring ansiDots = L"E:\\launch\\w\\\xff0e\xff0e";
    for (const std::wstring& misread : {ansiQuoted, ansiDots})
        layOutDriveFolder(misread, ownFolder() + L"\\drive_probe.exe", L"loader.exe");
    ScopedEnvironment host(L"KORVANE_PROBE_HOST", L"myhost");
    DWORD started = GetTickCount();
    for (const std::wstring& from : {folder, ansiQuoted, ansiDots}) {
        EXPECT_EQ(runAction(from, L"viewer"), 10u);
        EXPECT_EQ(runAction(from, L"listen"), 10u);
        EXPECT_EQ(runAction(from, L"server"), 10u);
    }
    EXPECT_LT(GetTickCount() - started, 10000u);
    EXPECT_TRUE(logged().empty());
}

TEST_F(LaunchTest, ActionReturnsOnlyAfterTheChildHasEnded)
{
    std::wstring folder = L"E:\\launch\\Wait";
    layOutDriveFolder(folder, ownFolder() + L"\\drive_probe.exe", L"loader.exe");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"korvane-test-release-launch");
    ScopedEnvironment wait(L"KORVANE_STANDIN_WAIT", L"korvane-test-release-launch");

    std::wstring line = L"\"" + folder + L"\\loader.exe\" server";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION probe = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &probe));
    CloseHandle(probe.hThread);
    for (int i = 0; i < 800 && logged().empty(); i++)
        Sleep(25);
    ASSERT_EQ(logged().size(), 1u) << "the server never started";
    EXPECT_EQ(WaitForSingleObject(probe.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(probe.hProcess, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(probe.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 11u);
    CloseHandle(probe.hProcess);
    CloseHandle(release);
}

} // namespace
