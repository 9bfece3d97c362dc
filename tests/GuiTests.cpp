// The real launcher on a test drive, driven from outside as a user would.
#include "GuiDriver.h"
#include "DialogResource.h"
#include "Expected.h"

#include "../res/resource.h"
#include "version.h"

#include <regex>

namespace {

const wchar_t PANEL_TITLE[] = L"Korvane Portable Edition";
const wchar_t ABOUT_TITLE[] = L"About Korvane Portable Edition";
const wchar_t CONFIRM_TITLE[] = L"Data Removal Confirmation";
const std::wstring SETTINGS_HEADER = expected::sectionHeader(expected::SETTINGS_SECTION);
const std::wstring HISTORY_HEADER = expected::sectionHeader(expected::HISTORY_SECTION);
const wchar_t* const HISTORY_SECTION = expected::HISTORY_SECTION;

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testDrivesMapped())
            GTEST_SKIP() << "the test drives are mapped by the tests' Wine fixture (run with ctest)";
        layOutDriveFolder(folder, launcherUnderTest(), L"KorvanePortable.exe");
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", log.c_str());
    }

    void TearDown() override
    {
        if (launcher.process != nullptr)
            waitForEnd(launcher, 0);
        // A stand-in held by a test that failed early is let go.
        if (release != nullptr) {
            SetEvent(release);
            CloseHandle(release);
        }
        SetEnvironmentVariableW(L"KORVANE_STANDIN_LOG", nullptr);
        SetEnvironmentVariableW(L"KORVANE_STANDIN_WAIT", nullptr);
    }

    // Starts the launcher and waits for its front panel.
    void open(const std::wstring& arguments = L"")
    {
        launcher = startLauncher(folder, arguments);
        ASSERT_TRUE(waitFor([&] { return (panel = findProcessWindow(launcher.pid, PANEL_TITLE)) != nullptr; }))
            << "the front panel did not show";
    }

    HWND control(int id) const { return GetDlgItem(panel, id); }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    std::wstring hostEdit() const { return windowText(control(IDC_HOST_EDIT)); }
    HWND list() const { return control(IDC_HISTORY_LIST); }
    LRESULT selection() const { return SendMessageW(list(), LB_GETCURSEL, 0, 0); }

    bool panelGone() const { return !IsWindow(panel); }
    // The panel is still up once the input posted to it has been handled.
    bool panelStaysOpen()
    {
        return postedMessagesHandled(control(IDC_HOST_EDIT)) && IsWindowVisible(panel) &&
               WaitForSingleObject(launcher.process, 0) == WAIT_TIMEOUT;
    }

    DWORD end(DWORD timeoutMs = 10000) { return waitForEnd(launcher, timeoutMs); }
    std::vector<std::wstring> launched() const { return readLogLines(log); }

    std::wstring viewerLine(const std::wstring& host) const
    {
        return expected::received(expected::viewerLine(folder, host, TEST_DRIVE_SERIAL));
    }
    std::wstring serverLine() const { return expected::received(expected::serverLine(folder)); }

    std::wstring settingsPath() const { return expected::viewerSettingsPath(folder); }
    void writeHistory(const std::wstring& entries, const std::wstring& limitLine = L"")
    {
        writeUtf16File(settingsPath(), std::wstring(SETTINGS_HEADER) + limitLine + HISTORY_HEADER + entries);
    }
    std::wstring readKey(const wchar_t* section, const wchar_t* key) const
    {
        wchar_t value[512];
        GetPrivateProfileStringW(section, key, L"<missing>", value, 512, settingsPath().c_str());
        return value;
    }

    const std::wstring folder = L"E:\\gui";
    const std::wstring log = L"E:\\gui\\standins.log";
    const std::wstring loaderClass = std::wstring(L"loader") + TEST_DRIVE_SERIAL;
    LauncherProcess launcher;
    HWND panel = nullptr;
    HANDLE release = nullptr;
};

// ---- The panel as it opens -------------------------------------------------

