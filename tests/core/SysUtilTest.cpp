#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/AppContext.h"
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "tests/support/FakeSystemServices.h"

// ---- CRC ----

TEST(DallasCrc8, KnownValues)
{
    struct Case
    {
        std::vector<BYTE> bytes;
        BYTE crc;
    } cases[] = {
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xA1},
        {{'a', 'b', 'c'}, 0x42},
        {{}, 0x00},
        {{0x00}, 0x00},
        {{0x01}, 0x5E},
        {{0x80}, 0x8C},
        // A 1-Wire ROM code: family 02, serial 1C B8 01 00 00 00, CRC A2.
        {{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00}, 0xA2},
        // A ROM code followed by its own CRC gives 0.
        {{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2}, 0x00},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.crc, DallasCrc8(c.bytes.data(), static_cast<int>(c.bytes.size()))) << c.bytes.size();
    const BYTE some[] = {1, 2, 3};
    EXPECT_EQ(0, DallasCrc8(some, 0));
    EXPECT_EQ(0, DallasCrc8(some, -5));
}

// ---- Time ----

namespace
{
SYSTEMTIME MakeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = 999;
    return st;
}
}  // namespace

TEST(TimeValue, LocalTimeRoundTripAndFormat)
{
    CTimeValue v;
    ASSERT_TRUE(v.SetSystemTime(MakeTime(2024, 2, 29, 13, 45, 10)));
    SYSTEMTIME back{};
    ASSERT_TRUE(v.GetSystemTime(back));
    EXPECT_EQ(2024, back.wYear);
    EXPECT_EQ(2, back.wMonth);
    EXPECT_EQ(29, back.wDay);
    EXPECT_EQ(4, back.wDayOfWeek);  // a Thursday
    EXPECT_EQ(13, back.wHour);
    EXPECT_EQ(45, back.wMinute);
    EXPECT_EQ(10, back.wSecond);
    EXPECT_EQ(0, back.wMilliseconds);
    std::wstring text;
    EXPECT_EQ(19, v.Format(L"%Y-%m-%d %H:%M:%S", text));
    EXPECT_EQ(L"2024-02-29 13:45:10", text);
    EXPECT_EQ(0, v.Format(L"", text));
    EXPECT_EQ(L"", text);
    // A day past the month's end is normalised by mktime, as the runtime does.
    ASSERT_TRUE(v.SetSystemTime(MakeTime(2023, 2, 31)));
    ASSERT_TRUE(v.GetSystemTime(back));
    EXPECT_EQ(3, back.wMonth);
    EXPECT_EQ(3, back.wDay);
}

TEST(TimeValue, BadFieldsKeepPreviousValue)
{
    CTimeValue v;
    ASSERT_TRUE(v.SetSystemTime(MakeTime(2020, 1, 1)));
    const __time64_t before = v.GetTime();
    const SYSTEMTIME bad[] = {MakeTime(2020, 13, 1), MakeTime(2020, 0, 1), MakeTime(2020, 1, 0),
                              MakeTime(2020, 1, 32), MakeTime(1899, 12, 31)};
    for (const SYSTEMTIME& st : bad)
    {
        EXPECT_FALSE(v.SetSystemTime(st));
        EXPECT_EQ(before, v.GetTime());
    }
    EXPECT_EQ(0, CTimeValue(MakeTime(1899, 6, 1)).GetTime());
    EXPECT_NE(0, CTimeValue(MakeTime(2000, 6, 1)).GetTime());
}

TEST(TimeValue, SetCurrentTimeReadsTheServicesClock)
{
    CTimeValue v;
    {
        CFakeSystemServices fake;
        fake.currentTime = [] { return static_cast<__time64_t>(1700000123); };
        EXPECT_EQ(1700000123, v.SetCurrentTime().GetTime()) << "and returns the value itself";
    }
    const __time64_t before = _time64(nullptr);
    const __time64_t now = v.SetCurrentTime().GetTime();
    EXPECT_GE(now, before);
    EXPECT_LE(now, _time64(nullptr));
}

// ---- Paths, modules, system state ----

