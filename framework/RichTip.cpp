#include "framework/RichTip.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "core/Exceptions.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"

namespace {

const wchar_t kRichTipClass[] = L"RichTip";
constexpr DWORD kRichEditStyle = 0x5022084C;
// A page holds a handful of tags; the bound keeps a page that names itself from running on.
constexpr int kMaxTagsPerPass = 128;
constexpr size_t kMaxFaceLength = LF_FACESIZE - 1;

const IID kIidRichEditOleCallback = {0x00020D03, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool ParseNumber(const std::wstring& text, int base, long long& out)
{
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = wcstoll(text.c_str(), &end, base);
    if (end == text.c_str() || *end != L'\0' || errno == ERANGE)
        return false;
    out = value;
    return true;
}

class CBitmapHandle
{
public:
    explicit CBitmapHandle(HBITMAP bitmap) : m_bitmap(bitmap) {}
    ~CBitmapHandle()
    {
        if (m_bitmap)
            DeleteObject(m_bitmap);
    }
    CBitmapHandle(const CBitmapHandle&) = delete;
    CBitmapHandle& operator=(const CBitmapHandle&) = delete;

private:
    HBITMAP m_bitmap;
};

} // namespace

struct CRichTip::Tag
{
    std::wstring name;
    std::map<std::wstring, std::wstring> attributes;

    const std::wstring* Find(const wchar_t* key) const
    {
        auto it = attributes.find(key);
        return it == attributes.end() ? nullptr : &it->second;
    }

    // name, then pairs of name=value; a value in double quotes or up to the next blank.
    static Tag Parse(const std::wstring& text)
    {
        Tag tag;
        size_t i = 0;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        tag.name = Lower(text.substr(0, i));
        while (i < text.size()) {
            while (i < text.size() && IsBlank(text[i]))
                ++i;
            const size_t nameStart = i;
            while (i < text.size() && text[i] != L'=' && !IsBlank(text[i]))
                ++i;
            std::wstring key = Lower(text.substr(nameStart, i - nameStart));
            std::wstring value;
            if (i < text.size() && text[i] == L'=') {
                ++i;
                if (i < text.size() && text[i] == L'"') {
                    const size_t close = text.find(L'"', i + 1);
                    const size_t stop = close == std::wstring::npos ? text.size() : close;
                    value = text.substr(i + 1, stop - i - 1);
                    i = stop == text.size() ? stop : stop + 1;
                } else {
                    const size_t valueStart = i;
                    while (i < text.size() && !IsBlank(text[i]))
                        ++i;
                    value = text.substr(valueStart, i - valueStart);
                }
            }
            if (!key.empty())
                tag.attributes[key] = std::move(value);
        }
        return tag;
    }
};

int CRichTip::s_liveWindows = 0;
bool CRichTip::s_registered = false;

// ---- the inner control ----

LRESULT CRichTip::CTipRichEditCtrl::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEACTIVATE)
        return MA_ACTIVATE;
    return CRichEditCtrl::HandleMessage(hwnd, message, wParam, lParam);
}

// ---- window ----

CRichTip::~CRichTip()
{
    Destroy();
    if (s_liveWindows == 0 && s_registered)
        UnregisterWindowClass();
    if (m_storage) {
        m_storage->Release();
        m_storage = nullptr;
    }
}

bool CRichTip::RegisterWindowClass()
{
    if (s_registered)
        return true;
    s_registered = RegisterWndClass(kRichTipClass, CS_DROPSHADOW, LoadCursorW(nullptr, IDC_ARROW), nullptr,
                                    nullptr, nullptr) != 0;
    return s_registered;
}

void CRichTip::UnregisterWindowClass()
{
    if (s_registered && UnregisterClassW(kRichTipClass, GetProgramModule()))
        s_registered = false;
}

bool CRichTip::CreateTip(HWND owner)
{
    return Create(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kRichTipClass, nullptr,
                  WS_POPUP | WS_CLIPCHILDREN | WS_BORDER, 0, 0, m_contentWidth, kCreatedHeight, owner, nullptr);
}

LRESULT CRichTip::OnCreate()
{
    ++s_liveWindows;
    m_counted = true;
    SetContentWidth(m_contentWidth);
    return 0;
}

