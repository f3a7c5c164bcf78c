#include "transfer/KeyboardDest.h"

#include <cwchar>

#include "config/TransferRecords.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/SysFunctions.h"
#include "transfer/KeySender.h"

const wchar_t kAutoItLibraryName[] = L"AutoItX3.dll";

namespace
{

constexpr int kWindowTextRoom = 261;  // 260 characters and the terminator
// A walk of the stacking order that meets more windows than this has met a changing order.
constexpr int kMaxWalk = 65536;

bool IsMaskSet(const wchar_t* mask)
{
    return mask && wcscmp(mask, L"*") != 0;
}

bool HasVisibleStyle(HWND window)
{
    return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool MatchesProcessImage(HWND window, const wchar_t* fileMask)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0)
        return true;
    wchar_t path[MAX_PATH] = {};
    if (GetProcessImagePath(processId, path) == 0)
        path[0] = 0;  // unreadable: the empty text is matched
    return WildcardMatch(fileMask, path);
}

bool QualifiesAsTarget(HWND window, const wchar_t* classMask, const wchar_t* titleMask, const wchar_t* fileMask,
                       HWND mainWindow)
{
    if (window == mainWindow || !HasVisibleStyle(window))
        return false;
    wchar_t text[kWindowTextRoom];
    if (IsMaskSet(classMask))
    {
        text[0] = 0;
        GetClassNameW(window, text, kWindowTextRoom);
        if (!WildcardMatch(classMask, text))
            return false;
    }
    if (IsMaskSet(titleMask))
    {
        text[0] = 0;
        GetWindowTextW(window, text, kWindowTextRoom);
        if (!WildcardMatch(titleMask, text))
            return false;
    }
    return !IsMaskSet(fileMask) || MatchesProcessImage(window, fileMask);
}

// Filter off with the program's own window in front: the first visible window below it.
HWND NextVisibleBelow(HWND mainWindow)
{
    HWND window = GetWindow(mainWindow, GW_HWNDNEXT);
    for (int i = 0; window && window != mainWindow && i < kMaxWalk; ++i)
    {
        if (HasVisibleStyle(window))
            return window;
        window = GetWindow(window, GW_HWNDNEXT);
    }
    return nullptr;
}

std::wstring GetTitle(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring title(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    int got = GetWindowTextW(window, title.data(), static_cast<int>(title.size()));
    title.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return title;
}

// Gives the foreground back to the window that had it, however the typing ends.
class CForegroundReturn
{
public:
    explicit CForegroundReturn(HWND window) : m_window(window) {}
    ~CForegroundReturn()
    {
        if (m_window)
            SetForegroundWindow(m_window);
    }
    CForegroundReturn(const CForegroundReturn&) = delete;
    CForegroundReturn& operator=(const CForegroundReturn&) = delete;

private:
    HWND m_window;
};

// One key-vector entry of methods 1 and 2: a pause, or a key whose modifiers stay held.
void SendKeyEntry(uint32_t entry, DWORD pressDelay, DWORD releaseDelay, UINT& modifiers)
{
    if (entry & KEYVEC_PAUSE)
    {
        if (DWORD ms = entry & ~KEYVEC_PAUSE)
            GetKeyInput().Pause(ms);
        return;
    }
    SendKeyWithModifiers(entry & 0xFF, (entry >> 8) & KEYMOD_ALL, pressDelay, releaseDelay, modifiers);
}

void SendUnicodeEvent(IKeyInput& input, wchar_t ch, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wScan = ch;
    in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
    SendInputEvent(input, in);
}

// The shift state of VkKeyScanExW (1 Shift, 2 Ctrl, 4 Alt) as modifier bits.
UINT ModifiersOfShiftState(UINT shiftState)
{
    return ((shiftState & 1) ? KEYMOD_SHIFT : 0) | ((shiftState & 2) ? KEYMOD_CTRL : 0) |
           ((shiftState & 4) ? KEYMOD_ALT : 0);
}

bool FindLayoutKey(wchar_t ch, HKL layout, SHORT& key)
{
    if (!layout)
        return false;
    key = VkKeyScanExW(ch, layout);
    return key != -1 && (key & 0xFF) != 0xFF;
}

// The US layout for the characters the target's layout lacks; unloaded afterwards when it was
// not loaded before, so typing leaves no layout behind in the user's list.
class CUsLayout
{
public:
    CUsLayout()
    {
        const HKL usId = reinterpret_cast<HKL>(static_cast<UINT_PTR>(0x04090409));
        HKL loaded[64];
        int count = GetKeyboardLayoutList(64, loaded);
        bool present = false;
        for (int i = 0; i < count; ++i)
            present = present || loaded[i] == usId;
        m_layout = LoadKeyboardLayoutW(L"00000409", KLF_NOTELLSHELL);
        m_unload = m_layout && !present && m_layout == usId;
    }
    ~CUsLayout()
    {
        if (m_unload)
            UnloadKeyboardLayout(m_layout);
    }
    CUsLayout(const CUsLayout&) = delete;
    CUsLayout& operator=(const CUsLayout&) = delete;
    HKL Get() const { return m_layout; }

private:
    HKL m_layout = nullptr;
    bool m_unload = false;
};

HRESULT ResultFromWin32(DWORD error)
{
    return error ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFF)) : E_FAIL;
}