TEST(SystemHelpers, ModuleFilePathIsThisExe)
{
    std::wstring path;
    ASSERT_TRUE(GetModuleFilePath(path));
    wchar_t expected[MAX_PATH];
    GetModuleFileNameW(nullptr, expected, MAX_PATH);
    EXPECT_EQ(expected, path);
    EXPECT_EQ(L"test_core.exe", path.substr(path.size() - 13));
}

TEST(SystemHelpers, ModuleHolderLoadsAndReportsFailure)
{
    CModule missing;
    EXPECT_FALSE(missing.Load(L"no_such_library_nv.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, missing.Get());
    CModule shell;
    ASSERT_TRUE(shell.Load(L"shlwapi.dll"));
    EXPECT_NE(nullptr, GetProcAddress(shell.Get(), "PathFileExistsW"));
}

TEST(SystemHelpers, VersionAndElevation)
{
    EXPECT_TRUE(IsWindowsVistaOrLater());
    bool elevated = true;
    HRESULT hr = IsProcessElevated(&elevated);
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
    EXPECT_EQ(hr == S_OK, elevated);
    EXPECT_EQ(hr, IsProcessElevated());
}

TEST(SystemHelpers, ShellOpenFailureThrowsWithSystemCode)
{
    try
    {
        ShellOpen(L"C:\\no\\such\\folder\\nothing_here.txt");
        FAIL() << "no exception";
    }
    catch (const COSException& e)
    {
        EXPECT_TRUE(e.GetCode() == ERROR_FILE_NOT_FOUND || e.GetCode() == ERROR_PATH_NOT_FOUND) << e.GetCode();
        EXPECT_NE(nullptr, strstr(e.what(), "System error. Code: ")) << e.what();
    }
}

// ---- Thread language and the runtime locale ----

namespace
{
char DecimalPoint()
{
    return *localeconv()->decimal_point;
}

class CLocaleRestore
{
public:
    CLocaleRestore() : m_saved(_wsetlocale(LC_ALL, nullptr)) {}
    ~CLocaleRestore()
    {
        _wsetlocale(LC_ALL, m_saved.c_str());
        SetThreadUILanguage(m_ui);
    }

private:
    std::wstring m_saved;
    LANGID m_ui = GetThreadUILanguage();
};

const LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
}  // namespace

TEST(ThreadLanguage, GlobalFlagSetsProcessLocaleWithoutThrowing)
{
    CLocaleRestore restore;
    ASSERT_EQ('.', DecimalPoint());
    EXPECT_TRUE(SetThreadLanguage(kGerman, true));
    EXPECT_EQ(',', DecimalPoint());
    std::wstring name = _wsetlocale(LC_ALL, nullptr);
    EXPECT_EQ(0u, name.find(L"German_Germany")) << std::string(name.begin(), name.end());
    // A language without names sets no locale, and nothing is thrown.
    EXPECT_NO_THROW(EXPECT_FALSE(SetThreadLanguage(0x7C7C, true)));
    EXPECT_EQ(',', DecimalPoint());
}

TEST(ThreadLanguage, WorkerChangesOnlyItsOwnLocale)
{
    CLocaleRestore restore;
    ASSERT_EQ('.', DecimalPoint());
    char workerPoint = 0;
    bool set = false;
    std::thread worker([&] {
        set = SetThreadLanguage(kGerman, false);
        workerPoint = DecimalPoint();
    });
    worker.join();
    // Where the runtime has no per-thread locales (msvcrt.dll), the worker leaves the locale
    // alone rather than switch the whole process.
    EXPECT_EQ(set ? ',' : '.', workerPoint);
    EXPECT_EQ('.', DecimalPoint());  // the UI thread's locale is untouched
}

// ---- Autostart ----

namespace
{
class AutorunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kAutorunKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        m_key = key;
        RegDeleteValueW(m_key, kAutorunValueName);
    }
    void TearDown() override
    {
        RegDeleteValueW(m_key, kAutorunValueName);
        RegCloseKey(m_key);
    }
    std::wstring StoredText(DWORD& type)
    {
        wchar_t buf[512] = {};
        DWORD size = sizeof buf;
        type = 0;
        if (RegQueryValueExW(m_key, kAutorunValueName, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size))
            return L"<missing>";
        return std::wstring(buf, size / sizeof(wchar_t)).c_str();
    }
    HKEY m_key = nullptr;
};
}  // namespace

