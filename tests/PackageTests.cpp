// The release package, unzipped onto a test drive by check_package.sh:
// KORVANE_PACKAGE is the folder as unzipped, KORVANE_PACKAGE_DRIVE a copy with
// the stand-ins in its Data folder.
#include "Expected.h"
#include "GuiDriver.h"

#include "../res/resource.h"
#include "version.h"

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t value[512];
    DWORD length = GetEnvironmentVariableW(name, value, 512);
    return length > 0 && length < 512 ? std::wstring(value, length) : std::wstring();
}

std::wstring readIni(const std::wstring& path, const wchar_t* section, const wchar_t* key)
{
    wchar_t value[256];
    GetPrivateProfileStringW(section, key, L"<missing>", value, 256, path.c_str());
    return value;
}

TEST(Package, LauncherAndAppInfoGiveTheProjectVersion)
{
    const std::wstring folder = environment(L"KORVANE_PACKAGE");
    ASSERT_FALSE(folder.empty()) << "run by check_package.sh";
    const std::wstring version = utf8ToWide(KORVANE_VERSION_TEXT);

    std::wstring launcher = folder + L"\\KorvanePortable.exe";
    DWORD size = GetFileVersionInfoSizeW(launcher.c_str(), nullptr);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(launcher.c_str(), 0, size, info.data()));
    for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
        wchar_t* text = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + key).c_str(),
                                   reinterpret_cast<void**>(&text), &length));
        EXPECT_EQ(std::wstring(text), version) << wideToUtf8(key);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = MAKELONG(KORVANE_VERSION_MINOR, KORVANE_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, KORVANE_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);

    // The manifest of the 32-bit launcher: its version, and x86, without which
    // the system would refuse to start it.
    HMODULE module = LoadLibraryExW(launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                         SizeofResource(module, found));
    FreeLibrary(module);
    EXPECT_NE(manifest.find("name=\"Korvane.Portable.Loader\" version=\"" KORVANE_VERSION_TEXT
                            "\" processorArchitecture=\"x86\""),
              std::string::npos);

    const std::wstring appInfo = folder + L"\\App\\AppInfo\\appinfo.ini";
    EXPECT_EQ(readIni(appInfo, L"Version", L"PackageVersion"), version);
    EXPECT_EQ(readIni(appInfo, L"Version", L"DisplayVersion"), utf8ToWide(KORVANE_DISPLAY_VERSION));
    EXPECT_EQ(readIni(appInfo, L"Format", L"Type"), L"PortableApps.comFormat");
    EXPECT_EQ(readIni(appInfo, L"Format", L"Version"), L"3.8");
    EXPECT_EQ(readIni(appInfo, L"Details", L"AppID"), L"KorvanePortable");
    EXPECT_EQ(readIni(appInfo, L"Control", L"Icons"), L"1");
    EXPECT_EQ(readIni(appInfo, L"Control", L"Start"), L"KorvanePortable.exe");
    for (const wchar_t* key : {L"Name", L"Publisher", L"Category", L"Description"})
        EXPECT_NE(readIni(appInfo, L"Details", key), L"<missing>") << wideToUtf8(key);
    for (const wchar_t* key : {L"Shareable", L"OpenSource", L"Freeware", L"CommercialUse"})
        EXPECT_EQ(readIni(appInfo, L"License", key), L"true") << wideToUtf8(key);
}

TEST(Package, UnzippedWithTheTwoProgramsItConnectsToARecentConnection)
{
    const std::wstring folder = environment(L"KORVANE_PACKAGE_DRIVE");
    ASSERT_FALSE(folder.empty()) << "run by check_package.sh";
    const std::wstring log = folder + L"\\standins.log";
    SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", log.c_str());
    writeUtf16File(expected::viewerSettingsPath(folder),
                   expected::sectionHeader(expected::HISTORY_SECTION) + L"0=xwork.example::5901\r\n1=xlab:1\r\n");

    LauncherProcess launcher = startLauncher(folder);
    HWND panel = nullptr;
    ASSERT_TRUE(waitFor([&] { return (panel = findProcessWindow(launcher.pid, L"Korvane Portable Edition")) != nullptr; }));
    EXPECT_EQ(listLines(GetDlgItem(panel, IDC_HISTORY_LIST)), (std::vector<std::wstring>{L"work.example::5901", L"lab:1"}));
    EXPECT_EQ(windowText(GetDlgItem(panel, IDC_HOST_EDIT)), L"work.example::5901");
    clickButton(GetDlgItem(panel, IDC_CONNECT));
    EXPECT_EQ(waitForEnd(launcher), 0u);
    EXPECT_EQ(readLogLines(log), std::vector<std::wstring>{expected::received(
                                     expected::viewerLine(folder, L"work.example::5901", TEST_DRIVE_SERIAL))});
}

} // namespace