// The rich edit and its library come with the first page the tip is to hold: most sessions
// never show a tip, and the library costs the program's start-up a load of three DLLs.
void CRichTip::EnsureRichEdit()
{
    if (m_richEdit.m_hWnd || !m_hWnd)
        return;
    CWinApp* app = GetApp();
    if (app && !app->m_hRichEdit) {
        app->m_hRichEdit = LoadLibraryW(L"Msftedit.dll");
        if (!app->m_hRichEdit)
            ThrowOSError(GetLastError());
    }
    RECT client{};
    GetClientRect(m_hWnd, &client);
    if (!m_richEdit.Create(0, L"RICHEDIT50W", nullptr, kRichEditStyle, 0, 0, client.right, client.bottom, m_hWnd,
                           nullptr))
        ThrowOSError(GetLastError());
    m_richEdit.toolId = m_toolId;
    ApplyBackground();
    // Without a font of its own the control starts from the bold system font, which a page's
    // text would then inherit.
    SendMessageW(m_richEdit.m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    SendMessageW(m_richEdit.m_hWnd, EM_SETEVENTMASK, 0, ENM_LINK | ENM_REQUESTRESIZE);
    SendMessageW(m_richEdit.m_hWnd, EM_SETOLECALLBACK, 0,
                 reinterpret_cast<LPARAM>(static_cast<IRichEditOleCallback*>(this)));
}

CRichTip::CTipRichEditCtrl& CRichTip::GetRichEdit()
{
    EnsureRichEdit();
    return m_richEdit;
}

void CRichTip::ApplyBackground()
{
    if (m_richEdit.m_hWnd)
        SendMessageW(m_richEdit.m_hWnd, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_INFOBK));
}