TEST_F(AutorunTest, WriteQueryDelete)
{
    bool present = true;
    ASSERT_TRUE(QueryAutorunValue(present));
    EXPECT_FALSE(present);

    const wchar_t* command = L"\"C:\\Program Files\\Norvane\\Norvane.exe\" /autorun";
    ASSERT_TRUE(WriteAutorunValue(command));
    DWORD type = 0;
    EXPECT_EQ(command, StoredText(type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    ASSERT_TRUE(QueryAutorunValue(present));
    EXPECT_TRUE(present);

    ASSERT_TRUE(WriteAutorunValue(nullptr));
    EXPECT_EQ(L"<missing>", StoredText(type));
    ASSERT_TRUE(QueryAutorunValue(present));
    EXPECT_FALSE(present);
    EXPECT_TRUE(WriteAutorunValue(nullptr));  // deleting a missing value is no failure
}

TEST_F(AutorunTest, ValueOfAnotherTypeIsNotPresent)
{
    const wchar_t text[] = L"%ProgramFiles%\\Norvane\\Norvane.exe /autorun";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, kAutorunValueName, 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(text), sizeof text));
    bool present = true;
    EXPECT_TRUE(QueryAutorunValue(present));
    EXPECT_FALSE(present);
    DWORD number = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, kAutorunValueName, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), sizeof number));
    EXPECT_TRUE(QueryAutorunValue(present));
    EXPECT_FALSE(present);
}

// ---- Clipboard (needs the display) ----

namespace
{
// The clipboard's Unicode text, or "<none>".
std::wstring ClipboardText()
{
    if (!OpenClipboard(nullptr))
        return L"<not opened>";
    std::wstring text = L"<none>";
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT))
    {
        const auto* p = static_cast<const wchar_t*>(GlobalLock(h));
        text = p ? p : L"<unlocked>";
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}
}  // namespace

TEST(Clipboard, TextRoundTrip)
{
    struct Case
    {
        const wchar_t* text;
        int length;
        const wchar_t* expected;
    } cases[] = {
        {L"abc", -1, L"abc"},
        {L"", -1, L""},
        {L"abcdef", 3, L"abc"},
        {L"abc", 0, L""},
        {L"005,00042\r\n\u0416\u00e9", -1, L"005,00042\r\n\u0416\u00e9"},
    };
    for (const Case& c : cases)
    {
        ASSERT_TRUE(SetClipboardText(nullptr, c.text, c.length)) << GetLastError();
        EXPECT_EQ(c.expected, ClipboardText());
    }
}

TEST(Clipboard, BusyClipboardFailsWithItsError)
{
    // Another thread holds the clipboard open, for a window or for none: the call fails and
    // reports why, and never takes the open clipboard over.
    for (const bool holderWindow : {true, false})
    {
        SCOPED_TRACE(holderWindow ? "held for a window" : "held for no window");
        HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        bool closed = false;
        std::thread holder([&] {
            HWND owner = holderWindow ? CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                                        nullptr, nullptr)
                                      : nullptr;
            bool ok = OpenClipboard(owner);
            SetEvent(opened);
            WaitForSingleObject(release, 10000);
            closed = ok && CloseClipboard();
            if (owner)
                DestroyWindow(owner);
        });
        WaitForSingleObject(opened, 10000);
        SetLastError(0);
        bool result = SetClipboardText(nullptr, L"x", -1);
        DWORD error = GetLastError();
        SetEvent(release);
        holder.join();
        CloseHandle(opened);
        CloseHandle(release);
        EXPECT_FALSE(result);
        EXPECT_NE(0u, error);
        EXPECT_TRUE(closed) << "the holder's clipboard was taken from it";
        EXPECT_TRUE(SetClipboardText(nullptr, L"after", -1));
        EXPECT_EQ(L"after", ClipboardText());
    }
}

// ---- Automation ----