TEST_F(GuiTest, PanelOpensAsDesignedWithEmptyHistory)
{
    open();
    EXPECT_EQ(windowText(panel), PANEL_TITLE);
    LONG panelStyle = GetWindowLongW(panel, GWL_STYLE);
    EXPECT_EQ(panelStyle & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);

    // The controls a user sees, in tab order, with their ids, kinds and texts.
    HWND child = GetWindow(panel, GW_CHILD);
    for (const TemplateControl& expected : dialogControlsOf(launcherUnderTest(), IDD_FRONT_PANEL)) {
        SCOPED_TRACE(wideToUtf8(expected.text));
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), expected.id == -1 ? 0xFFFF : expected.id);
        EXPECT_EQ(_wcsicmp(windowClass(child).c_str(), expected.kind), 0) << wideToUtf8(windowClass(child));
        EXPECT_EQ(windowText(child), expected.text);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the template has";

    EXPECT_FALSE(enabled(IDC_CONNECT));
    EXPECT_FALSE(enabled(IDC_DELETE_RECORD));
    EXPECT_FALSE(enabled(IDC_CLEAR_LIST));
    for (int id : {IDC_START_SERVER, IDC_START_LISTENING_VIEWER, IDC_ABOUT, IDC_EXIT, IDC_HISTORY_LIST, IDC_HOST_EDIT})
        EXPECT_TRUE(enabled(id)) << id;
    EXPECT_EQ(hostEdit(), L"");
    EXPECT_EQ(SendMessageW(list(), LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(focusOf(launcher), control(IDC_HOST_EDIT));

    // The hidden loader window, named after the drive.
    HWND loader = FindWindowW(loaderClass.c_str(), nullptr);
    ASSERT_NE(loader, nullptr);
    EXPECT_FALSE(IsWindowVisible(loader));
    DWORD loaderPid = 0;
    GetWindowThreadProcessId(loader, &loaderPid);
    EXPECT_EQ(loaderPid, launcher.pid);

    clickButton(control(IDC_EXIT));
    EXPECT_EQ(end(), 0u);
    EXPECT_TRUE(launched().empty());
}

// ---- Taking the host and connecting ----------------------------------------

// Connect and Enter take the host as cleaned, from the first 255 characters
// typed; a host of only blanks, or one that would reach the viewer as a
// switch, leaves Connect disabled and starts nothing.
TEST_F(GuiTest, ConnectAndEnterTakeTheCleanedHost)
{
    std::wstring longText, longHost;
    for (int i = 0; i < 300; i++)
        longText += (i % 10 == 9) ? L' ' : static_cast<wchar_t>(L'a' + i % 26);
    for (wchar_t c : longText.substr(0, 255))
        longHost += c != L' ' ? std::wstring(1, c) : L"";
    struct Case {
        const wchar_t* arguments; // the launcher's own, which change nothing
        std::wstring typed;
        bool enter;
        std::wstring host;
    } cases[] = {
        {L" -listen myhost /server", L"  my host ::443 ", false, L"myhost::443"},
        {L"", L"   ", true, L""},
        {L"", L" -listen", true, L""},
        {L"", L"h", true, L"h"},
        {L"", longText, false, longHost},
    };
    std::vector<std::wstring> started;
    for (const Case& c : cases) {
        SCOPED_TRACE(wideToUtf8(c.typed));
        open(c.arguments);
        EXPECT_EQ(hostEdit(), L"");
        typeInto(control(IDC_HOST_EDIT), c.typed);
        EXPECT_EQ(hostEdit(), c.typed) << "the edit keeps what was typed";
        EXPECT_EQ(enabled(IDC_CONNECT), !c.host.empty());
        if (c.enter)
            pressKey(control(IDC_HOST_EDIT), VK_RETURN);
        else
            clickButton(control(IDC_CONNECT));
        if (c.host.empty()) {
            EXPECT_TRUE(panelStaysOpen());
            clickButton(control(IDC_EXIT));
        } else {
            started.push_back(viewerLine(c.host));
        }
        EXPECT_EQ(end(), 0u);
    }
    EXPECT_EQ(launched(), started);
}

TEST_F(GuiTest, ListeningViewerAndServerGetTheirLinesAndAMissingProgramNothing)
{
    open();
    clickButton(control(IDC_START_LISTENING_VIEWER));
    EXPECT_EQ(end(), 0u);
    open();
    clickButton(control(IDC_START_SERVER));
    EXPECT_EQ(end(), 0u);
    // Without the viewer the run ends silently.
    DeleteFileW(expected::viewerPath(folder).c_str());
    open();
    typeInto(control(IDC_HOST_EDIT), L"myhost");
    clickButton(control(IDC_CONNECT));
    EXPECT_EQ(end(), 0u);
    EXPECT_EQ(launched(), (std::vector<std::wstring>{viewerLine(expected::LISTEN_SWITCH), serverLine()}));
}

// ---- Ending without a launch -----------------------------------------------

TEST_F(GuiTest, EscCloseBoxExitAndOkLaunchNothing)
{
    const char* ways[] = {"Esc", "close box", "Exit", "OK command"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        open();
        typeInto(control(IDC_HOST_EDIT), L"host");
        std::string name = way;
        if (name == "Esc")
            pressKey(control(IDC_HOST_EDIT), VK_ESCAPE);
        else if (name == "close box")
            PostMessageW(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (name == "Exit")
            clickButton(control(IDC_EXIT));
        else
            PostMessageW(panel, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(end(), 0u);
    }
    EXPECT_TRUE(launched().empty());
}

// ---- The close message and the child's lifetime ----------------------------

TEST_F(GuiTest, CloseMessageBeforeThePanelShowsClosesItAtOnce)
{
    launcher = startLauncher(folder);
    // Posted as soon as the loader window exists, before or as the panel shows.
    ASSERT_TRUE(waitFor([&] { return postCloseMessage(loaderClass); }, 10000));
    EXPECT_EQ(end(), 0u);
    EXPECT_TRUE(launched().empty());
}

TEST_F(GuiTest, CloseMessageWhileThePanelIsOpenLaunchesNothing)
{
    writeHistory(L"0=xone\r\n");
    open();
    clickListLine(list(), 0);
    ASSERT_TRUE(waitFor([&] { return enabled(IDC_DELETE_RECORD); }));
    // Clicks queued behind the close message are handled before its quit
    // request, but delete and launch nothing. The launcher's thread is held
    // while they are posted, so that all of them wait in its queue.
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, launcher.thread);
    ASSERT_NE(thread, nullptr);
    SuspendThread(thread);
    postCloseMessage(loaderClass);
    clickButton(control(IDC_DELETE_RECORD));
    clickButton(control(IDC_CONNECT));
    ResumeThread(thread);
    CloseHandle(thread);
    EXPECT_EQ(end(), 0u);
    EXPECT_TRUE(launched().empty());
    EXPECT_EQ(readKey(HISTORY_SECTION, L"0"), L"xone");

    // With the About box or the confirmation up the run ends all the same. A
    // system menu's loop takes the quit request off the queue and stays open:
    // over the panel or either box too. A Yes or a Connect made afterwards
    // changes nothing.
    const struct {
        const wchar_t* box;
        bool menu;
    } rows[] = {{PANEL_TITLE, true}, {ABOUT_TITLE, false}, {ABOUT_TITLE, true}, {CONFIRM_TITLE, false},
                {CONFIRM_TITLE, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(wideToUtf8(row.box) + (row.menu ? ", system menu" : ""));
        open();
        typeInto(control(IDC_HOST_EDIT), L"myhost");
        HWND owner = panel;
        if (row.box != PANEL_TITLE) {
            clickButton(control(row.box == ABOUT_TITLE ? IDC_ABOUT : IDC_CLEAR_LIST));
            ASSERT_TRUE(waitFor([&] { return (owner = findProcessWindow(launcher.pid, row.box)) != nullptr; }));
        }
        if (row.menu) {
            PostMessageW(owner, WM_SYSCOMMAND, SC_KEYMENU, L' ');
            ASSERT_TRUE(waitFor([&] { return findProcessWindow(launcher.pid, nullptr, L"#32768") != nullptr; }));
        }
        ASSERT_TRUE(postCloseMessage(loaderClass));
        if (row.menu)
            pressKey(owner, VK_ESCAPE);
        clickButton(row.box == CONFIRM_TITLE ? GetDlgItem(owner, IDYES) : control(IDC_CONNECT));
        EXPECT_EQ(end(), 0u);
    }
    EXPECT_TRUE(launched().empty());
    EXPECT_EQ(readKey(HISTORY_SECTION, L"0"), L"xone");
}

TEST_F(GuiTest, PlainCloseRequestDestroysOnlyTheLoaderWindow)
{
    open();
    HWND loader = FindWindowW(loaderClass.c_str(), nullptr);
    ASSERT_NE(loader, nullptr);
    SendMessageW(loader, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(loader); }));
    EXPECT_FALSE(postCloseMessage(loaderClass)) << "no window is left to take it";
    EXPECT_TRUE(panelStaysOpen());
    clickButton(control(IDC_START_SERVER));
    EXPECT_EQ(end(), 0u);
    EXPECT_EQ(launched(), std::vector<std::wstring>{serverLine()});
}

TEST_F(GuiTest, LauncherWaitsForItsChildAndIgnoresTheCloseMessageMeanwhile)
{
    release = CreateEventW(nullptr, TRUE, FALSE, L"korvane-test-release-gui");
    SetEnvironmentVariableW(L"KORVANE_STANDIN_WAIT", L"korvane-test-release-gui");
    open();
    typeInto(control(IDC_HOST_EDIT), L"myhost");
    // A Connect handled before the close message launches all the same: the
    // launcher's thread is held while both are posted.
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, launcher.thread);
    ASSERT_NE(thread, nullptr);
    SuspendThread(thread);
    clickButton(control(IDC_CONNECT));
    postCloseMessage(loaderClass);
    ResumeThread(thread);
    CloseHandle(thread);
    ASSERT_TRUE(waitFor([&] { return !launched().empty(); })) << "the viewer did not start";
    EXPECT_TRUE(waitFor([&] { return panelGone(); })) << "the panel stays closed while the viewer runs";

    // The loader window keeps answering other programs, without spinning.
    HWND loader = FindWindowW(loaderClass.c_str(), nullptr);
    ASSERT_NE(loader, nullptr);
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(loader, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer), 0);
    EXPECT_NE(SendMessageTimeoutW(loader, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer), 0);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    auto cpuTime = [&] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(launcher.process, &created, &exited, &kernel, &user);
        return (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
               (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
    };
    ULONGLONG before = cpuTime();
    postCloseMessage(loaderClass);
    EXPECT_EQ(WaitForSingleObject(launcher.process, 700), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the launcher ended before its child";
    EXPECT_LT(cpuTime() - before, 1000000u) << "more than 100 ms of processor time in 700 ms of waiting";
    SetEvent(release);
    EXPECT_EQ(end(), 0u);
    EXPECT_EQ(launched(), std::vector<std::wstring>{viewerLine(L"myhost")});
}

TEST_F(GuiTest, LaunchersOnTwoDrivesUseTheirOwnLoaderClasses)
{
    const std::wstring otherFolder = L"F:\\gui";
    layOutDriveFolder(otherFolder, launcherUnderTest(), L"KorvanePortable.exe");
    open();
    LauncherProcess other = startLauncher(otherFolder);
    const std::wstring otherClass = std::wstring(L"loader") + OTHER_TEST_DRIVE_SERIAL;
    ASSERT_TRUE(waitFor([&] { return findProcessWindow(other.pid, PANEL_TITLE) != nullptr; }));
    ASSERT_NE(FindWindowW(otherClass.c_str(), nullptr), nullptr);
    ASSERT_NE(FindWindowW(loaderClass.c_str(), nullptr), nullptr);

    // Each drive's message reaches its own launcher only.
    ASSERT_TRUE(postCloseMessage(otherClass));
    EXPECT_EQ(waitForEnd(other), 0u);
    EXPECT_TRUE(panelStaysOpen());
    ASSERT_TRUE(postCloseMessage(loaderClass));
    EXPECT_EQ(end(), 0u);
    EXPECT_TRUE(launched().empty());
}

// ---- Recent connections ----------------------------------------------------

// The panel lists the entries in key order, although the list box is sorted
// (it would begin with the blank line and the switch), and puts the first
// into the host. A click takes a line; a double click
// connects to the clicked line, whatever the host holds.
TEST_F(GuiTest, HistoryFillsThePanelAndADoubleClickConnectsToTheClickedLine)
{
    writeHistory(L"0=xfirst\r\n1=xsecond\r\n3=xthird\r\n4=x \r\n5=x-listen\r\n");
    HWND edit = nullptr;

    open();
    const std::vector<std::wstring> lines = listLines(list());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 3),
              (std::vector<std::wstring>{L"first", L"second", L"third"}));
    EXPECT_EQ(hostEdit(), L"first");
    EXPECT_TRUE(enabled(IDC_CONNECT));
    EXPECT_EQ(selection(), LB_ERR);
    EXPECT_FALSE(enabled(IDC_DELETE_RECORD));
    EXPECT_TRUE(enabled(IDC_CLEAR_LIST));
    // Picked and edited: a click on the selected line keeps the edit, a double click takes the line.
    edit = control(IDC_HOST_EDIT);
    clickListLine(list(), 1);
    ASSERT_TRUE(waitFor([&] { return hostEdit() == L"second"; }));
    EXPECT_TRUE(enabled(IDC_DELETE_RECORD));
    typeInto(edit, L" :2");
    clickListLine(list(), 1);
    EXPECT_TRUE(panelStaysOpen());
    EXPECT_EQ(hostEdit(), L"second :2");
    clickListLine(list(), 1, true);
    EXPECT_EQ(end(), 0u);

    // Picked, then the host emptied, which disables Connect.
    open();
    edit = control(IDC_HOST_EDIT);
    clickListLine(list(), 0);
    // The panel put "first" into the edit when it opened: wait for the click
    // itself, whose copy of the line would undo the selection below.
    ASSERT_TRUE(postedMessagesHandled(edit));
    ASSERT_EQ(hostEdit(), L"first");
    // Select all and delete, as a user would.
    SendMessageW(edit, EM_SETSEL, 0, -1);
    PostMessageW(edit, WM_CHAR, VK_BACK, 1);
    ASSERT_TRUE(waitFor([&] { return hostEdit().empty(); }));
    ASSERT_FALSE(enabled(IDC_CONNECT));
    // Below the lines there is no line to take, and no host to connect to.
    clickBelowListLines(list(), true);
    EXPECT_TRUE(panelStaysOpen());
    EXPECT_EQ(hostEdit(), L"");
    clickListLine(list(), 0, true);
    EXPECT_EQ(end(), 0u);

    // After Delete record the highlighted line is not the one in the host edit.
    open();
    clickListLine(list(), 1);
    ASSERT_TRUE(waitFor([&] { return enabled(IDC_DELETE_RECORD); }));
    clickButton(control(IDC_DELETE_RECORD));
    ASSERT_TRUE(waitFor([&] { return listLines(list()).size() == 4; }));
    ASSERT_EQ(hostEdit(), L"first");
    ASSERT_EQ(selection(), 1);
    clickListLine(list(), 1);
    EXPECT_TRUE(waitFor([&] { return hostEdit() == L"third"; })) << "a click takes the highlighted line";
    typeInto(control(IDC_HOST_EDIT), L":9");
    clickListLine(list(), 1);
    EXPECT_TRUE(panelStaysOpen());
    EXPECT_EQ(hostEdit(), L"third:9") << "a click on the selected line keeps an edited host";
    // A line with nothing left once cleaned, or a switch, connects to nothing, as Connect would not.
    clickListLine(list(), 2, true);
    EXPECT_TRUE(panelStaysOpen());
    clickListLine(list(), 3, true);
    EXPECT_TRUE(panelStaysOpen());
    clickListLine(list(), 1, true);
    EXPECT_EQ(end(), 0u);

    EXPECT_EQ(launched(), (std::vector<std::wstring>{viewerLine(L"second"), viewerLine(L"first"), viewerLine(L"third")}));
}

