// The format dialog over the formats of a fake host: several formats at once, presets kept and
// copied, the check and the apply's refusals, the preview, the three-state key filters, and the
// add mode reached from the page's Insert key.
#include "tests/pages/options/FormatsTestSupport.h"

#include "config/AppSettings.h"
#include "resources/resource.h"
#include "tests/support/WindowPicture.h"

using namespace formats_test;

namespace {

const _KEY_NUMBER kLastKey = [] {
    const uint8_t bytes[] = {0x39, 0x30, 0x55, 0x55, 0x00};
    return MakeKeyNumber(bytes, 5);
}();

class FormatDialog : public FormatsPageFixture
{
protected:
    void SetUp() override
    {
        FormatsPageFixture::SetUp();
        Settings().SetLastTransferInfo(CTimeValue(), 1, kLastKey, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
        m_token = Doc().Observe(this, [](void* key, CDocument*, const uint32_t* bits) {
            if (bits[0] & TDC_FORMATS)
                ++static_cast<FormatDialog*>(key)->notifications;
        });
    }
    void TearDown() override
    {
        if (dialog)
            dialog->Destroy();
        FormatsPageFixture::TearDown();
    }
    // The dialog on the formats marked selected (or a new one), created modeless.
    void OpenDialog(bool add = false)
    {
        dialog = std::make_unique<CFormatDialog>(host);
        dialog->m_addMode = add;
        ASSERT_TRUE(dialog->CreateDialogWindow(m_frame));
        Pump();
        notifications = 0;
    }
    void Edit(std::initializer_list<KvFormatPtr> formats)
    {
        for (const KvFormatPtr& f : formats)
            f->flags |= KVF_SELECTED;
        OpenDialog();
    }
    HWND Item(int id) { return GetDlgItem(dialog->m_hWnd, id); }
    std::wstring Text(int id)
    {
        std::wstring text;
        GetWindowString(Item(id), text);
        return text;
    }
    void Type(int id, const std::wstring& text) { SetWindowTextW(Item(id), text.c_str()); }
    void Press(int id) { SendMessageW(dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))); }
    int State(int row)
    {
        return static_cast<int>(SendMessageW(Item(IDC_FORMAT_KEY_FILTERS), LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                             LVIS_STATEIMAGEMASK) >> 12);
    }
    void ClickState(int row)
    {
        RECT r{LVIR_BOUNDS};
        HWND rows = Item(IDC_FORMAT_KEY_FILTERS);
        SendMessageW(rows, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        Click(rows, POINT{r.left + 8, (r.top + r.bottom) / 2});
    }

    std::unique_ptr<CFormatDialog> dialog;
    int notifications = 0;
    CObserverToken m_token;
};

} // namespace

TEST_F(FormatDialog, SeveralFormatsShowAStarAndKeepWhatIsNotTyped)
{
    KvFormatPtr a = Add(MakeFormat(L"A", L"%d", L"x[0]"));
    KvFormatPtr b = Add(MakeFormat(L"B", L"%X", L"x[0]"));
    Edit({a, b});
    EXPECT_EQ(L"*", Text(IDC_FORMAT_NAME));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_FORMAT_NAME)));
    EXPECT_EQ(L"*", Text(IDC_FORMAT_TEMPLATE));
    EXPECT_EQ(L"x[0]", Text(IDC_FORMAT_PARAMS));
    EXPECT_EQ(L"", Text(IDC_FORMAT_PREVIEW));
    Press(IDOK);
    EXPECT_EQ(L"%d", a->templ);
    EXPECT_EQ(L"%X", b->templ);
    EXPECT_EQ(L"A", a->name);

    OpenDialog();
    Type(IDC_FORMAT_TEMPLATE, L"%05d");
    Press(IDOK);
    EXPECT_EQ(IDOK, dialog->m_result);
    EXPECT_EQ(L"%05d", a->templ);
    EXPECT_EQ(L"%05d", b->templ);
    EXPECT_EQ(1, notifications);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), StoredNames());
}