namespace
{
// An automation object that records what it is called with.
class CRecordingDispatch : public IDispatch
{
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch)
        {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        namesLcid = lcid;
        nullIid = riid == IID_NULL;
        nameCount = count;
        std::wstring name = names[0];
        if (name == L"Range")
            ids[0] = 7;
        else if (name == L"Visible")
            ids[0] = 8;
        else
        {
            ids[0] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* argError) override
    {
        ++invokes;
        invokedId = id;
        invokeLcid = lcid;
        invokeFlags = flags;
        hadInfo = info != nullptr && argError != nullptr;
        args.assign(params->rgvarg, params->rgvarg + params->cArgs);
        named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
        if (result)
        {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = 1234;
        }
        return answer;
    }

    LCID namesLcid = 0, invokeLcid = 0;
    bool nullIid = false, hadInfo = false;
    UINT nameCount = 0;
    int invokes = 0;
    DISPID invokedId = 0;
    WORD invokeFlags = 0;
    std::vector<VARIANT> args;
    std::vector<DISPID> named;
    HRESULT answer = S_OK;
};

VARIANT IntVariant(LONG v)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}
}  // namespace

TEST(DispatchInvoke, ArgumentsInGivenOrderAsArgumentArray)
{
    CRecordingDispatch object;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = DispatchInvoke(DISPATCH_METHOD | DISPATCH_PROPERTYGET, &result, &object, L"Range", IntVariant(1),
                                IntVariant(2), IntVariant(3));
    ASSERT_EQ(S_OK, hr);
    EXPECT_TRUE(object.nullIid);
    EXPECT_EQ(1u, object.nameCount);
    EXPECT_EQ(static_cast<LCID>(LOCALE_USER_DEFAULT), object.namesLcid);
    EXPECT_EQ(static_cast<LCID>(LOCALE_SYSTEM_DEFAULT), object.invokeLcid);
    EXPECT_EQ(7, object.invokedId);
    EXPECT_EQ(DISPATCH_METHOD | DISPATCH_PROPERTYGET, object.invokeFlags);
    EXPECT_TRUE(object.hadInfo);
    ASSERT_EQ(3u, object.args.size());
    // The first given is argument 0 of the call (the callee's last parameter).
    EXPECT_EQ(1, object.args[0].lVal);
    EXPECT_EQ(2, object.args[1].lVal);
    EXPECT_EQ(3, object.args[2].lVal);
    EXPECT_TRUE(object.named.empty());
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(1234, result.lVal);
}

TEST(DispatchInvoke, PropertyPutCarriesNamedArgument)
{
    CRecordingDispatch object;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    ASSERT_EQ(S_OK, DispatchInvoke(DISPATCH_PROPERTYPUT, nullptr, &object, L"Visible", value));
    ASSERT_EQ(1u, object.named.size());
    EXPECT_EQ(DISPID_PROPERTYPUT, object.named[0]);
    ASSERT_EQ(1u, object.args.size());
    EXPECT_EQ(VT_BOOL, object.args[0].vt);
    EXPECT_EQ(VARIANT_TRUE, object.args[0].boolVal);
}

TEST(DispatchInvoke, FailuresComeBackUnchanged)
{
    CRecordingDispatch object;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, DispatchInvoke(DISPATCH_METHOD, nullptr, &object, L"Nope"));
    EXPECT_EQ(0, object.invokes);  // no call after a failed look-up
    object.answer = DISP_E_EXCEPTION;
    EXPECT_EQ(DISP_E_EXCEPTION, DispatchInvoke(DISPATCH_METHOD, nullptr, &object, L"Range"));
    EXPECT_EQ(1, object.invokes);
    EXPECT_TRUE(object.args.empty());
    EXPECT_EQ(E_INVALIDARG, DispatchInvoke(DISPATCH_METHOD, nullptr, nullptr, L"Range"));
}

// ---- System texts with inserts ----

// A system text that names inserts must not read arguments that were never given.
TEST(SystemText, InsertsStayAsTheyStand)
{
    DWORD code = 0;
    wchar_t raw[1024];
    for (DWORD c = 1; c < 16000 && !code; ++c)
        if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, c, 0, raw, 1024,
                           nullptr) &&
            wcsstr(raw, L"%1"))
            code = c;
    if (!code)
        GTEST_SKIP() << "no system text with inserts";
    std::wstring text;
    ASSERT_TRUE(GetSystemMessageText(text, nullptr, code));
    EXPECT_NE(std::wstring::npos, text.find(L"%1")) << code;
}
