#include "pages/options/SoundPage.h"

#include <windowsx.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>

#include "config/AppSettings.h"
#include "core/File.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/PageTable.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kEditTimer = 1;
constexpr UINT kEditDelay = 500;
// Posted to the page itself; the number is the reader's post to the main window, which never
// reaches a page.
constexpr UINT WM_COMMIT_EDIT = WM_READER_NOTIFY;

const std::vector<int> kColumnTitles = {IDS_SOUNDS_COL_EVENT, IDS_SOUNDS_COL_FILE, IDS_SOUNDS_COL_PLAY,
                                        IDS_SOUNDS_COL_GO, IDS_SOUNDS_COL_BROWSE};

// The event names, loaded with the first page and shared by all.
std::vector<std::wstring>& EventNames()
{
    static std::vector<std::wstring> names;
    return names;
}

void LoadEventNames()
{
    std::vector<std::wstring>& names = EventNames();
    if (!names.empty())
        return;
    for (int i = 0; i < kSoundEventCount; ++i) {
        std::wstring name;
        if (LoadResString(IDS_SOUND_EVENT_TRANSMITTED + i, name) <= 0)
            name = L"?";
        names.push_back(name);
    }
}

std::wstring ExpandedPath(const std::wstring& path)
{
    std::wstring out;
    if (!ExpandEnvStrings(path.c_str(), out) || out.size() >= MAX_PATH)
        return path;
    return out;
}

bool IsSoundFileName(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    std::wstring extension = name.substr(dot);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towlower(c));
    return extension == L".wav" || extension == L".mid" || extension == L".mp3";
}

void FindSounds(const std::wstring& folder, std::vector<std::wstring>& paths)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            FindSounds(folder + L"\\" + name, paths);
        else if (IsSoundFileName(name))
            paths.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

// ---- Rows ----

int CSoundsLvData::GetItemCount()
{
    return kSoundEventCount;
}

void CSoundsLvData::GetDispInfo(LVITEMW* item)
{
    const int row = item->iItem;
    if (row < 0 || row >= kSoundEventCount)
        return;
    const bool hasFile = !m_settings.GetSoundFile(row).empty();
    if (item->mask & LVIF_TEXT) {
        m_text.clear();
        if (item->iSubItem == SOUNDCOL_EVENT && row < static_cast<int>(EventNames().size()))
            m_text = EventNames()[row];
        else if (item->iSubItem == SOUNDCOL_FILE)
            m_text = m_settings.GetSoundFile(row);
        item->pszText = const_cast<wchar_t*>(m_text.c_str());
    }
    if (item->mask & LVIF_IMAGE) {
        item->iImage = -1;
        switch (item->iSubItem) {
        case SOUNDCOL_PLAY:
            if (hasFile)
                item->iImage = m_host.GetPlayingSound() == row ? SOUNDIMG_STOP : SOUNDIMG_PLAY;
            break;
        case SOUNDCOL_GO:
            if (hasFile)
                item->iImage = SOUNDIMG_GO;
            break;
        case SOUNDCOL_BROWSE:
            item->iImage = SOUNDIMG_BROWSE;
            break;
        default:
            break;
        }
    }
}

std::vector<std::wstring> ListMediaSounds(const std::wstring& folder)
{
    std::vector<std::wstring> paths;
    FindSounds(folder, paths);
    std::sort(paths.begin(), paths.end());
    for (std::wstring& path : paths) {
        SHFILEINFOW info{};
        std::wstring display;
        if (SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME))
            display = info.szDisplayName;
        path += kSoundEntrySeparator + display;
    }
    return paths;
}

std::wstring SoundEntryPath(const std::wstring& text)
{
    const size_t cut = text.find(kSoundEntrySeparator);
    return cut == std::wstring::npos ? text : text.substr(0, cut);
}

// ---- The combo's edit ----

LRESULT CSoundComboEdit::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DefaultProc();
    case WM_KEYDOWN:
        if (page && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
            page->EndEdit(wParam == VK_RETURN);
            return 0;
        }
        return DefaultProc();
    case WM_CHAR:
        // The dialog manager's beep for the keys taken above.
        if (wParam == L'\r' || wParam == 0x1B)
            return 0;
        return DefaultProc();
    default:
        return CSubclassedWnd::HandleMessage(hwnd, message, wParam, lParam);
    }
}

// ---- Page ----

std::unique_ptr<CBasePage> CreateSoundPage(IPageHost& host)
{
    return std::make_unique<CSoundPage>(host);
}

