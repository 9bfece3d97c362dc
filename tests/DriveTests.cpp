// Paths and drive identity, seen from a probe program placed on the test drives.
#include "Expected.h"
#include "TestSupport.h"

#include "../drive/DrivePaths.h"

namespace {

struct ProbeReport {
    std::wstring modulePath, identity, dataFolder, viewerPath, serverPath, viewerSettings, serverSettings,
        loaderClass, viewerClass, connectLine, listenLine, serverLine;
};

// Places the probe as folder\name and reads what it derives there.
ProbeReport probeAt(const std::wstring& folder, const std::wstring& name = L"loader.exe")
{
    ProbeReport report;
    layOutDriveFolder(folder, ownFolder() + L"\\drive_probe.exe", name, false);
    std::wstring out = folder + L"\\report.txt";
    ProcessResult run = runAndWait(L"\"" + folder + L"\\" + name + L"\" paths \"" + out + L"\"");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::wstring> lines = readLogLines(out);
    if (lines.size() != 12) {
        ADD_FAILURE() << "probe wrote " << lines.size() << " lines";
        return report;
    }
    std::wstring* fields[] = {&report.modulePath, &report.identity, &report.dataFolder, &report.viewerPath,
                              &report.serverPath, &report.viewerSettings, &report.serverSettings,
                              &report.loaderClass, &report.viewerClass, &report.connectLine,
                              &report.listenLine, &report.serverLine};
    for (size_t i = 0; i < 12; i++)
        *fields[i] = lines[i];
    return report;
}

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testDrivesMapped())
            GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
    }
};

TEST_F(DriveTest, WorkedExampleInAFolder)
{
    ScopedEnvironment host(L"KORVANE_PROBE_HOST", L"myhost::443");
    ProbeReport r = probeAt(L"E:\\Apps");
    EXPECT_EQ(r.modulePath, L"E:\\Apps\\loader.exe");
    EXPECT_EQ(r.identity, L"1a2b3c4d");
    EXPECT_EQ(r.dataFolder, L"E:\\Apps\\Data");
    EXPECT_EQ(r.viewerPath, expected::viewerPath(L"E:\\Apps"));
    EXPECT_EQ(r.serverPath, expected::serverPath(L"E:\\Apps"));
    EXPECT_EQ(r.viewerSettings, expected::viewerSettingsPath(L"E:\\Apps"));
    EXPECT_EQ(r.serverSettings, expected::serverSettingsPath(L"E:\\Apps"));
    EXPECT_EQ(r.loaderClass, L"loader1a2b3c4d");
    EXPECT_EQ(r.viewerClass, expected::viewerClass(L"1a2b3c4d"));
    // The program path is quoted; the settings files always are; host as given.
    EXPECT_EQ(r.connectLine, expected::viewerLine(L"E:\\Apps", L"myhost::443", L"1a2b3c4d"));
    EXPECT_EQ(r.listenLine, expected::listeningViewerLine(L"E:\\Apps", L"1a2b3c4d"));
    EXPECT_EQ(r.serverLine, expected::serverLine(L"E:\\Apps"));
}

TEST_F(DriveTest, LauncherInTheDriveRootAndOnAnotherDrive)
{
    ProbeReport root = probeAt(L"E:\\");
    EXPECT_EQ(root.modulePath, L"E:\\loader.exe");
    EXPECT_EQ(root.identity, L"1a2b3c4d");
    EXPECT_EQ(root.dataFolder, L"E:\\Data");
    EXPECT_EQ(root.viewerSettings, expected::viewerSettingsPath(L"E:"));
    DeleteFileW(L"E:\\loader.exe");
    DeleteFileW(L"E:\\report.txt");

    ProbeReport other = probeAt(L"F:\\Tools", L"AnyName.exe");
    EXPECT_EQ(other.modulePath, L"F:\\Tools\\AnyName.exe");
    EXPECT_EQ(other.identity, OTHER_TEST_DRIVE_SERIAL);
    EXPECT_EQ(other.loaderClass, std::wstring(L"loader") + OTHER_TEST_DRIVE_SERIAL);
    EXPECT_EQ(other.viewerClass, expected::viewerClass(OTHER_TEST_DRIVE_SERIAL));
    EXPECT_EQ(other.serverPath, expected::serverPath(L"F:\\Tools"));
}

TEST_F(DriveTest, ModulePathAtTheEdgeOfTheFirstBufferIsReturnedWhole)
{
    // 259 characters fill the first capacity of 260 with the terminator. Wine
    // cannot start a program from a longer path, so longer ones are not tried.
    for (size_t length : {258u, 259u}) {
        std::wstring folder = L"E:\\edge\\" + std::wstring(length - 19, L'x');
        ProbeReport r = probeAt(folder);
        SCOPED_TRACE(testing::Message() << "module path of " << folder.size() + 11 << " characters");
        EXPECT_EQ(r.modulePath, folder + L"\\loader.exe");
        EXPECT_EQ(r.dataFolder, folder + L"\\Data");
        EXPECT_EQ(r.identity, TEST_DRIVE_SERIAL);
    }
    removeTree(L"E:\\edge");
}

TEST(ModulePath, StaleInsufficientBufferCodeDoesNotMakeItGrow)
{
    wchar_t expected[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, expected, MAX_PATH * 4);
    ASSERT_GT(length, 0u);

    StringStorage path;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(getModulePath(path));
    EXPECT_TRUE(path.isEqualTo(expected));

    // Nothing is remembered between calls, and the answers agree.
    StringStorage first, second;
    getDataFolder(first);
    getDataFolder(second);
    EXPECT_TRUE(first.isEqualTo(second.getString()));
}

TEST(VolumeIdentity, UnreadableSerialGivesZeros)
{
    StringStorage identity;
    identity.setString(L"untouched");
    // No drive is mapped at Q: in the test prefix.
    getVolumeIdentity(L"Q:\\", identity);
    EXPECT_TRUE(identity.isEqualTo(L"00000000"));
    getVolumeIdentity(L"\\\\nowhere\\share\\", identity);
    EXPECT_TRUE(identity.isEqualTo(L"00000000"));
}

} // namespace
