#include <gtest/gtest.h>
#include <thread>

#include "framework/Socket.h"  // winsock2.h before windows.h
#include <windows.h>
#include <commctrl.h>
#include <propsys.h>
#include <cstring>
#include <string>

#include "framework/Holders.h"
#include "framework/KeyNames.h"
#include "framework/SysFunctions.h"

namespace
{
std::wstring MenuText(HMENU menu, UINT id)
{
    wchar_t buf[300] = {};
    GetMenuStringW(menu, id, buf, 300, MF_BYCOMMAND);
    return buf;
}

DWORD Entry(WORD hotkey, WORD command)
{
    return static_cast<DWORD>(command) << 16 | hotkey;
}

const WORD kCtrlF5 = HOTKEYWORD_CTRL | VK_F5;
const WORD kCtrlF6 = HOTKEYWORD_CTRL | VK_F6;
}  // namespace

TEST(MenuHotkeyTexts, ReplacesTailAfterLastTab)
{
    CMenu menu(CreatePopupMenu());
    std::wstring f5, f6;
    HotkeyText(f5, kCtrlF5);
    HotkeyText(f6, kCtrlF6);
    ASSERT_FALSE(f6.empty());
    AppendMenuW(menu.Get(), MF_STRING, 10, (L"Start\t" + f5).c_str());
    AppendMenuW(menu.Get(), MF_STRING, 11, L"Stop");
    AppendMenuW(menu.Get(), MF_STRING, 12, (L"Open\tx\t" + f6).c_str());
    AppendMenuW(menu.Get(), MF_STRING, 13, L"Clear\tCtrl+Q");
    const DWORD entries[] = {Entry(kCtrlF6, 10), Entry(kCtrlF5, 11), Entry(kCtrlF6, 12), Entry(0, 13)};
    EXPECT_TRUE(SetMenuHotkeyTexts(menu.Get(), entries, 4));
    EXPECT_EQ(L"Start\t" + f6, MenuText(menu.Get(), 10));
    EXPECT_EQ(L"Stop\t" + f5, MenuText(menu.Get(), 11));
    EXPECT_EQ(L"Open\tx\t" + f6, MenuText(menu.Get(), 12));  // already showing it: untouched
    EXPECT_EQ(L"Clear\t", MenuText(menu.Get(), 13));       // no hotkey text: only the TAB
}

TEST(MenuHotkeyTexts, StopsAtMissingItem)
{
    CMenu menu(CreatePopupMenu());
    AppendMenuW(menu.Get(), MF_STRING, 10, L"A");
    AppendMenuW(menu.Get(), MF_STRING, 12, L"C");
    const DWORD entries[] = {Entry(kCtrlF5, 10), Entry(kCtrlF5, 99), Entry(kCtrlF5, 12)};
    EXPECT_FALSE(SetMenuHotkeyTexts(menu.Get(), entries, 3));
    EXPECT_NE(L"A", MenuText(menu.Get(), 10));
    EXPECT_EQ(L"C", MenuText(menu.Get(), 12));  // after the failure nothing more is done
}

TEST(MenuHotkeyTexts, LongTextIsCutTo255)
{
    CMenu menu(CreatePopupMenu());
    std::wstring longText(254, L'm');
    AppendMenuW(menu.Get(), MF_STRING, 10, longText.c_str());
    const DWORD entries[] = {Entry(kCtrlF5, 10)};
    EXPECT_TRUE(SetMenuHotkeyTexts(menu.Get(), entries, 1));
    std::wstring text = MenuText(menu.Get(), 10);
    EXPECT_EQ(255u, text.size());
    EXPECT_EQ(longText + L"\t", text);
}