CSoundPage::CSoundPage(IPageHost& host) : CBasePage(IDD_SOUNDS_PAGE, &host)
{
    LoadEventNames();
    m_comboEdit.page = this;
    m_rowList = &m_list;
}

CSoundPage::~CSoundPage() = default;

CAppSettings& CSoundPage::Settings()
{
    return m_host->GetSettings();
}

bool CSoundPage::OnInitDialog()
{
    m_data = std::make_unique<CSoundsLvData>(Settings(), *m_host);
    m_list.Attach(Item(IDC_SOUNDS_LIST));
    m_list.SetSettings(&m_host->GetTableSettings());
    m_list.SetData(m_data.get());
    m_list.events.activate = [this](int row, POINT) { OnActivate(row); };
    m_list.events.keyDown = [this](WORD key, unsigned modifiers) {
        if (!m_data || (modifiers & (LIST_KEY_CTRL | LIST_KEY_ALT)))
            return false;
        if (key == VK_DELETE)
            ClearSelected();
        else if (key == VK_INSERT && !(modifiers & LIST_KEY_SHIFT))
            Browse(FirstSelected());
        else
            return false;
        return true;
    };
    m_list.tableEvents.columnsChanged = [this](int, int) { *Settings().EditColumns(COLS_SOUNDS) = m_list.GetColumns(); };
    AnswerTableDefaults(m_list, COLS_SOUNDS);
    ListView_SetExtendedListViewStyle(m_list.m_hWnd, LVS_EX_LABELTIP | LVS_EX_FULLROWSELECT |
                                                          LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES);
    ListView_SetImageList(m_list.m_hWnd, m_host->GetImageList(HostImages::Small), LVSIL_SMALL);
    ExchangeData(false);
    Observe(Settings());
    return true;
}

void CSoundPage::OnSize(UINT, int width, int height)
{
    RECT rc;
    GetWindowRect(m_list.m_hWnd, &rc);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    SetWindowPos(m_list.m_hWnd, nullptr, 0, 0, std::max(0, width - static_cast<int>(rc.left) - 10),
                 std::max(0, height - static_cast<int>(rc.top) - 10),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_editing)
        StartEdit();
}

void CSoundPage::OnActivate(int row)
{
    if (m_timer) {
        KillTimer(m_hWnd, kEditTimer);
        m_timer = false;
    }
    if (row >= 0)
        Browse(row);
}

LRESULT CSoundPage::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kEditTimer) {
            KillTimer(hwnd, kEditTimer);
            m_timer = false;
            if (!m_editing)
                StartEdit();
            return 0;
        }
        return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
    case WM_COMMIT_EDIT:
        EndEdit(true);
        return 0;
    default:
        return CBasePage::HandleMessage(hwnd, message, wParam, lParam);
    }
}

void CSoundPage::OnDestroy()
{
    if (m_timer)
        KillTimer(m_hWnd, kEditTimer);
    m_timer = false;
}

void CSoundPage::ExchangeData(bool save)
{
    if (save || !m_hWnd)
        return;
    UpdatingScope updating(m_hWnd);
    CAppSettings& settings = Settings();
    CheckItem(IDC_SOUNDS_ENABLED, settings.IsSoundsEnabled());
    m_list.ApplyLook(TABLE_LOOK_NOSORT | TABLE_LOOK_GRID);
    RefreshRows(true);
    EnableWindow(m_list.m_hWnd, settings.IsSoundsEnabled());
}

