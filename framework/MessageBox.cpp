#include "framework/MessageBox.h"
#include <commdlg.h>
#include <shlobj.h>
#include <algorithm>
#include <cwchar>
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

namespace {

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

TaskDialogIndirectFn FindTaskDialogIndirect()
{
    // Only the common controls 6 (selected by the manifest) have it; 345 is its ordinal.
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    if (!comctl)
        comctl = LoadLibraryW(L"comctl32.dll");
    if (!comctl)
        return nullptr;
    auto fn = reinterpret_cast<TaskDialogIndirectFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, MAKEINTRESOURCEA(345))));
    if (!fn)
        fn = reinterpret_cast<TaskDialogIndirectFn>(
            reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")));
    return fn;
}

std::vector<int> ButtonIds(UINT style)
{
    switch (style & 0xF) {
    case 0: return {IDOK};
    case 1: return {IDOK, IDCANCEL};
    case 3: return {IDYES, IDNO, IDCANCEL};
    case 4: return {IDYES, IDNO};
    case 5: return {IDRETRY, IDCANCEL};
    default: return {}; // the task dialog shows its own OK
    }
}

int CALLBACK BrowseForFolderCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        const auto* path = reinterpret_cast<const wchar_t*>(data);
        if (path && *path)
            SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path));
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH];
        if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

} // namespace

CMessageBoxConfig::CMessageBoxConfig(const std::wstring& text, UINT style, HWND owner, const bool* dontAsk)
    : config{}, m_text(text)
{
    config.cbSize = sizeof(config);
    config.hInstance = GetResourceModule();
    config.hwndParent = owner ? owner : (GetApp() ? GetApp()->GetMainWindowHandle() : nullptr);
    config.dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW;
    LoadResString(IDS_APP_NAME, m_title);
    config.pszWindowTitle = m_title.c_str();
    config.pszContent = m_text.c_str();

    // Texts are loaded here (resource module, then the program) so a language library that
    // lacks one still gives a labelled button.
    const std::vector<int> ids = ButtonIds(style);
    m_buttonTexts.resize(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        LoadResString(IDS_BUTTON_BASE + ids[i], m_buttonTexts[i]);
        buttons.push_back(TASKDIALOG_BUTTON{ids[i], m_buttonTexts[i].c_str()});
    }
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.empty() ? nullptr : buttons.data();
    const UINT defaultIndex = (style >> 8) & 0xF;
    if (defaultIndex != 0 && defaultIndex < buttons.size())
        config.nDefaultButton = buttons[defaultIndex].nButtonID;

    switch (style & 0xF0) {
    case 0x10: config.pszMainIcon = TD_ERROR_ICON; break;
    case 0x20:
        config.hMainIcon = static_cast<HICON>(LoadImageW(nullptr, IDI_QUESTION, IMAGE_ICON, 32, 32, LR_SHARED));
        config.dwFlags |= TDF_USE_HICON_MAIN;
        break;
    case 0x30: config.pszMainIcon = TD_WARNING_ICON; break;
    case 0x40: config.pszMainIcon = TD_INFORMATION_ICON; break;
    case 0x80: config.pszMainIcon = TD_SHIELD_ICON; break;
    default: break;
    }

    if (dontAsk) {
        LoadResString(IDS_DONT_ASK, m_checkText);
        config.pszVerificationText = m_checkText.c_str();
        if (*dontAsk)
            config.dwFlags |= TDF_VERIFICATION_FLAG_CHECKED;
    }
}

int ShowMessage(const std::wstring& text, UINT style, HWND owner, bool* dontAsk)
{
    CMessageBoxConfig box(text, style, owner, dontAsk);
    int button = 0;
    BOOL checked = FALSE;
    HRESULT hr = E_NOINTERFACE;
    if (TaskDialogIndirectFn taskDialog = FindTaskDialogIndirect())
        hr = taskDialog(&box.config, &button, nullptr, &checked);
    if (FAILED(hr)) {
        // The question must still be asked: the system box knows the same style bits, only the
        // shield and the "Do not ask" box are lost.
        return MessageBoxW(box.config.hwndParent, text.c_str(), box.config.pszWindowTitle, style & 0xF7F);
    }
    if (dontAsk)
        *dontAsk = checked != FALSE;
    return button;
}

int ShowMessageId(UINT stringId, UINT style, HWND owner, bool* dontAsk)
{
    std::wstring text;
    LoadResString(stringId, text);
    return ShowMessage(text, style, owner, dontAsk);
}

std::vector<wchar_t> BuildFileNameBuffer(const std::vector<std::wstring>& names)
{
    size_t needed = 1;
    for (const std::wstring& name : names)
        needed += name.size() + 1;
    // A long initial name grows the buffer instead of running past it.
    std::vector<wchar_t> buffer(std::max<size_t>(needed, 4096), L'\0');
    size_t at = 0;
    for (const std::wstring& name : names) {
        std::copy(name.begin(), name.end(), buffer.begin() + static_cast<ptrdiff_t>(at));
        at += name.size() + 1;
    }
    return buffer;
}

bool ShowFileDialog(std::vector<std::wstring>& names, int* filterIndex, bool save, UINT filterId, HWND owner,
                    DWORD flags)
{
    std::wstring filter;
    LoadResString(filterId, filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter.push_back(L'\0'); // with the string's own terminator: the double NUL at the end

    std::vector<wchar_t> buffer = BuildFileNameBuffer(names);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.hInstance = GetProgramModule();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = filterIndex ? static_cast<DWORD>(*filterIndex) : 0;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.Flags = flags;
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen)
        return false;
    names.assign(1, std::wstring(buffer.data()));
    if (filterIndex)
        *filterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}

bool BrowseForFolder(HWND owner, wchar_t* path)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (init != S_OK && init != S_FALSE)
        return false;
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW bi{};
    bi.hwndOwner = owner;
    bi.pszDisplayName = displayName;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = &BrowseForFolderCallback;
    bi.lParam = reinterpret_cast<LPARAM>(path);
    bool chosen = false;
    if (PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&bi)) {
        wchar_t folder[MAX_PATH];
        if (SHGetPathFromIDListW(item, folder)) {
            wcscpy(path, folder);
            chosen = true;
        }
        IMalloc* shellMalloc = nullptr;
        if (SUCCEEDED(CoGetMalloc(1, &shellMalloc))) {
            shellMalloc->Free(item);
            shellMalloc->Release();
        }
    }
    CoUninitialize();
    return chosen;
}