TEST(SmallFunctions, EscapeLineBreaks)
{
    struct Case
    {
        const char* narrow;
        int length;
        const wchar_t* escaped;
    } cases[] = {
        {"a\r\nb", -1, L"a\\r\\nb"},
        {"", -1, L""},
        {"\\r", -1, L"\\r"},  // a backslash stays one backslash
        {"x\ny\rz", 3, L"x\\ny"},
        {"\n\n", -1, L"\\n\\n"},
        {"\xE9\x7F", -1, L"\u00e9\x7f"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(c.escaped, EscapeLineBreaksA(c.narrow, c.length)) << c.narrow;
        std::wstring wide;
        for (const char* p = c.narrow; *p; ++p)
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        EXPECT_EQ(c.escaped, EscapeLineBreaks(wide.c_str(), c.length)) << c.narrow;
    }
    EXPECT_EQ(L"a\\rb\\n", EscapeLineBreaks(L"a\rb\n\0c", 4));
}

TEST(SmallFunctions, BytesToHexSpaced)
{
    const BYTE bytes[] = {0x0A, 0xFF, 0x00, 0x5C};
    EXPECT_EQ(L"0A FF", BytesToHexSpaced(bytes, 2));
    EXPECT_EQ(L"0A FF 00 5C", BytesToHexSpaced(bytes, 4));
    EXPECT_EQ(L"0A", BytesToHexSpaced(bytes, 1));
    EXPECT_EQ(L"", BytesToHexSpaced(bytes, 0));
}

TEST(SmallFunctions, ProcessImagePath)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetProcessImagePath(GetCurrentProcessId(), path);
    ASSERT_GT(n, 0u);
    wchar_t expected[MAX_PATH];
    GetModuleFileNameW(nullptr, expected, MAX_PATH);
    EXPECT_EQ(0, _wcsicmp(expected, path)) << std::wstring(path).size();
    EXPECT_EQ(wcslen(path), n);
    SetLastError(0);
    EXPECT_EQ(0u, GetProcessImagePath(0xFFFFFFF0, path));
    EXPECT_NE(0u, GetLastError());
}

namespace
{
class ControlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_USEREX_CLASSES};
        InitCommonControlsEx(&icc);
        m_parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_parent);
    }
    void TearDown() override { DestroyWindow(m_parent); }
    HWND Child(const wchar_t* cls, DWORD style = 0)
    {
        return CreateWindowExW(0, cls, L"", WS_CHILD | style, 0, 0, 200, 200, m_parent, nullptr, nullptr, nullptr);
    }
    HWND m_parent = nullptr;
};
}  // namespace