void CRichTip::SetContentWidth(int width)
{
    m_contentWidth = width;
    if (!m_hWnd)
        return;
    RECT window, client;
    GetWindowRect(m_hWnd, &window);
    GetClientRect(m_hWnd, &client);
    const int frame = (window.right - window.left) - client.right;
    SetWindowPos(m_hWnd, nullptr, 0, 0, width + frame, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CRichTip::SetAvoidRect(int top, int bottom)
{
    m_avoidSet = true;
    m_avoidTop = top;
    m_avoidBottom = bottom;
}

LRESULT CRichTip::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_SIZE:
        if (m_richEdit.m_hWnd)
            MoveWindow(m_richEdit.m_hWnd, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SYSCOLORCHANGE:
        ApplyBackground();
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_TIMER:
        if (wParam == kRichTipTimer) {
            OnTimer();
            return 0;
        }
        return DefaultProc();
    case WM_DESTROY:
        StopTimer();
        m_pending = false;
        m_shown = false;
        m_owner = nullptr;
        m_richEdit.Destroy();
        return DefaultProc();
    case WM_NCDESTROY:
        if (m_counted) {
            --s_liveWindows;
            m_counted = false;
        }
        return DefaultProc();
    default:
        return CWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
}

bool CRichTip::OnNotify(int, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom != m_richEdit.m_hWnd)
        return CWnd::OnNotify(0, nmh, result);
    switch (nmh->code) {
    case EN_REQUESTRESIZE:
        Place(reinterpret_cast<REQRESIZE*>(nmh)->rc);
        *result = 0;
        return true;
    case EN_LINK: {
        const auto* link = reinterpret_cast<ENLINK*>(nmh);
        // Only the press reaches the owner; the rich edit gets the owner's answer.
        *result = link->msg == WM_LBUTTONDOWN ? NotifyOwner(RTN_LINKCLICK, link->chrg.cpMin) : 0;
        return true;
    }
    default:
        return false;
    }
}

LRESULT CRichTip::NotifyOwner(UINT code, LONG position)
{
    if (!m_owner)
        return 0;
    NMRICHTIP notify{};
    notify.hdr.hwndFrom = m_hWnd;
    notify.hdr.idFrom = m_toolId;
    notify.hdr.code = code;
    notify.position = position;
    return SendMessageW(m_owner, WM_NOTIFY, m_toolId, reinterpret_cast<LPARAM>(&notify));
}

void CRichTip::StartTimer(UINT ms)
{
    SetTimer(m_hWnd, kRichTipTimer, ms, nullptr);
    m_timerFlags |= 2;
}

void CRichTip::StopTimer()
{
    if (m_timerFlags & 2)
        KillTimer(m_hWnd, kRichTipTimer);
    m_timerFlags &= ~2u;
}

// ---- requests ----

void CRichTip::RequestShow(HWND owner, UINT_PTR toolId)
{
    const bool same = owner == m_owner && toolId == m_toolId;
    if (same && m_pending)
        return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (same && cursor.x == m_dismissal.x && cursor.y == m_dismissal.y)
        return;
    if (!same)
        m_dismissal = POINT{-1, -1};
    m_owner = owner;
    m_toolId = toolId;
    m_richEdit.toolId = toolId;
    m_pending = true;
    if (m_shown) {
        if (NotifyOwner(RTN_SHOWING))
            ShowNoActivate();
        return;
    }
    if (!(m_timerFlags & 2))
        StartTimer(GetDoubleClickTime());
}

void CRichTip::RequestHide(HWND owner, UINT_PTR toolId, bool atOnce)
{
    if (owner != m_owner || (toolId != 0 && toolId != m_toolId))
        return;
    if (atOnce) {
        StopTimer();
        HideNow();
        return;
    }
    if (m_shown) {
        StartTimer(std::max(1u, GetDoubleClickTime() / 5));
    } else {
        StopTimer();
        m_pending = false;
    }
}

void CRichTip::OnTimer()
{
    if (m_shown) {
        POINT cursor{};
        GetCursorPos(&cursor);
        HWND under = WindowFromPoint(cursor);
        if ((under ? GetAncestor(under, GA_ROOT) : nullptr) != m_hWnd) {
            StopTimer();
            HideNow();
        }
        return;
    }
    StopTimer();
    if (!m_pending)
        return;
    if (NotifyOwner(RTN_SHOWING))
        ShowNoActivate();
    else
        m_pending = false;
}

void CRichTip::ShowNoActivate()
{
    EnsureRichEdit();
    SendMessageW(m_richEdit.m_hWnd, EM_REQUESTRESIZE, 0, 0);
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    m_shown = true;
}

void CRichTip::HideNow()
{
    m_pending = false;
    if (!m_shown)
        return;
    m_shown = false;
    NotifyOwner(RTN_HIDDEN);
    ShowWindow(m_hWnd, SW_HIDE);
    ClearContent();
}

bool CRichTip::PreTranslate(MSG* msg)
{
    const bool press = msg->message == WM_LBUTTONDOWN || msg->message == WM_NCLBUTTONDOWN;
    const bool escape = msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE;
    if (!press && !escape)
        return false;
    if (msg->hwnd == m_hWnd || msg->hwnd == m_richEdit.m_hWnd || msg->hwnd == GetCapture())
        return false;
    GetCursorPos(&m_dismissal);
    const bool wasShown = m_shown;
    StopTimer();
    HideNow();
    return escape && wasShown;
}

// ---- placement ----

void CRichTip::Place(const RECT& requested)
{
    RECT window, client;
    GetWindowRect(m_hWnd, &window);
    GetClientRect(m_hWnd, &client);
    int width = m_contentWidth + (window.right - window.left) - client.right;
    int height = (requested.bottom - requested.top) + (window.bottom - window.top) - client.bottom;

    HWND main = GetApp() ? GetApp()->GetMainWindowHandle() : nullptr;
    MONITORINFO mi{sizeof(mi)};
    GetMonitorInfoW(MonitorFromWindow(main ? main : m_owner, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT& monitor = mi.rcMonitor;
    width = std::min<int>(width, (monitor.right - monitor.left) * 2 / 3);
    height = std::min<int>(height, (monitor.bottom - monitor.top) * 2 / 3);

    POINT cursor{};
    GetCursorPos(&cursor);
    const int avoidTop = m_avoidSet ? m_avoidTop : cursor.y;
    const int avoidBottom = m_avoidSet ? m_avoidBottom : cursor.y;
    int x = std::max<int>(std::min<int>(cursor.x, monitor.right - width), monitor.left);
    int y;
    if (monitor.bottom - avoidBottom < height && avoidTop - monitor.top >= height) {
        y = std::max<int>(avoidTop - height, monitor.top);
    } else {
        CURSORINFO ci{sizeof(ci)};
        const int visible = GetCursorInfo(&ci) ? GetCursorVisibleHeight(ci.hCursor) : 0;
        y = std::max<int>(cursor.y + visible, avoidBottom);
        y = std::min<int>(y, monitor.bottom - height);
    }
    SetWindowPos(m_hWnd, nullptr, x, y, width, height, SWP_NOACTIVATE | SWP_NOZORDER);
}

// ---- content ----

bool CRichTip::LoadContent(UINT resourceId)
{
    LPCWSTR name = MAKEINTRESOURCEW(resourceId);
    HMODULE module = FindResourceModule(name, RT_RCDATA);
    HRSRC resource = FindResourceW(module, name, RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    // The rich edit reads up to a terminating zero, which a resource does not bring.
    const std::string bytes(static_cast<const char*>(data), SizeofResource(module, resource));
    m_links.clear();
    EnsureRichEdit();
    m_richEdit.SetTextEx(bytes.c_str(), CP_ACP, ST_DEFAULT);
    RenderMarkup();
    return true;
}

void CRichTip::SetVariable(const std::wstring& name, const std::wstring& text, int32_t value)
{
    m_variables[name] = Variable{text, value};
}

void CRichTip::ClearContent()
{
    m_variables.clear();
    m_links.clear();
    if (m_richEdit.m_hWnd)
        m_richEdit.SetTextEx(L"", 1200, ST_DEFAULT);
}

void CRichTip::RenderMarkup()
{
    EnsureRichEdit();
    ApplyMarkup();
    m_richEdit.SetSel(0, 0);
}

void CRichTip::DeleteRange(LONG start, LONG end)
{
    m_richEdit.SetSel(start, end);
    m_richEdit.SetTextEx(L"", 1200, ST_SELECTION);
}

// Returns the length of the inserted text as the rich edit counts it (a line break is one).
LONG CRichTip::InsertPlain(LONG start, LONG end, const std::wstring& text)
{
    const LONG before = m_richEdit.GetTextLength();
    m_richEdit.SetSel(start, end);
    m_richEdit.ReplaceSelPlain(text);
    return m_richEdit.GetTextLength() - before + (end - start);
}

void CRichTip::ApplyMarkup()
{
    LONG from = 0;
    for (int count = 0; count < kMaxTagsPerPass; ++count) {
        const LONG open = m_richEdit.FindText(L"<", from);
        if (open < 0)
            return;
        const LONG close = m_richEdit.FindText(L">", open);
        if (close < 0)
            return; // an unclosed "<" ends the pass
        std::wstring text = m_richEdit.GetTextRange(open + 1, close);
        if (!text.empty() && text[0] == L'/') {
            DeleteRange(open, close + 1);
            from = open;
            continue;
        }
        const bool single = !text.empty() && text.back() == L'/';
        if (single)
            text.pop_back();
        const Tag tag = Tag::Parse(text);
        const LONG tagLength = close + 1 - open;
        LONG end = open;
        if (!single) {
            const std::wstring closing = L"</" + tag.name + L">";
            const LONG found = m_richEdit.FindText(closing.c_str(), close + 1);
            if (found < 0)
                return; // a tag without its closing tag ends the pass
            DeleteRange(found, found + static_cast<LONG>(closing.size()));
            end = found - tagLength;
        }
        DeleteRange(open, close + 1);
        from = ApplyTag(tag, open, end);
    }
}

LONG CRichTip::ApplyTag(const Tag& tag, LONG start, LONG end)
{
    if (tag.name == L"arg") {
        const std::wstring* name = tag.Find(L"name");
        auto it = name ? m_variables.find(*name) : m_variables.end();
        if (it == m_variables.end()) {
            DeleteRange(start, end);
            return start;
        }
        // The inserted text is not searched again: a value cannot expand into itself.
        if (it->second.value == 0)
            return start + InsertPlain(start, start, it->second.text);
        return start + InsertPlain(start, end, it->second.text);
    }
    CHARFORMAT2W format{};
    if (tag.name == L"a") {
        if (const std::wstring* href = tag.Find(L"href"))
            m_links[start] = *href;
        format.dwMask = CFM_LINK | CFM_COLOR | CFM_BACKCOLOR;
        format.dwEffects = CFE_LINK | CFE_AUTOCOLOR | CFE_AUTOBACKCOLOR;
    } else if (tag.name == L"font") {
        long long number;
        if (const std::wstring* effects = tag.Find(L"effects"); effects && ParseNumber(*effects, 16, number)) {
            format.dwEffects = static_cast<DWORD>(number);
            format.dwMask |= CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_PROTECTED | CFM_LINK | CFM_COLOR;
        }
        if (const std::wstring* color = tag.Find(L"color"); color && ParseNumber(*color, 16, number)) {
            format.crTextColor = static_cast<COLORREF>(number);
            format.dwEffects &= ~static_cast<DWORD>(CFE_AUTOCOLOR);
            format.dwMask |= CFM_COLOR;
        }
        if (const std::wstring* face = tag.Find(L"face")) {
            const size_t n = std::min(face->size(), kMaxFaceLength);
            std::copy_n(face->data(), n, format.szFaceName);
            format.szFaceName[n] = L'\0';
            format.dwMask |= CFM_FACE;
        }
        if (const std::wstring* size = tag.Find(L"size"); size && ParseNumber(*size, 10, number) && number > 0 &&
                                                          number <= 1638) {
            format.yHeight = static_cast<LONG>(number * 20);
            format.dwMask |= CFM_SIZE;
        }
    } else if (tag.name == L"para") {
        long long points;
        if (const std::wstring* after = tag.Find(L"spaceafter"); after && ParseNumber(*after, 10, points) &&
                                                                 points > 0 && points <= 1638) {
            PARAFORMAT2 para{};
            para.dwMask = PFM_SPACEAFTER;
            para.dySpaceAfter = static_cast<LONG>(points * 20);
            m_richEdit.SetSel(start, end);
            m_richEdit.SetSelectionParaFormat(para);
        }
        return start;
    }
    if (format.dwMask) {
        m_richEdit.SetSel(start, end);
        m_richEdit.SetSelectionCharFormat(format);
    }
    return start;
}

// ---- IRichEditOleCallback ----

STDMETHODIMP CRichTip::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIidRichEditOleCallback)) {
        *object = static_cast<IRichEditOleCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CRichTip::AddRef()
{
    return ++m_refCount;
}

// The object's life is its owner's; the count only mirrors the rich edit's references.
STDMETHODIMP_(ULONG) CRichTip::Release()
{
    return --m_refCount;
}

STDMETHODIMP CRichTip::GetNewStorage(LPSTORAGE* storage)
{
    if (!storage)
        return E_INVALIDARG;
    *storage = nullptr;
    try {
        if (!m_storage) {
            const HRESULT hr = StgCreateDocfile(nullptr,
                                                STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_DELETEONRELEASE,
                                                0, &m_storage);
            if (FAILED(hr))
                return hr;
        }
        wchar_t name[32];
        swprintf(name, 32, L"REOBJ%ld", ++m_objectNumber);
        return m_storage->CreateStorage(name, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, storage);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CRichTip::GetInPlaceContext(LPOLEINPLACEFRAME* frame, LPOLEINPLACEUIWINDOW* doc, LPOLEINPLACEFRAMEINFO)
{
    if (frame)
        *frame = nullptr;
    if (doc)
        *doc = nullptr;
    return S_OK;
}

STDMETHODIMP CRichTip::ShowContainerUI(BOOL)
{
    return S_OK;
}

STDMETHODIMP CRichTip::QueryInsertObject(LPCLSID, LPSTORAGE, LONG)
{
    return S_OK;
}

STDMETHODIMP CRichTip::DeleteObject(LPOLEOBJECT)
{
    return S_OK;
}

STDMETHODIMP CRichTip::QueryAcceptData(LPDATAOBJECT, CLIPFORMAT*, DWORD, BOOL, HGLOBAL)
{
    return S_OK;
}

STDMETHODIMP CRichTip::ContextSensitiveHelp(BOOL)
{
    return S_OK;
}

// Success without a data object would hand the rich edit a null pointer to copy from; "not
// implemented" lets it copy the selection itself.
STDMETHODIMP CRichTip::GetClipboardData(CHARRANGE*, DWORD, LPDATAOBJECT* data)
{
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CRichTip::GetDragDropEffect(BOOL, DWORD, LPDWORD)
{
    return S_OK;
}

STDMETHODIMP CRichTip::GetContextMenu(WORD, LPOLEOBJECT, CHARRANGE*, HMENU* menu)
{
    if (menu)
        *menu = nullptr;
    return S_OK;
}

// ---- cursor ----

int GetCursorVisibleHeight(HCURSOR cursor)
{
    ICONINFO info{};
    if (!cursor || !GetIconInfo(cursor, &info))
        return 0;
    CBitmapHandle mask(info.hbmMask), color(info.hbmColor);
    BITMAP bm{};
    if (!info.hbmMask || !GetObjectW(info.hbmMask, sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return 0;
    const bool monochrome = info.hbmColor == nullptr;
    const int height = monochrome ? bm.bmHeight / 2 : bm.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (static_cast<size_t>(bm.bmWidth) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> bits(stride * static_cast<size_t>(bm.bmHeight));
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, info.hbmMask, 0, static_cast<UINT>(bm.bmHeight), bits.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != bm.bmHeight)
        return 0;
    auto pixel = [&](int x, int y) {
        const BYTE* p = bits.data() + stride * static_cast<size_t>(y) + static_cast<size_t>(x) * 3;
        return p[0] | p[1] | p[2];
    };
    int lowest = -1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < bm.bmWidth; ++x)
            // Drawn where the AND mask is black; a monochrome cursor also where its XOR half inverts.
            if (pixel(x, y) == 0 || (monochrome && pixel(x, y + height) != 0)) {
                lowest = y;
                break;
            }
    return lowest < 0 ? 0 : std::max(0, lowest + 1 - static_cast<int>(info.yHotspot));
}