void CSoundPage::RefreshRows(bool columns)
{
    if (columns) {
        m_list.SetColumns(Settings().Columns(COLS_SOUNDS), kColumnTitles);
        m_list.ApplyColumns();
    }
    ListView_SetItemCountEx(m_list.m_hWnd, kSoundEventCount, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
}

int CSoundPage::FirstSelected() const
{
    return ListView_GetNextItem(m_list.m_hWnd, -1, LVNI_SELECTED);
}

void CSoundPage::OnCellClick(int row, int column, bool ofClick)
{
    const bool sameCell = row == m_row && column == m_column;
    if (!sameCell) {
        if (m_editing)
            EndEdit(true);
        if (m_timer) {
            KillTimer(m_hWnd, kEditTimer);
            m_timer = false;
        }
        if (row != m_row)
            m_rowTick = GetTickCount();
        m_row = row;
        m_column = column;
        return;
    }
    // A second, slow click on the file cell edits it in place; a double-click browses instead.
    if (ofClick && column == SOUNDCOL_FILE && GetTickCount() - m_rowTick > kEditDelay && !m_timer && !m_editing) {
        SetTimer(m_hWnd, kEditTimer, kEditDelay, nullptr);
        m_timer = true;
    }
}

void CSoundPage::StartEdit()
{
    if (m_row < 0 || m_row >= kSoundEventCount)
        return;
    HWND combo = Item(IDC_SOUNDS_COMBO);
    if (!m_comboFilled) {
        m_comboFilled = true;
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (GetComboBoxInfo(combo, &info) && info.hwndItem)
            m_comboEdit.Attach(info.hwndItem);
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        for (const std::wstring& entry : ListMediaSounds(std::wstring(windows) + L"\\Media"))
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    SetWindowTextW(combo, Settings().GetSoundFile(m_row).c_str());
    const int visible = m_list.VisibleIndexOf(SOUNDCOL_FILE);
    RECT cell{};
    if (visible < 0 || !ListView_GetSubItemRect(m_list.m_hWnd, m_row, visible, LVIR_BOUNDS, &cell))
        return;
    MapWindowPoints(m_list.m_hWnd, m_hWnd, reinterpret_cast<POINT*>(&cell), 2);
    RECT own;
    GetWindowRect(combo, &own);
    SetWindowPos(combo, HWND_TOP, cell.left, cell.top, cell.right - cell.left, own.bottom - own.top, SWP_SHOWWINDOW);
    SetFocus(combo);
    m_editing = true;
}

void CSoundPage::EndEdit(bool store)
{
    if (!m_editing)
        return;
    m_editing = false;
    HWND combo = Item(IDC_SOUNDS_COMBO);
    if (store && m_row >= 0 && m_row < kSoundEventCount) {
        std::wstring text;
        GetItemText(IDC_SOUNDS_COMBO, text);
        const std::wstring path = SoundEntryPath(text);
        CAppSettings& settings = Settings();
        if (_wcsicmp(path.c_str(), settings.GetSoundFile(m_row).c_str()) != 0) {
            CDocUpdateScope scope(settings);
            settings.SetSoundFile(m_row, path);
        }
        ListView_RedrawItems(m_list.m_hWnd, m_row, m_row);
    }
    ShowWindow(combo, SW_HIDE);
    if (GetFocus() == combo || IsChild(combo, GetFocus()))
        SetFocus(m_list.m_hWnd);
}

void CSoundPage::Play(int row)
{
    if (row >= 0 && row < kSoundEventCount)
        m_host->TryEventSound(row);
}

void CSoundPage::Go(int row)
{
    if (row < 0 || row >= kSoundEventCount)
        return;
    const std::wstring path = ExpandedPath(Settings().GetSoundFile(row));
    if (path.empty())
        return;
    ShellOpen(L"explorer.exe", (L"/select, \"" + path + L"\"").c_str());
}

void CSoundPage::Browse(int row)
{
    if (row < 0 || row >= kSoundEventCount)
        return;
    CAppSettings& settings = Settings();
    std::vector<std::wstring> names = {ExpandedPath(settings.GetSoundFile(row))};
    if (!ShowFileDialog(names, nullptr, false, IDS_SOUND_FILTER, m_hWnd,
                        OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING) ||
        names.empty())
        return;
    if (names[0] != settings.GetSoundFile(row)) {
        settings.SetSoundFile(row, names[0]);
        ListView_RedrawItems(m_list.m_hWnd, row, row);
    }
}

void CSoundPage::ClearSelected()
{
    std::vector<int> rows;
    if (m_list.GetSelectedItems(rows) == 0)
        return;
    CAppSettings& settings = Settings();
    if (GetKeyState(VK_SHIFT) >= 0 && (settings.GetConfirmFlags() & CONFIRM_DELETE)) {
        std::wstring text;
        FormatResString(text, IDS_REMOVE_ITEMS_QUESTION, static_cast<int>(rows.size()));
        bool dontAsk = false;
        const int answer = m_host->ShowMessageBox(text, MB_OKCANCEL | MB_ICONQUESTION, &dontAsk);
        if (dontAsk)
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_DELETE);
        if (answer != IDOK)
            return;
    }
    CDocUpdateScope scope(settings);
    for (int row : rows)
        if (row >= 0 && row < kSoundEventCount && !settings.GetSoundFile(row).empty())
            settings.SetSoundFile(row, std::wstring());
}

void CSoundPage::OnListMenu(POINT at)
{
    TrackMenu(IDM_SOUNDS, ContextMenuPoint(m_list.m_hWnd, at), [this](HMENU popup) {
        SetMenuDefaultItem(popup, ID_SOUND_CHOOSE, FALSE);
        std::vector<int> rows;
        const bool one = m_list.GetSelectedItems(rows) == 1 && !Settings().GetSoundFile(rows[0]).empty();
        EnableMenuItem(popup, ID_SOUND_GO, one ? MF_ENABLED : MF_GRAYED);
        EnableMenuItem(popup, ID_SOUND_PLAY, one ? MF_ENABLED : MF_GRAYED);
        m_host->PrepareMenu(popup);
    }, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
}

bool CSoundPage::OnCommand(int id, int code, HWND control)
{
    CAppSettings& settings = Settings();
    switch (id) {
    case IDC_SOUNDS_ENABLED:
        settings.SetSoundsEnabled(!settings.IsSoundsEnabled());
        EnableWindow(m_list.m_hWnd, settings.IsSoundsEnabled());
        return true;
    case IDC_SOUNDS_COMBO:
        if (code == CBN_KILLFOCUS)
            EndEdit(true);
        else if (code == CBN_SELENDOK)
            PostMessageW(m_hWnd, WM_COMMIT_EDIT, 0, 0);
        return true;
    case ID_SOUND_PLAY:
        Play(FirstSelected());
        return true;
    case ID_SOUND_GO:
        Go(FirstSelected());
        return true;
    case ID_SOUND_CHOOSE:
        Browse(FirstSelected());
        return true;
    case ID_SOUNDS_SELECT_ALL:
        ListView_SetItemState(m_list.m_hWnd, -1, LVIS_SELECTED, LVIS_SELECTED);
        return true;
    default:
        return CBasePage::OnCommand(id, code, control);
    }
}

void CSoundPage::RestoreDefaults()
{
    CAppSettings& settings = Settings();
    CDocUpdateScope scope(settings);
    settings.SetDefaultSounds();
    settings.RaiseChange(ASC_SOUND_FILES, 0, true);
    settings.SetSoundsEnabled(false);
    *settings.EditColumns(COLS_SOUNDS) = GetDefaultColumns(COLS_SOUNDS);
    settings.RaiseUiChange(ASU_SOUNDS_COLUMNS, true);
}

bool CSoundPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id != IDC_SOUNDS_LIST || !m_data)
        return CBasePage::OnNotify(id, nmh, result);
    switch (nmh->code) {
    case NM_CLICK: {
        const auto* click = reinterpret_cast<NMITEMACTIVATE*>(nmh);
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        if (ListView_SubItemHitTest(m_list.m_hWnd, &hit) < 0 || hit.iItem < 0)
            return true;
        const std::vector<int>& map = m_list.GetVisibleMap();
        const int column = hit.iSubItem >= 0 && hit.iSubItem < static_cast<int>(map.size()) ? map[hit.iSubItem] : -1;
        OnCellClick(hit.iItem, column, true);
        if (column == SOUNDCOL_PLAY)
            Play(hit.iItem);
        else if (column == SOUNDCOL_GO)
            Go(hit.iItem);
        else if (column == SOUNDCOL_BROWSE)
            Browse(hit.iItem);
        return true;
    }
    case NM_RETURN:
        Browse(FirstSelected());
        return true;
    case LVN_ITEMCHANGED: {
        const auto* change = reinterpret_cast<NMLISTVIEW*>(nmh);
        if ((change->uNewState & LVIS_FOCUSED) && !(change->uOldState & LVIS_FOCUSED) && change->iItem >= 0 &&
            change->iItem != m_row)
            OnCellClick(change->iItem, m_column, false);
        return true;
    }
    default:
        return CBasePage::OnNotify(id, nmh, result);
    }
}

void CSoundPage::OnDocumentChanged(CDocument*, const uint32_t* bits)
{
    if (!m_hWnd)
        return;
    CAppSettings& settings = Settings();
    const uint32_t change = bits[0];
    const uint32_t ui = (change & ASC_UI) ? settings.GetDetails().ui : 0;
    if (change & ASC_SOUNDS_ON) {
        CheckItem(IDC_SOUNDS_ENABLED, settings.IsSoundsEnabled());
        EnableWindow(m_list.m_hWnd, settings.IsSoundsEnabled());
    }
    if ((change & ASC_SOUND_FILES) || (ui & ASU_SOUNDS_COLUMNS))
        RefreshRows((ui & ASU_SOUNDS_COLUMNS) != 0);
    if ((change & ASC_STATE) && (settings.GetDetails().state & ASS_SOUND_PLAYING))
        InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
    m_list.ApplyLook(TableLookChanges(ui) & (TABLE_LOOK_NOSORT | TABLE_LOOK_GRID));
}