// Delete record takes out the picked entry and keeps the selection's place.
// A host the user typed stays; one that the panel wrote from the list goes
// with the last line, also when it was edited and the edit undone.
TEST_F(GuiTest, DeleteRecordRemovesTheEntryAndTakesTheHostWithTheLastLine)
{
    writeHistory(L"0=xzeta\r\n1=xalpha\r\n2=xmid\r\n");
    open();
    clickListLine(list(), 2);
    ASSERT_TRUE(waitFor([&] { return enabled(IDC_DELETE_RECORD); }));
    clickButton(control(IDC_DELETE_RECORD));
    ASSERT_TRUE(waitFor([&] { return SendMessageW(list(), LB_GETCOUNT, 0, 0) == 2; }));
    EXPECT_EQ(listLines(list()), (std::vector<std::wstring>{L"zeta", L"alpha"}));
    EXPECT_EQ(selection(), 1) << "moved to the new last line";
    EXPECT_EQ(hostEdit(), L"zeta");
    EXPECT_EQ(readKey(HISTORY_SECTION, L"2"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY_SECTION, L"0"), L"xzeta");

    // Deleting down to nothing leaves no selection; a host the user typed stays.
    clickButton(control(IDC_DELETE_RECORD));
    ASSERT_TRUE(waitFor([&] { return SendMessageW(list(), LB_GETCOUNT, 0, 0) == 1; }));
    EXPECT_EQ(selection(), 0);
    typeInto(control(IDC_HOST_EDIT), L":1");
    clickButton(control(IDC_DELETE_RECORD));
    ASSERT_TRUE(waitFor([&] { return SendMessageW(list(), LB_GETCOUNT, 0, 0) == 0; }));
    EXPECT_EQ(selection(), LB_ERR);
    EXPECT_EQ(hostEdit(), L"zeta:1");
    EXPECT_TRUE(enabled(IDC_CONNECT));
    EXPECT_FALSE(enabled(IDC_DELETE_RECORD));
    EXPECT_FALSE(enabled(IDC_CLEAR_LIST));
    clickButton(control(IDC_EXIT));
    EXPECT_EQ(end(), 0u);

    writeHistory(L"0=xtwo\r\n");
    open();
    clickListLine(list(), 0);
    ASSERT_TRUE(waitFor([&] { return enabled(IDC_DELETE_RECORD); }));
    typeInto(control(IDC_HOST_EDIT), L"x");
    PostMessageW(control(IDC_HOST_EDIT), WM_CHAR, 0x1A, 1); // Ctrl+Z
    ASSERT_TRUE(waitFor([&] { return hostEdit() == L"two"; }));
    clickButton(control(IDC_DELETE_RECORD));
    ASSERT_TRUE(waitFor([&] { return SendMessageW(list(), LB_GETCOUNT, 0, 0) == 0; }));
    EXPECT_TRUE(waitFor([&] { return hostEdit().empty(); }));
    EXPECT_FALSE(enabled(IDC_CONNECT));
    EXPECT_FALSE(enabled(IDC_CLEAR_LIST));
    clickButton(control(IDC_EXIT));
    EXPECT_EQ(end(), 0u);
}