using AU3OptFn = long(WINAPI*)(const wchar_t* option, long value);
using AU3SendFn = void(WINAPI*)(const wchar_t* text, long mode);

template <class Fn>
Fn LibraryFunction(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void AppendAutoItKey(std::wstring& out, uint32_t entry)
{
    std::wstring name = AutoItKeyName(entry & 0xFF);
    if (name.empty())
        return;
    // Pressed in this order, released in the same order.
    static const struct { UINT bit; const wchar_t* down; const wchar_t* up; } kModifiers[] = {
        {KEYMOD_CTRL, L"{CTRLDOWN}", L"{CTRLUP}"},
        {KEYMOD_ALT, L"{ALTDOWN}", L"{ALTUP}"},
        {KEYMOD_SHIFT, L"{SHIFTDOWN}", L"{SHIFTUP}"},
        {KEYMOD_WIN, L"{LWINDOWN}", L"{LWINUP}"},
    };
    const UINT modifiers = (entry >> 8) & KEYMOD_ALL;
    for (const auto& m : kModifiers)
        if (modifiers & m.bit)
            out += m.down;
    out += name;
    for (const auto& m : kModifiers)
        if (modifiers & m.bit)
            out += m.up;
}

void AppendAutoItChar(std::wstring& out, wchar_t ch)
{
    if (wcschr(L"!#+^{}", ch))
    {
        out += L'{';
        out += ch;
        out += L'}';
    }
    else if ((ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'))
        AppendFormatString(out, L"{ASC 0x%.4X}", static_cast<unsigned>(ch));
    else
        out += ch;
}

// Walks the text up to its first NUL: each U+0001 marker sends the next key-vector entry
// (surplus markers are skipped), every other character goes to typeChar.
template <class TypeChar>
void WalkTypedText(const std::wstring& text, const KeyVector& keys, DWORD pressDelay, DWORD releaseDelay,
                   UINT& modifiers, TypeChar typeChar)
{
    size_t next = 0;
    for (wchar_t ch : text)
    {
        if (ch == 0)
            break;
        if (ch == KEYVEC_CHAR)
        {
            if (next < keys.size())
                SendKeyEntry(keys[next++], pressDelay, releaseDelay, modifiers);
            continue;
        }
        typeChar(ch);
    }
}

}  // namespace

HWND FindTargetWindow(const wchar_t* classMask, const wchar_t* titleMask, const wchar_t* fileMask, HWND start,
                      HWND mainWindow)
{
    if (!start)
        start = GetForegroundWindow();
    if (!start)
        start = GetTopWindow(nullptr);
    HWND window = start;
    for (int i = 0; window && i < kMaxWalk; ++i)
    {
        if (QualifiesAsTarget(window, classMask, titleMask, fileMask, mainWindow))
            return window;
        window = GetWindow(window, GW_HWNDNEXT);
        if (window == start)
            break;
    }
    return nullptr;
}

HRESULT TypeToTargetWindow(const _TRANS_DST_KEYBOARD& settings, HWND mainWindow, const std::wstring& text,
                           const KeyVector& keys, std::wstring& destination)
{
    const HRESULT notFound = settings.filterEnabled ? KV_E_WINDOW_NOT_FOUND : KV_E_NO_INPUT_FIELD;
    HWND foreground = GetForegroundWindow();

    HWND target = nullptr;
    if (settings.filterEnabled)
        target = FindTargetWindow(settings.filterClass.c_str(), settings.filterTitle.c_str(),
                                  settings.filterFile.c_str(), foreground, mainWindow);
    else if (foreground && foreground == mainWindow)
        target = NextVisibleBelow(mainWindow);
    else
        target = foreground;
    if (!target)
        return notFound;

    if (target != foreground || IsIconic(target))
    {
        if (IsIconic(target))
            ShowWindow(target, SW_RESTORE);
        if (!SetForegroundWindow(target))
            return notFound;
        if (settings.afterActivateDelay)
            GetKeyInput().Pause(settings.afterActivateDelay);
    }
    CForegroundReturn giveBack(target != foreground ? foreground : nullptr);

    destination = GetTitle(target);
    try
    {
        switch (settings.method)
        {
        case KEYBOARD_METHOD_US_VKEYS:
            TypeLayoutKeys(text, keys, settings.afterPressDelay, settings.afterReleaseDelay, target);
            return S_OK;
        case KEYBOARD_METHOD_LIBRARY:
            return TypeWithAutoIt(text, keys, settings.afterPressDelay, settings.afterReleaseDelay);
        default:
            TypeUnicodeText(text, keys, settings.afterPressDelay, settings.afterReleaseDelay);
            return S_OK;
        }
    }
    catch (const COSException& e)
    {
        // Input the system refused, or a character no layout can type: the key did not arrive.
        return ResultFromWin32(e.GetCode());
    }
}

void TypeUnicodeText(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                     DWORD releaseDelay)
{
    CTypingScope scope;
    IKeyInput& input = GetKeyInput();
    WalkTypedText(text, keys, pressDelay, releaseDelay, scope.Modifiers(), [&](wchar_t ch) {
        SendKeyWithModifiers(0, 0, 0, 0, scope.Modifiers());
        SendUnicodeEvent(input, ch, false);
        if (pressDelay)
            input.Pause(pressDelay);
        SendUnicodeEvent(input, ch, true);
        if (releaseDelay)
            input.Pause(releaseDelay);
    });
}

void TypeLayoutKeys(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                    DWORD releaseDelay, HWND target)
{
    HKL targetLayout = GetKeyboardLayout(target ? GetWindowThreadProcessId(target, nullptr) : 0);
    CUsLayout us;
    auto findKey = [&](wchar_t ch, SHORT& key) {
        return FindLayoutKey(ch, targetLayout, key) || FindLayoutKey(ch, us.Get(), key);
    };
    // Checked before the first key goes out: half a key number in the target is worse than none.
    for (wchar_t ch : text)
    {
        if (ch == 0)
            break;
        SHORT key = 0;
        if (ch != KEYVEC_CHAR && !findKey(ch, key))
            throw COSException(ERROR_NO_UNICODE_TRANSLATION);
    }
    CTypingScope scope;
    WalkTypedText(text, keys, pressDelay, releaseDelay, scope.Modifiers(), [&](wchar_t ch) {
        SHORT key = 0;
        findKey(ch, key);
        SendKeyWithModifiers(key & 0xFF, ModifiersOfShiftState((key >> 8) & 0xFF), pressDelay, releaseDelay,
                             scope.Modifiers());
    });
}

HRESULT TypeWithAutoIt(const std::wstring& text, const KeyVector& keys, DWORD pressDelay,
                       DWORD releaseDelay)
{
    std::wstring path;
    if (!GetModuleFilePath(path))
        return ResultFromWin32(GetLastError());
    size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash);
    path += L'\\';
    path += kAutoItLibraryName;

    CModule library;
    if (!library.Load(path.c_str()))
        return ResultFromWin32(GetLastError());
    auto send = LibraryFunction<AU3SendFn>(library.Get(), "AU3_Send");
    auto option = LibraryFunction<AU3OptFn>(library.Get(), "AU3_Opt");
    if (!send || !option)
        return KV_E_AUTOIT_LOAD;

    option(L"SendKeyDelay", static_cast<long>(releaseDelay));
    option(L"SendKeyDownDelay", static_cast<long>(pressDelay));

    std::wstring out;
    size_t next = 0;
    for (wchar_t ch : text)
    {
        if (ch == 0)
            break;
        if (ch != KEYVEC_CHAR)
        {
            AppendAutoItChar(out, ch);
            continue;
        }
        if (next >= keys.size())
            continue;
        uint32_t entry = keys[next++];
        if (entry & KEYVEC_PAUSE)
        {
            // What comes before the pause must be on the screen before it.
            if (!out.empty())
                send(out.c_str(), 0);
            out.clear();
            if (DWORD ms = entry & ~KEYVEC_PAUSE)
                GetKeyInput().Pause(ms);
        }
        else
            AppendAutoItKey(out, entry);
    }
    if (!out.empty())
        send(out.c_str(), 0);
    return S_OK;
}

std::wstring AutoItKeyName(UINT vk)
{
    struct Name
    {
        UINT vk;
        const wchar_t* name;
    };
    static const Name names[] = {
        {3, L"{BREAK}"},
        {8, L"{BS}"},
        {9, L"{TAB}"},
        {13, L"{ENTER}"},
        {19, L"{PAUSE}"},
        {20, L"{CAPSLOCK toggle}"},
        {27, L"{ESC}"},
        {32, L"{SPACE}"},
        {33, L"{PGUP}"},
        {34, L"{PGDN}"},
        {35, L"{END}"},
        {36, L"{HOME}"},
        {37, L"{LEFT}"},
        {38, L"{UP}"},
        {39, L"{RIGHT}"},
        {40, L"{DOWN}"},
        {44, L"{PRINTSCREEN}"},
        {45, L"{INS}"},
        {46, L"{DEL}"},
        {91, L"{LWIN}"},
        {92, L"{RWIN}"},
        {93, L"{APPSKEY}"},
        {95, L"{SLEEP}"},
        {106, L"{NUMPADMULT}"},
        {107, L"{NUMPADADD}"},
        {109, L"{NUMPADSUB}"},
        {110, L"{NUMPADDOT}"},
        {111, L"{NUMPADDIV}"},
        {144, L"{NUMLOCK toggle}"},
        {145, L"{SCROLLLOCK toggle}"},
        {166, L"{BROWSER_BACK}"},
        {167, L"{BROWSER_FORWARD}"},
        {168, L"{BROWSER_REFRESH}"},
        {169, L"{BROWSER_STOP}"},
        {170, L"{BROWSER_SEARCH}"},
        {171, L"{BROWSER_FAVORITES}"},
        {172, L"{BROWSER_HOME}"},
        {173, L"{VOLUME_MUTE}"},
        {174, L"{VOLUME_DOWN}"},
        {175, L"{VOLUME_UP}"},
        {176, L"{MEDIA_NEXT}"},
        {177, L"{MEDIA_PREV}"},
        {178, L"{MEDIA_STOP}"},
        {179, L"{MEDIA_PLAY_PAUSE}"},
        {180, L"{LAUNCH_MAIL}"},
        {181, L"{LAUNCH_MEDIA}"},
    };
    std::wstring out;
    if (vk >= '0' && vk <= '9')
        out.assign(1, static_cast<wchar_t>(vk));
    else if (vk >= 'A' && vk <= 'Z')
        FormatString(out, L"{%c}", static_cast<wchar_t>(vk - 'A' + 'a'));
    else if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        FormatString(out, L"{NUMPAD%d}", static_cast<int>(vk - VK_NUMPAD0));
    else if (vk >= VK_F1 && vk <= VK_F12)
        FormatString(out, L"{F%d}", static_cast<int>(vk - VK_F1 + 1));
    else if (vk == VK_LAUNCH_APP1 || vk == VK_LAUNCH_APP2)
        FormatString(out, L"{LAUNCH_APP%d}", static_cast<int>(vk - VK_LAUNCH_APP1 + 1));
    else
    {
        for (const Name& n : names)
        {
            if (n.vk == vk)
            {
                out = n.name;
                break;
            }
        }
    }
    return out;
}