TEST_F(FormatDialog, APresetKeepsItsTemplateAndGetsARegularCopy)
{
    KvFormatPtr preset = Add(MakeFormat(L"\nWiegand", L"%d", L"x[0]"));
    Add(MakeFormat(L"Other"));
    const struct {
        int control;
        const wchar_t* text;
        std::vector<std::wstring> stored;
    } cases[] = {
        {IDC_FORMAT_COMMENT, L"site A", {L"\nWiegand", L"Other"}},
        {IDC_FORMAT_TEMPLATE, L"%08d", {L"\nWiegand", L"Wiegand", L"Other"}},
    };
    for (const auto& c : cases) {
        Edit({preset});
        EXPECT_EQ(L"Wiegand", Text(IDC_FORMAT_NAME));
        Type(c.control, c.text);
        Press(IDOK);
        EXPECT_EQ(c.stored, StoredNames()) << c.text;
        dialog->Destroy();
    }
    EXPECT_EQ(L"site A", preset->comment);
    EXPECT_EQ(L"%d", preset->templ);
    const KvFormatPtr copy = Doc().GetFormats()[1];
    EXPECT_FALSE(copy->IsPreset());
    EXPECT_EQ(L"%08d", copy->templ);
    EXPECT_EQ(L"site A", copy->comment);
    EXPECT_GT(copy->id, 1000u);

    // A key filter ticked on the preset alone changes the preset itself.
    for (const KvFormatPtr& f : Doc().GetFormats())
        f->flags &= ~KVF_SELECTED;
    Edit({preset});
    ClickState(1);  // "Filter 1"
    Press(IDOK);
    EXPECT_EQ(3, preset->keyFilterMask);
    EXPECT_EQ(3u, Doc().GetFormats().size());
}