TEST_F(GuiTest, ClearTheListAsksFirstAndNoChangesNothing)
{
    writeHistory(L"0=xone\r\n1=xtwo\r\n");
    open();
    clickButton(control(IDC_CLEAR_LIST));
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = findProcessWindow(launcher.pid, CONFIRM_TITLE)) != nullptr; }));
    // Yes and No only, Yes the default, with the question.
    HWND yes = GetDlgItem(box, IDYES);
    HWND no = GetDlgItem(box, IDNO);
    ASSERT_NE(yes, nullptr);
    ASSERT_NE(no, nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    EXPECT_EQ(GetWindowLongW(yes, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    bool questionShown = false;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        questionShown |= windowText(child) == L"Clear the list of saved Korvane connections?";
    EXPECT_TRUE(questionShown);
    EXPECT_FALSE(IsWindowEnabled(panel)) << "the box is modal over the panel";

    clickButton(no);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(box); }));
    ASSERT_TRUE(waitFor([&] { return IsWindowEnabled(panel) != FALSE; }));
    EXPECT_EQ(listLines(list()), (std::vector<std::wstring>{L"one", L"two"}));
    EXPECT_EQ(readKey(HISTORY_SECTION, L"0"), L"xone");

    clickButton(control(IDC_CLEAR_LIST));
    ASSERT_TRUE(waitFor([&] { return (box = findProcessWindow(launcher.pid, CONFIRM_TITLE)) != nullptr; }));
    clickButton(GetDlgItem(box, IDYES));
    ASSERT_TRUE(waitFor([&] { return SendMessageW(list(), LB_GETCOUNT, 0, 0) == 0; }));
    EXPECT_EQ(readKey(HISTORY_SECTION, L"0"), L"<missing>");
    EXPECT_EQ(readKey(HISTORY_SECTION, L"1"), L"<missing>");
    // The cleared entry that the panel had put into the host goes with it.
    EXPECT_EQ(hostEdit(), L"");
    EXPECT_FALSE(enabled(IDC_CONNECT));
    EXPECT_FALSE(enabled(IDC_CLEAR_LIST));
    EXPECT_FALSE(enabled(IDC_DELETE_RECORD));
    clickButton(control(IDC_EXIT));
    EXPECT_EQ(end(), 0u);
    EXPECT_TRUE(launched().empty());
}

