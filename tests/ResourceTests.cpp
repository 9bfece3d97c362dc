// The resources of the built launcher, read from the executable itself.
#include "DialogTemplates.h"
#include "TestSupport.h"

#include "version.h"

#include <cwchar>

namespace {

class LauncherResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(launcherUnderTest().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    const void* resource(const wchar_t* type, const wchar_t* name, DWORD* size = nullptr)
    {
        HRSRC found = FindResourceW(module, name, type);
        if (found == nullptr)
            return nullptr;
        if (size != nullptr)
            *size = SizeofResource(module, found);
        return LockResource(LoadResource(module, found));
    }

    void checkDialog(int id, const wchar_t* title, short width, short height, const TemplateControl* controls,
                     size_t count)
    {
        const void* data = resource(RT_DIALOG, MAKEINTRESOURCEW(id));
        ASSERT_NE(data, nullptr);
        TemplateReader r(data);
        EXPECT_EQ(r.dword(), DIALOG_STYLE);
        EXPECT_EQ(r.dword(), 0u) << "no extended style";
        EXPECT_EQ(r.word(), count);
        EXPECT_EQ(r.number(), 0);
        EXPECT_EQ(r.number(), 0);
        EXPECT_EQ(r.number(), width);
        EXPECT_EQ(r.number(), height);
        EXPECT_EQ(r.textOrOrdinal(), L"") << "no menu";
        EXPECT_EQ(r.textOrOrdinal(), L"") << "no class";
        EXPECT_EQ(r.textOrOrdinal(), title);
        EXPECT_EQ(r.word(), 8) << "font size";
        EXPECT_EQ(r.textOrOrdinal(), L"MS Sans Serif");
        const std::vector<TemplateControl> got = dialogControlsOf(launcherUnderTest(), id);
        ASSERT_EQ(got.size(), count);
        for (size_t i = 0; i < count; i++) {
            const TemplateControl &c = controls[i], &g = got[i];
            SCOPED_TRACE(testing::Message() << "control " << i << " id " << c.id);
            EXPECT_EQ(std::vector<int>({g.id, g.x, g.y, g.width, g.height}),
                      std::vector<int>({c.id, c.x, c.y, c.width, c.height}));
            EXPECT_EQ(g.style, c.style);
            EXPECT_EQ(g.exStyle, 0u);
            EXPECT_EQ(_wcsicmp(g.kind, c.kind), 0);
            if (c.text != nullptr)
                EXPECT_STREQ(g.text, c.text);
            else
                EXPECT_NE(*g.text, L'\0') << "the maker's line";
        }
    }

    HMODULE module = nullptr;
};

TEST_F(LauncherResources, FrontPanelTemplateIsExactlyAsDesigned)
{
    checkDialog(IDD_FRONT_PANEL, L"Korvane Portable Edition", 273, 246, FRONT_PANEL_CONTROLS,
                sizeof(FRONT_PANEL_CONTROLS) / sizeof(FRONT_PANEL_CONTROLS[0]));
}

TEST_F(LauncherResources, AboutBoxTemplateIsExactlyAsDesigned)
{
    checkDialog(IDD_ABOUT_BOX, L"About Korvane Portable Edition", 258, 117, ABOUT_BOX_CONTROLS,
                sizeof(ABOUT_BOX_CONTROLS) / sizeof(ABOUT_BOX_CONTROLS[0]));
}

TEST_F(LauncherResources, ManifestAsksForInvokerLevelControlsV6SystemsAndDpiAwareness)
{
    DWORD size = 0;
    const char* data = static_cast<const char*>(resource(RT_MANIFEST, MAKEINTRESOURCEW(1), &size));
    ASSERT_NE(data, nullptr);
    std::string manifest(data, size);
    const char* expected[] = {
        "level=\"asInvoker\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
        ">true</dpiAware>",
        "name=\"Korvane.Portable.Loader\" version=\"" KORVANE_VERSION_TEXT "\"",
        // The system refuses to start a program whose manifest names another architecture.
        sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"",
    };
    for (const char* piece : expected)
        EXPECT_NE(manifest.find(piece), std::string::npos) << piece;
}

TEST_F(LauncherResources, VersionInformationNamesTheProduct)
{
    DWORD size = 0;
    const void* data = resource(RT_VERSION, MAKEINTRESOURCEW(1), &size);
    ASSERT_NE(data, nullptr);
    std::vector<BYTE> copy(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    auto query = [&](const wchar_t* key) {
        wchar_t* value = nullptr;
        UINT length = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (!VerQueryValueW(copy.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            return std::wstring(L"<missing>");
        return std::wstring(value);
    };
    EXPECT_EQ(query(L"ProductName"), L"Korvane Portable Edition");
    EXPECT_EQ(query(L"FileDescription"), L"Korvane Portable Edition, Loader Module");
    EXPECT_EQ(query(L"LegalCopyright"), L"Copyright \u00a9 2026 the Korvane Portable Edition team. MIT licence.");
    // The shipped launcher's fixed and string versions are checked in the package.
    EXPECT_EQ(query(L"FileVersion"), utf8ToWide(KORVANE_VERSION_TEXT));

    // The icon group that windres made from the rendered .ico: every size at
    // 32 bits per pixel, each image there with the length the group gives.
    DWORD groupSize = 0;
    const void* group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_LAUNCHER), &groupSize);
    ASSERT_NE(group, nullptr);
    TemplateReader r(group);
    r.skip(4);
    const WORD count = r.word();
    ASSERT_EQ(groupSize, 6u + 14u * count);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; i++) {
        const WORD widthAndHeight = r.word();
        sizes.push_back(LOBYTE(widthAndHeight) == 0 ? 256 : LOBYTE(widthAndHeight));
        SCOPED_TRACE(sizes.back());
        EXPECT_EQ(HIBYTE(widthAndHeight), LOBYTE(widthAndHeight));
        r.skip(4); // colours, reserved, planes
        EXPECT_EQ(r.word(), 32) << "bits per pixel";
        const DWORD bytes = r.dword();
        DWORD imageSize = 0;
        EXPECT_NE(resource(RT_ICON, MAKEINTRESOURCEW(r.word()), &imageSize), nullptr);
        EXPECT_EQ(imageSize, bytes);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
}

} // namespace