TEST_F(FormatDialog, CheckAndApplyRefuseWithTheirTexts)
{
    KvFormatPtr a = Add(MakeFormat(L"Alpha"));
    Edit({a});
    Type(IDC_FORMAT_TEMPLATE, L"%*d%Z");
    Type(IDC_FORMAT_PARAMS, L"5");
    Press(IDC_FORMAT_CHECK);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(L"Template specifier is not supported. (position 3)", host.messages.back());
    DWORD from = 0, to = 0;
    SendMessageW(Item(IDC_FORMAT_TEMPLATE), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(3u, from);
    EXPECT_EQ(3u, to);
    EXPECT_EQ(Item(IDC_FORMAT_TEMPLATE), GetFocus());
    Type(IDC_FORMAT_TEMPLATE, L"%d");
    Press(IDC_FORMAT_CHECK);
    EXPECT_EQ(L"Format is correct.", host.messages.back());

    Type(IDC_FORMAT_NAME, L"");
    Press(IDOK);
    EXPECT_EQ(L"Field must be filled in.", host.messages.back());
    EXPECT_EQ(-1, dialog->m_result);
    EXPECT_EQ(L"Alpha", a->name);
    dialog->Destroy();

    // A new format under a name taken in another case asks; Cancel keeps dialog and formats.
    OpenDialog(true);
    EXPECT_EQ(L"Format", Text(IDC_FORMAT_NAME));
    Type(IDC_FORMAT_NAME, L"ALPHA");
    Type(IDC_FORMAT_TEMPLATE, L"%x");
    Type(IDC_FORMAT_PARAMS, L"x[0]");
    host.answers = {IDCANCEL};
    Press(IDOK);
    EXPECT_EQ(L"Item \"ALPHA\" already exists. Replace?", host.messages.back());
    EXPECT_EQ(-1, dialog->m_result);
    EXPECT_TRUE(IsWindow(dialog->m_hWnd));
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha"}), StoredNames());
    EXPECT_EQ(L"%d", a->templ);
}

TEST_F(FormatDialog, PreviewRendersTheLastKeyOrShowsTheFailure)
{
    KvFormatPtr a = Add(MakeFormat(L"A", L"%d,%05d", L"x[2], x[1]*256+x[0]"));
    Edit({a});
    EXPECT_EQ(L"85,12345", Text(IDC_FORMAT_PREVIEW));
    const struct {
        const wchar_t* params;
        bool braces;
    } cases[] = {{L"x[0]+", true}, {L"x[2], x[0]", false}};
    for (const auto& c : cases) {
        Type(IDC_FORMAT_PARAMS, c.params);
        Press(ID_PREVIEW_REFRESH);
        const std::wstring preview = Text(IDC_FORMAT_PREVIEW);
        EXPECT_EQ(c.braces, preview.size() > 2 && preview.front() == L'{' && preview.back() == L'}') << preview;
    }
    EXPECT_EQ(L"85,00057", Text(IDC_FORMAT_PREVIEW));
}

TEST_F(FormatDialog, DisagreeingKeyFiltersCycleThroughThreeStates)
{
    // Filters 1, 5 and 30: the two formats differ on bit 30 only.
    KvFormatPtr a = Add(MakeFormat(L"A", L"%d", L"x[0]", static_cast<int32_t>(0x40000003)));
    KvFormatPtr b = Add(MakeFormat(L"B", L"%d", L"x[0]", 0x00000003));
    Edit({a, b});
    EXPECT_EQ(0xBFFFFFFFu, dialog->Agreement());
    const int states[] = {3, 1, 2, 3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(states[i], State(3)) << i;
        if (i < 3)
            ClickState(3);
    }
    EXPECT_EQ(2, State(1));
    ClickState(1);  // agreed: checked -> unchecked -> checked
    EXPECT_EQ(1, State(1));
    // Left indeterminate, bit 30 stays as each format had it.
    Press(IDOK);
    EXPECT_EQ(0x40000001, a->keyFilterMask);
    EXPECT_EQ(0x00000001, b->keyFilterMask);
}

TEST_F(FormatDialog, InsertOnThePageAddsOnOkAndNothingOnCancel)
{
    Add(MakeFormat(L"A"));
    Settings().SetFormatsFilter(0);
    Open();
    const struct {
        int button;
        std::vector<std::wstring> stored;
    } cases[] = {{IDCANCEL, {L"A"}}, {IDOK, {L"A", L"Format"}}};
    for (const auto& c : cases) {
        CRobot robot([](HWND d) { return GetDlgItem(d, IDC_FORMAT_TEMPLATE) != nullptr; },
                     [&](HWND d) {
                         SendMessageW(GetDlgItem(d, IDC_FORMAT_TEMPLATE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"%x"));
                         SendMessageW(GetDlgItem(d, IDC_FORMAT_PARAMS), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x[0]"));
                         PostMessageW(d, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
                     });
        PressKey(list, VK_INSERT);
        robot.Join();
        ASSERT_TRUE(robot.found);
        EXPECT_EQ(c.stored, StoredNames());
    }
    EXPECT_EQ(L"%x", Doc().GetFormats()[1]->templ);
    EXPECT_EQ(1, Doc().GetFormats()[1]->keyFilterMask);  // the "Default" tab's bit
    Idle();
    std::vector<int> rows;
    page->Table().GetSelectedItems(rows);
    EXPECT_EQ(std::vector<int>{1}, rows);
}

TEST_F(FormatDialog, DialogIsRenderedAndSaved)
{
    KvFormatPtr a = Add(MakeFormat(L"Wiegand 26", L"%03d,%05d", L"x[2], x[1]*256+x[0]"));
    a->comment = L"door controllers";
    Edit({a});
    ShowWindow(dialog->m_hWnd, SW_SHOWNORMAL);
    Pump();
    RECT frame;
    GetWindowRect(dialog->m_hWnd, &frame);
    EXPECT_GE(frame.right - frame.left, 400);
    EXPECT_GE(frame.bottom - frame.top, 435);
    const CWindowPicture picture(dialog->m_hWnd, L"FormatDialog.bmp");
    ASSERT_TRUE(picture.Ok()) << picture.Problem();
    const COLORREF field = GetSysColor(COLOR_WINDOW);
    for (int id : {IDC_FORMAT_NAME, IDC_FORMAT_TEMPLATE, IDC_FORMAT_KEY_FILTERS}) {
        const RECT r = ClientRectInWindowPicture(dialog->m_hWnd, Item(id));
        EXPECT_EQ(field, picture.Dominant(r)) << id;
        EXPECT_GE(picture.InkPixels(r, field), 40) << id;
    }
    EXPECT_EQ(L"085,12345", Text(IDC_FORMAT_PREVIEW));
}