TEST_F(ControlsTest, FindTabByParam)
{
    HWND tab = Child(WC_TABCONTROLW);
    ASSERT_NE(nullptr, tab);
    EXPECT_EQ(-1, FindTabByParam(tab, 5));  // empty control
    const LPARAM params[] = {30, 10, 20, 10};
    for (int i = 0; i < 4; ++i)
    {
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(L"t");
        item.lParam = params[i];
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(0, FindTabByParam(tab, 30));
    EXPECT_EQ(1, FindTabByParam(tab, 10));  // the first of two
    EXPECT_EQ(2, FindTabByParam(tab, 20));
    EXPECT_EQ(-1, FindTabByParam(tab, 40));
}

TEST_F(ControlsTest, FindComboItemByParam)
{
    HWND combo = Child(WC_COMBOBOXEXW, CBS_DROPDOWNLIST);
    ASSERT_NE(nullptr, combo);
    EXPECT_EQ(-1, FindComboItemByParam(combo, 0));  // empty list
    const LPARAM params[] = {7, 9, 7};
    for (int i = 0; i < 3; ++i)
    {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_LPARAM;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(L"c");
        item.lParam = params[i];
        SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(0, FindComboItemByParam(combo, 7));
    EXPECT_EQ(1, FindComboItemByParam(combo, 9));
    EXPECT_EQ(-1, FindComboItemByParam(combo, 8));
}

TEST_F(ControlsTest, DeviceContextHolders)
{
    {
        CClientDC dc(m_parent);
        EXPECT_NE(nullptr, dc.Get());
        CWindowDC wdc(m_parent);
        EXPECT_NE(nullptr, wdc.Get());
    }
    CGdiObject brush(CreateSolidBrush(RGB(1, 2, 3)));
    EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(brush.Get()));
    HGDIOBJ handle = brush.Get();
    brush.Delete();
    EXPECT_EQ(0u, GetObjectType(handle));
}

TEST(Holders, ResourceExceptionText)
{
    try
    {
        ThrowResourceException();
    }
    catch (const CException& e)
    {
        EXPECT_STREQ("A required resource was unavailable.", e.what());
        CResourceException copy(static_cast<const CResourceException&>(e));
        EXPECT_STREQ("A required resource was unavailable.", copy.what());
        return;
    }
    FAIL() << "no exception";
}

TEST(Holders, ComInitUndoesOnlyWhatItDid)
{
    // Each case on a thread of its own, whose apartment is its own.
    auto apartment = [] {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        const HRESULT hr = CoGetApartmentType(&type, &qualifier);
        return SUCCEEDED(hr) ? static_cast<int>(type) : hr;
    };
    std::thread([&] {
        {
            CComInit outer;
            EXPECT_EQ(S_OK, outer.Result());
            {
                CComInit inner;
                EXPECT_EQ(S_FALSE, inner.Result()) << "counted, and undone in turn";
            }
            const int held = apartment();
            EXPECT_TRUE(held == APTTYPE_STA || held == APTTYPE_MAINSTA) << "the outer one still holds it: " << held;
        }
        EXPECT_EQ(CO_E_NOTINITIALIZED, apartment());
    }).join();
    std::thread([&] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            CComInit other;
            EXPECT_EQ(RPC_E_CHANGED_MODE, other.Result());
        }
        EXPECT_EQ(APTTYPE_MTA, apartment()) << "a failed call undoes nothing";
        CoUninitialize();
    }).join();
}

TEST(Holders, SocketClosesUnlessInvalid)
{
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET raw;
    {
        CSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_TRUE(s.IsValid());
        raw = s.Get();
        CSocket moved(std::move(s));
        EXPECT_FALSE(s.IsValid());
        EXPECT_EQ(raw, moved.Get());
    }
    int type = 0, len = sizeof type;
    EXPECT_EQ(SOCKET_ERROR, getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len));
    {
        CSocket none;  // holds INVALID_SOCKET: nothing to close
    }
    WSACleanup();
}

TEST(AdminShellLink, TargetsProgramWithAdminSwitchAndTitle)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IShellLinkW* link = nullptr;
    EXPECT_EQ(E_INVALIDARG, CreateAdminShellLink(nullptr, nullptr, 0, &link));
    EXPECT_EQ(nullptr, link);
    ASSERT_EQ(S_OK, CreateAdminShellLink(L"Run as administrator", L"C:\\icons\\nv.ico", 3, &link));
    ASSERT_NE(nullptr, link);
    wchar_t text[MAX_PATH] = {};
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    EXPECT_EQ(S_OK, link->GetPath(text, MAX_PATH, nullptr, 0));
    EXPECT_EQ(0, _wcsicmp(exe, text));
    EXPECT_EQ(S_OK, link->GetArguments(text, MAX_PATH));
    EXPECT_STREQ(L"/admin", text);
    int icon = -1;
    EXPECT_EQ(S_OK, link->GetIconLocation(text, MAX_PATH, &icon));
    EXPECT_STREQ(L"C:\\icons\\nv.ico", text);
    EXPECT_EQ(3, icon);
    IPropertyStore* store = nullptr;
    ASSERT_EQ(S_OK, link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store)));
    const PROPERTYKEY title = {{0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}}, 2};
    PROPVARIANT value;
    PropVariantInit(&value);
    HRESULT hr = store->GetValue(title, &value);
    if (hr != E_NOTIMPL)  // Wine's link stores the title without reading it back
    {
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(VT_LPWSTR, value.vt);
        EXPECT_STREQ(L"Run as administrator", value.pwszVal);
    }
    PropVariantClear(&value);
    store->Release();
    link->Release();
    CoUninitialize();
}
