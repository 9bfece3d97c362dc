// Paths and drive identity: the rules as tables, then the platform's answers.
#include "Expected.h"
#include "TestSupport.h"

#include "../drive/DrivePaths.h"

namespace {

std::wstring textOf(const StringStorage& s)
{
    return s.getString() != nullptr ? std::wstring(s.getString()) : std::wstring(L"<no text>");
}

::testing::AssertionResult derives(int row, const wchar_t* modulePath, const std::wstring& root,
                                   const std::wstring& dataFolder)
{
    StringStorage gotRoot, gotFolder;
    volumeRootOf(modulePath, gotRoot);
    dataFolderOf(modulePath, gotFolder);
    if (textOf(gotRoot) == root && textOf(gotFolder) == dataFolder)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "row " << row << ": root [" << wideToUtf8(textOf(gotRoot))
                                         << "], Data folder [" << wideToUtf8(textOf(gotFolder)) << "]";
}

TEST(DrivePaths, VolumeRootAndDataFolderFromTheModulePath)
{
    std::wstring deep = L"E:\\" + std::wstring(300, L'd');
    EXPECT_TRUE(derives(0, L"E:\\Apps\\loader.exe", L"E:\\", L"E:\\Apps\\Data"));
    EXPECT_TRUE(derives(1, L"E:\\loader.exe", L"E:\\", L"E:\\Data"));
    EXPECT_TRUE(derives(2, L"F:\\Tools\\AnyName.exe", L"F:\\", L"F:\\Tools\\Data"));
    EXPECT_TRUE(derives(3, L"\\\\host\\share\\x\\loader.exe", L"\\", L"\\\\host\\share\\x\\Data"));
    EXPECT_TRUE(derives(4, (deep + L"\\loader.exe").c_str(), L"E:\\", deep + L"\\Data"));
    // Never returned by the platform: the scan stops at the start of the text.
    EXPECT_TRUE(derives(5, L"loader.exe", L"loader.exe", L"l\\Data"));
    EXPECT_TRUE(derives(6, L"", L"", L"\\Data"));
    // No module path: no root (the current directory's volume) and no folder part.
    EXPECT_TRUE(derives(7, nullptr, L"<no text>", L"\\Data"));
    // Long-path forms: the root ends at the first backslash, as for a share.
    EXPECT_TRUE(derives(8, L"\\\\?\\E:\\Apps\\loader.exe", L"\\", L"\\\\?\\E:\\Apps\\Data"));
    EXPECT_TRUE(derives(9, L"\\\\?\\UNC\\host\\s\\loader.exe", L"\\", L"\\\\?\\UNC\\host\\s\\Data"));
}

TEST(DrivePaths, ProgramsSettingsAndClassNamesInTheDataFolder)
{
    const wchar_t* folders[] = {L"E:\\Apps", L"E:", L"E:\\My Tools"};
    for (int row = 0; row < 3; row++) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        std::wstring dataFolder = std::wstring(folders[row]) + L"\\Data";
        StringStorage s;
        viewerPathIn(dataFolder.c_str(), s);
        EXPECT_EQ(textOf(s), expected::viewerPath(folders[row]));
        serverPathIn(dataFolder.c_str(), s);
        EXPECT_EQ(textOf(s), expected::serverPath(folders[row]));
        viewerSettingsPathIn(dataFolder.c_str(), s);
        EXPECT_EQ(textOf(s), expected::viewerSettingsPath(folders[row]));
        serverSettingsPathIn(dataFolder.c_str(), s);
        EXPECT_EQ(textOf(s), expected::serverSettingsPath(folders[row]));
    }
    StringStorage name;
    windowClassNameOf(L"loader", L"1a2b3c4d", name);
    EXPECT_EQ(textOf(name), L"loader1a2b3c4d");
    windowClassNameOf(L"viewer", L"0000abcd", name);
    EXPECT_EQ(textOf(name), L"viewer0000abcd");
}

// Also run, by the test below, from a copy of this program in a long folder.
TEST(ModulePath, IsThePlatformsWholePathAndTheRulesApplyToIt)
{
    wchar_t expected[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, expected, MAX_PATH * 4);
    ASSERT_GT(length, 0u);

    // A stale ERROR_INSUFFICIENT_BUFFER must not make the loop grow.
    StringStorage path;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(getModulePath(path));
    EXPECT_TRUE(path.isEqualTo(expected));
    EXPECT_TRUE(isModulePathKnown());

    // Nothing is remembered between calls, and the answers agree.
    StringStorage want, first, second;
    dataFolderOf(expected, want);
    getDataFolder(first);
    getDataFolder(second);
    EXPECT_EQ(textOf(first), textOf(want));
    EXPECT_EQ(textOf(second), textOf(want));
    StringStorage root, identity, fromRoot, viewer, className;
    volumeRootOf(expected, root);
    getVolumeIdentity(root.getString(), fromRoot);
    getDriveIdentity(identity);
    EXPECT_EQ(textOf(identity), textOf(fromRoot));
    getViewerPath(viewer);
    EXPECT_EQ(textOf(viewer), textOf(want) + L"\\dodivarav.exe");
    getWindowClassName(L"viewer", className);
    EXPECT_EQ(textOf(className), L"viewer" + textOf(identity));
}

TEST(VolumeIdentity, TestDrivesGiveTheirSerialsAndUnreadableOnesZeros)
{
    StringStorage identity;
    identity.setString(L"untouched");
    // No drive is mapped at Q: in the test prefix.
    getVolumeIdentity(L"Q:\\", identity);
    EXPECT_TRUE(identity.isEqualTo(L"00000000"));
    getVolumeIdentity(L"\\\\nowhere\\share\\", identity);
    EXPECT_TRUE(identity.isEqualTo(L"00000000"));
    if (!testDrivesMapped())
        GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
    getVolumeIdentity(L"E:\\", identity);
    EXPECT_EQ(textOf(identity), TEST_DRIVE_SERIAL);
    getVolumeIdentity(L"F:\\", identity);
    EXPECT_EQ(textOf(identity), OTHER_TEST_DRIVE_SERIAL);
}

TEST(ModulePath, AtTheEdgeOfTheFirstBufferIsReturnedWhole)
{
    if (!testDrivesMapped())
        GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
    // 259 characters fill the first capacity of 260 with the terminator. Wine
    // cannot start a program from a longer path, so longer ones are not tried.
    for (size_t length : {258u, 259u}) {
        std::wstring folder = L"E:\\edge\\" + std::wstring(length - 19, L'x');
        std::wstring copy = folder + L"\\loader.exe";
        SCOPED_TRACE(testing::Message() << "module path of " << copy.size() << " characters");
        removeTree(L"E:\\edge");
        makeFolders(folder);
        ASSERT_TRUE(copyFileTo(ownPath(), copy));
        EXPECT_TRUE(passesAsCopy(copy, L"ModulePath.IsThePlatforms*"));
    }
    removeTree(L"E:\\edge");
}

} // namespace