// ---- The About box -----------------------------------------------------------

TEST_F(GuiTest, AboutBoxShowsTheBuildAndEveryWayOutReturnsToThePanel)
{
    writeHistory(L"0=xone\r\n");
    open();
    typeInto(control(IDC_HOST_EDIT), L"x");
    const char* ways[] = {"Close Window", "Enter", "Esc", "close box"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        clickButton(control(IDC_ABOUT));
        HWND about = nullptr;
        ASSERT_TRUE(waitFor([&] { return (about = findProcessWindow(launcher.pid, ABOUT_TITLE)) != nullptr; }));
        std::wstring buildLine = windowText(GetDlgItem(about, IDC_BUILD_LINE));
        EXPECT_TRUE(std::regex_match(wideToUtf8(buildLine),
                                     std::regex("Built on [A-Z][a-z]{2} [ 0-3][0-9] [0-9]{4} at "
                                                "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
            << wideToUtf8(buildLine);
        bool versionShown = false;
        for (HWND child = GetWindow(about, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            versionShown |= windowText(child) == utf8ToWide(KORVANE_MAKER_LINE);
        EXPECT_TRUE(versionShown) << KORVANE_MAKER_LINE;
        EXPECT_FALSE(IsWindowEnabled(panel));

        HWND close = GetDlgItem(about, IDCANCEL);
        std::string name = way;
        if (name == "Close Window")
            clickButton(close);
        else if (name == "Enter")
            pressKey(close, VK_RETURN);
        else if (name == "Esc")
            pressKey(close, VK_ESCAPE);
        else
            PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(waitFor([&] { return !IsWindow(about); }));
        ASSERT_TRUE(waitFor([&] { return IsWindowEnabled(panel) != FALSE; }));
        EXPECT_EQ(hostEdit(), L"onex");
        EXPECT_EQ(listLines(list()), std::vector<std::wstring>{L"one"});
        EXPECT_TRUE(enabled(IDC_CONNECT));
    }
    clickButton(control(IDC_CONNECT));
    EXPECT_EQ(end(), 0u);
    EXPECT_EQ(launched(), std::vector<std::wstring>{viewerLine(L"onex")});
}

} // namespace
