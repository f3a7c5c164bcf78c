#include "pages/source/MifareKeysPage.h"

#include <commdlg.h>

#include <utility>

#include "config/AppSettings.h"
#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "pages/PageHost.h"
#include "resources/ids_app.h"
#include "resources/ids_pages.h"

namespace {

constexpr UINT kQuestionStyle = 0x21;     // OK, Cancel; question icon
constexpr UINT kErrorStyle = 0x10;
constexpr UINT kWarningStyle = 0x30;
constexpr uint32_t kShowKeysFlag = 0x1;   // read-keys view flags: key values in the slot list
// The list's shortcuts shown in its menu: command << 16 | hotkey (modifiers in bits 8-11).
constexpr uint32_t kKeysMenuShortcuts[] = {0x80BB000D, 0x80D2002E, 0x80BF0241};
constexpr int kCheckAll = ID_MFKEYS_CHECK_BASE;
constexpr int kUncheckAll = ID_MFKEYS_CHECK_BASE + 1;
const wchar_t kHexDigits[] = L"0123456789abcdefABCDEF";

// The key's digits for an edit of the card kind's width: the last digits when longer, zeros
// in front when shorter.
std::wstring KeyEditText(const _KEY_NUMBER& key, bool plus)
{
    const size_t width = 2 * static_cast<size_t>(MifareKeyLength(plus));
    std::wstring text = MifareKeyText(key);
    if (text.size() > width)
        text.erase(0, text.size() - width);
    text.insert(0, width - text.size(), L'0');
    return text;
}

void SetKeyEditMask(CMaskedEdit& edit, bool plus, wchar_t prompt)
{
    const size_t width = 2 * static_cast<size_t>(MifareKeyLength(plus));
    edit.SetMask(std::wstring(width, L'A'), std::wstring(width, L'_'), prompt, kHexDigits);
}

// A check of the slot list's menu: flips its bit of a settings word, sender named.
void FlipSetting(CAppSettings& settings, const void* sender, uint32_t (CAppSettings::*get)() const,
                 void (CAppSettings::*set)(uint32_t), uint32_t bit)
{
    CDocUpdateScope scope(settings, sender);
    (settings.*set)((settings.*get)() ^ bit);
}

// The file chosen in the slot list's open or save dialog; false when it was cancelled or
// another filter than the CSV one was chosen.
bool ChooseCsvFile(HWND owner, bool save, UINT filterId, DWORD flags, std::wstring& path)
{
    std::vector<std::wstring> names;
    int filter = 1;
    if (!ShowFileDialog(names, &filter, save, filterId, owner, flags) || names.empty() || filter != 1)
        return false;
    path = names.front();
    return true;
}

}  // namespace

CMifareCPage::CMifareCPage(IPageHost& host, bool plus)
    : CStatesPage(plus ? IDD_READKEYS_MIFARE_P : IDD_READKEYS_MIFARE_C, &host), m_plus(plus)
{
}

// ---- The card kind's settings

const MifareReadSettings& CMifareCPage::Settings() const
{
    const CTransferDoc& doc = m_host->GetTransferDoc();
    return m_plus ? doc.readKeys.plus : doc.readKeys.classic;
}

const std::vector<_KEY_NUMBER>& CMifareCPage::Keys() const
{
    const CTransferDoc& doc = m_host->GetTransferDoc();
    return m_plus ? doc.GetMifarePlusKeys() : doc.GetMifareClassicKeys();
}

template <class... Params, class... Args>
void CMifareCPage::Store(void (CTransferDoc::*classic)(Params...), void (CTransferDoc::*plus)(Params...),
                         Args&&... args)
{
    CTransferDoc& doc = m_host->GetTransferDoc();
    CDocUpdateScope scope(doc, ObserverKey());
    (doc.*(m_plus ? plus : classic))(std::forward<Args>(args)...);
}

int CMifareCPage::ConfirmFlags() const
{
    return static_cast<int>(m_host->GetSettings().GetConfirmFlags());
}

// ---- Window

void CMifareCPage::OnSize(UINT, int width, int height)
{
    ApplyLayout(m_layout, width, height);
    SendMessageW(m_slotList.m_hWnd, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
}

bool CMifareCPage::OnContextMenu(HWND window, POINT)
{
    if (InMenuMode() || window != m_slotList.m_hWnd)
        return false;
    ShowKeysMenu();
    return true;
}

void CMifareCPage::OnDestroy()
{
    m_data.SetEventCallback(nullptr, nullptr);
}

bool CMifareCPage::OnInitDialog()
{
    HWND sectors = Item(IDC_MF_SECTOR);
    SendMessageW(sectors, CB_RESETCONTENT, 0, 0);
    for (int sector = 0; sector <= kMifareMaxSector; ++sector) {
        std::wstring text = IntToWString(sector);
        switch (sector) {
        case 4: text += L"  Mini"; break;
        case 15: text += L"  1K"; break;
        case 31: text += L"  2K"; break;
        case 39: text += L"  4K"; break;
        default: break;
        }
        SendMessageW(sectors, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    m_keyEdit.Attach(Item(IDC_MF_KEY_EDIT));
    {
        // The mask's empty text is no key the user typed.
        UpdatingScope updating(m_hWnd);
        SetKeyEditMask(m_keyEdit, m_plus, L'0');
    }

    m_slotList.Attach(Item(IDC_MF_SLOT_LIST));

    m_slotList.SetData(&m_data);
    m_slotList.events.keyDown = [this](WORD key, unsigned modifiers) {
        if (key == VK_SPACE) {
            std::vector<int> rows;
            if (m_slotList.GetSelectedItems(rows) > 0)
                ToggleMaskBits(rows);
            return true;
        }
        if (key != VK_DELETE || (modifiers & (LIST_KEY_CTRL | LIST_KEY_ALT)))
            return false;
        DeleteSelectedKeys((modifiers & LIST_KEY_SHIFT) != 0);
        return true;
    };
    SendMessageW(m_slotList.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    SendMessageW(m_slotList.m_hWnd, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 200;
    SendMessageW(m_slotList.m_hWnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    RECT edit;
    GetWindowRect(m_keyEdit.m_hWnd, &edit);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&edit), 2);
    SetWindowPos(m_slotList.m_hWnd, nullptr, edit.left, edit.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    m_data.keys = &Keys();
    m_data.SetEventCallback(this, &CMifareCPage::OnListDataEvent);

    m_layout.parent = m_hWnd;
    m_layout.items.clear();
    m_layout.Add(IDC_MF_KEY_EDIT, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_MF_SLOT_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    CaptureLayout(m_layout);

    Observe(m_host->GetSettings());
    Observe(m_host->GetTransferDoc());
    ExchangeData(false);
    SendMessageW(m_slotList.m_hWnd, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
    return true;
}

int CMifareCPage::OnListDataEvent(void* context, CVirtualListViewData*, int)
{
    auto* page = static_cast<CMifareCPage*>(context);
    HWND list = page->m_slotList.m_hWnd;
    if (!list)
        return 0;
    SendMessageW(list, LVM_SETITEMCOUNT, 32, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    InvalidateRect(list, nullptr, TRUE);
    return 0;
}

void CMifareCPage::ExchangeData(bool save)
{
    if (!save) {
        FillControls();
        return;
    }
    if (m_keyEdit.m_hWnd && m_keyEdit.GetModify())
        ReadKeyEdit(true);
}

bool CMifareCPage::ShowChange(CDocument* doc, const uint32_t* bits)
{
    CAppSettings& settings = m_host->GetSettings();
    if (doc == &settings) {
        const AppSettingsDetails details = settings.GetDetails();
        if ((bits[0] & ASC_PAGE) && (details.page & ASP_READKEYS_FLAGS))
            FillControls();
        return (bits[0] & ASC_STATE) && (details.state & ASS_READER_JOB);
    }
    if (doc != &m_host->GetTransferDoc())
        return false;
    const uint32_t mine = m_plus ? (TDC_MIFARE_PLUS | TDC_MIFARE_PKEYS) : (TDC_MIFARE_CLASSIC | TDC_MIFARE_CKEYS);
    if (bits[0] & mine)
        FillControls();
    return (bits[0] & TDC_SOURCE) != 0;
}

// ---- Controls

void CMifareCPage::FillControls()
{
    const MifareReadSettings& s = Settings();
    {
        UpdatingScope updating(m_hWnd);
        CheckItem(IDC_MF_ENABLED, s.enabled);
        CheckRadioButton(m_hWnd, IDC_MF_KEY_A, IDC_MF_KEY_B, (s.flags & MIFARE_KEY_B) ? IDC_MF_KEY_B : IDC_MF_KEY_A);
        ShowKeySource();
        SendItem(IDC_MF_SECTOR, CB_SETCURSEL, static_cast<WPARAM>(s.sector), 0);
        SendItem(IDC_MF_BLOCK, CB_SETCURSEL, static_cast<WPARAM>(s.block), 0);
        SetWindowTextW(m_keyEdit.m_hWnd, KeyEditText(s.key, m_plus).c_str());
        m_keyEdit.SetModify(false);
    }
    FillBlockList();
    RefreshListData();
    UpdateControlStates();
}

void CMifareCPage::RefreshListData()
{
    m_data.keys = &Keys();
    m_data.checkedMask = Settings().mask;
    m_data.showKeys = (m_host->GetSettings().GetReadKeysViewFlags() & kShowKeysFlag) != 0;
    m_data.FillCache();
    m_data.FireEvent();
}

void CMifareCPage::ShowKeySource()
{
    UpdatingScope updating(m_hWnd);
    const bool byMask = (Settings().flags & MIFARE_BY_MASK) != 0;
    CheckRadioButton(m_hWnd, IDC_MF_KEY_VALUE, IDC_MF_KEY_MEMORY, byMask ? IDC_MF_KEY_MEMORY : IDC_MF_KEY_VALUE);
    ShowWindow(m_keyEdit.m_hWnd, byMask ? SW_HIDE : SW_SHOW);
    ShowWindow(m_slotList.m_hWnd, byMask ? SW_SHOW : SW_HIDE);
}

void CMifareCPage::FillBlockList()
{
    UpdatingScope updating(m_hWnd);
    const MifareReadSettings& s = Settings();
    HWND blocks = Item(IDC_MF_BLOCK);
    const int count = s.sector < 32 ? 4 : 16;
    SendMessageW(blocks, CB_RESETCONTENT, 0, 0);
    for (int block = 0; block < count; ++block)
        SendMessageW(blocks, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(IntToWString(block).c_str()));
    SendMessageW(blocks, CB_SETCURSEL, static_cast<WPARAM>(s.block), 0);
}

void CMifareCPage::UpdateControlStates()
{
    const bool on = Settings().enabled;
    const struct {
        int id;
        bool label;
    } controls[] = {{IDC_MF_KEY_A, true},      {IDC_MF_KEY_B, false},    {IDC_MF_KEY_VALUE, true},
                    {IDC_MF_KEY_MEMORY, false}, {IDC_MF_KEY_EDIT, false}, {IDC_MF_SLOT_LIST, false},
                    {IDC_MF_SECTOR, true},      {IDC_MF_BLOCK, true}};
    for (const auto& c : controls)
        EnableWithLabel(m_hWnd, c.id, on, c.label);
}

void CMifareCPage::ReadKeyEdit(bool onlyWhenModified)
{
    if (onlyWhenModified && !m_keyEdit.GetModify())
        return;
    std::wstring text;
    m_keyEdit.GetText(text);
    _KEY_NUMBER key{};
    if ((m_plus ? ParseMifarePlusKey : ParseMifareClassicKey)(text, key) && !KeysEqual(key, Settings().key)) {
        Store(&CTransferDoc::SetMifareClassicKey, &CTransferDoc::SetMifarePlusKey, key);
        m_keyEdit.SetModify(false);
    }
    if (onlyWhenModified)
        m_keyEdit.SetModify(false);
}

bool CMifareCPage::OnCommand(int id, int code, HWND control)
{
    const auto checked = [this](int item) { return IsItemChecked(item); };
    switch (id) {
    case IDC_MF_KEY_VALUE:
    case IDC_MF_KEY_MEMORY: {
        const uint32_t flags = Settings().flags;
        const uint32_t wanted = (flags & ~MIFARE_BY_MASK) | (id == IDC_MF_KEY_MEMORY ? MIFARE_BY_MASK : 0);
        if (wanted != flags)
            Store(&CTransferDoc::SetMifareClassicFlags, &CTransferDoc::SetMifarePlusFlags, wanted);
        ShowKeySource();
        return false;
    }
    case IDC_MF_KEY_EDIT:
        if (code == EN_KILLFOCUS)
            ReadKeyEdit(true);
        else if (code == EN_CHANGE)
            ReadKeyEdit(false);
        return true;
    case IDC_MF_ENABLED:
        Store(&CTransferDoc::SetMifareClassicEnabled, &CTransferDoc::SetMifarePlusEnabled, checked(IDC_MF_ENABLED));
        UpdateControlStates();
        return false;
    case IDC_MF_KEY_A:
    case IDC_MF_KEY_B:
        if (code == BN_CLICKED) {
            const uint32_t flags = Settings().flags;
            Store(&CTransferDoc::SetMifareClassicFlags, &CTransferDoc::SetMifarePlusFlags,
                  (flags & ~MIFARE_KEY_B) | (id == IDC_MF_KEY_B ? MIFARE_KEY_B : 0));
        }
        return true;
    case IDC_MF_SECTOR:
        if (code == CBN_SELCHANGE) {
            Store(&CTransferDoc::SetMifareClassicSector, &CTransferDoc::SetMifarePlusSector,
                  static_cast<int32_t>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
            FillBlockList();
        }
        return false;
    case IDC_MF_BLOCK:
        if (code == CBN_SELCHANGE)
            Store(&CTransferDoc::SetMifareClassicBlock, &CTransferDoc::SetMifarePlusBlock,
                  static_cast<int32_t>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
        return false;
    case kCheckAll:
    case kUncheckAll:
        Store(&CTransferDoc::SetMifareClassicMask, &CTransferDoc::SetMifarePlusMask, id == kCheckAll ? 0xFFFFFFFFu : 0u);
        RefreshListData();
        return false;
    case ID_MFKEYS_CHANGE:
        EditSelectedKeys();
        return true;
    case ID_MFKEYS_SHOW:
        FlipSetting(m_host->GetSettings(), ObserverKey(), &CAppSettings::GetReadKeysViewFlags,
                    &CAppSettings::SetReadKeysViewFlags, kShowKeysFlag);
        RefreshListData();
        return true;
    case ID_MFKEYS_WRITE_ALL:
        m_host->WriteKeysToReader(m_plus, 0xFFFFFFFF, (ConfirmFlags() & CONFIRM_WRITE_KEYS) != 0);
        return true;
    case ID_MFKEYS_WRITE_SELECTED: {
        std::vector<int> rows;
        m_slotList.GetSelectedItems(rows);
        uint32_t mask = 0;
        for (int row : rows)
            mask |= 1u << (row & 31);
        if (mask)
            m_host->WriteKeysToReader(m_plus, mask, (ConfirmFlags() & CONFIRM_WRITE_KEYS) != 0);
        return true;
    }
    case ID_MFKEYS_SELECT_ALL: {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        SendMessageW(m_slotList.m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
        return true;
    }
    case ID_MFKEYS_IMPORT_CSV:
        ChooseImportFile();
        return true;
    case ID_MFKEYS_EXPORT_CSV:
        ChooseExportFile();
        return true;
    case ID_MFKEYS_NO_SAVE:
        FlipSetting(m_host->GetSettings(), ObserverKey(), &CAppSettings::GetHistoryFlags,
                    &CAppSettings::SetHistoryFlags, SAVED_MIFARE_KEYS);
        return true;
    case ID_MFKEYS_DELETE:
        DeleteSelectedKeys(false);
        return true;
    default:
        return false;
    }
}

bool CMifareCPage::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (nmh->hwndFrom == m_slotList.m_hWnd && OnListNotify(nmh, result))
        return true;
    return CBasePage::OnNotify(id, nmh, result);
}

void CMifareCPage::ToggleMaskBits(const std::vector<int>& rows)
{
    uint32_t mask = Settings().mask;
    for (int row : rows)
        mask ^= 1u << (row & 31);
    Store(&CTransferDoc::SetMifareClassicMask, &CTransferDoc::SetMifarePlusMask, mask);
    m_data.checkedMask = Settings().mask;
    m_data.FillCache();
    SendMessageW(m_slotList.m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(rows.front()), rows.back());
    UpdateWindow(m_slotList.m_hWnd);
}

bool CMifareCPage::OnListNotify(NMHDR* nmh, LRESULT* result)
{
    *result = 0;
    switch (nmh->code) {
    case NM_DBLCLK:
    case NM_CLICK: {
        const auto* click = reinterpret_cast<NMITEMACTIVATE*>(nmh);
        if (click->iItem < 0)
            return false;
        const bool onStateIcon = m_slotList.StateIconRow(*click) >= 0;
        if (nmh->code == NM_DBLCLK) {
            if (onStateIcon)
                return false;
            EditSelectedKeys();
            return true;
        }
        if (!onStateIcon || click->iSubItem != 0)
            return false;
        ToggleMaskBits({click->iItem});
        return true;
    }
    case NM_RETURN:
        EditSelectedKeys();
        return true;
    default:
        return false;
    }
}

// ---- Slot commands

void CMifareCPage::PrepareKeysMenu(HMENU popup)
{
    std::vector<int> rows;
    const bool selected = m_slotList.GetSelectedItems(rows) > 0;
    const bool canWrite = m_host->CanStartReaderJob();
    const auto enable = [popup](UINT id, bool on) { EnableMenuItem(popup, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED)); };
    enable(ID_MFKEYS_CHANGE, selected);
    enable(ID_MFKEYS_DELETE, selected);
    enable(ID_MFKEYS_WRITE_ALL, canWrite);
    enable(ID_MFKEYS_WRITE_SELECTED, canWrite && selected);
    CheckMenuItem(popup, ID_MFKEYS_SHOW, MF_BYCOMMAND | (m_data.showKeys ? MF_CHECKED : MF_UNCHECKED));
    const bool saved = m_host->GetSettings().IsHistory(SAVED_MIFARE_KEYS);
    CheckMenuItem(popup, ID_MFKEYS_NO_SAVE, MF_BYCOMMAND | (saved ? MF_UNCHECKED : MF_CHECKED));
    SetMenuDefaultItem(popup, ID_MFKEYS_CHANGE, FALSE);
    m_host->PrepareMenuShortcuts(popup, std::vector<uint32_t>(std::begin(kKeysMenuShortcuts), std::end(kKeysMenuShortcuts)));
}

void CMifareCPage::ShowKeysMenu()
{
    TrackMenu(IDM_MIFARE_KEYS, POINT{-1, -1}, [this](HMENU popup) { PrepareKeysMenu(popup); });
}

bool CMifareCPage::EditSelectedKeys()
{
    std::vector<int> rows;
    if (m_slotList.GetSelectedItems(rows) == 0)
        return false;
    CMfKeyDialog dialog(m_host->GetTransferDoc(), m_plus, std::move(rows));
    return dialog.RunModal(m_hWnd) == IDOK;
}

bool CMifareCPage::DeleteSelectedKeys(bool silent)
{
    std::vector<int> rows;
    if (m_slotList.GetSelectedItems(rows) == 0)
        return true;
    CAppSettings& settings = m_host->GetSettings();
    if (!silent && (settings.GetConfirmFlags() & CONFIRM_DELETE)) {
        std::wstring question;
        if (rows.size() == 1)
            FormatResString(question, IDS_REMOVE_FILE_QUESTION, m_data.FormatSlotRow(rows.front()).c_str());
        else
            FormatResString(question, IDS_REMOVE_ITEMS_QUESTION, static_cast<int>(rows.size()));
        bool dontAsk = false;
        const int answer = m_host->ShowMessageBox(question, kQuestionStyle, &dontAsk);
        if (dontAsk)
            settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_DELETE);
        if (answer != IDOK)
            return false;
    }
    CTransferDoc& doc = m_host->GetTransferDoc();
    std::vector<_KEY_NUMBER>& keys = m_plus ? doc.MifarePlusKeys() : doc.MifareClassicKeys();
    bool cleared = false;
    for (int row : rows) {
        const size_t slot = static_cast<size_t>(row);
        if (slot < keys.size() && keys[slot].length != 0) {
            keys[slot] = _KEY_NUMBER{};
            cleared = true;
        }
    }
    if (cleared) {
        Store(&CTransferDoc::MifareClassicKeysChanged, &CTransferDoc::MifarePlusKeysChanged);
        RefreshListData();
    }
    return true;
}

bool CMifareCPage::ExportKeys(const std::wstring& path)
{
    const CsvOptions& csv = m_host->GetSettings().csv;
    try {
        ExportMifareKeySlots(path, Keys(), Settings().mask, csv.delimiter, csv.encoding);
        return true;
    } catch (const CFileException& e) {
        m_host->ShowMessageBox(e.GetErrorText(), kErrorStyle, nullptr);
        return false;
    }
}

bool CMifareCPage::ImportKeys(const std::wstring& path, bool replace)
{
    const CsvOptions& csv = m_host->GetSettings().csv;
    CTransferDoc& doc = m_host->GetTransferDoc();
    int skipped = 0;
    try {
        skipped = m_plus ? ImportMifarePlusKeys(doc, path, csv.delimiter, csv.encoding, replace)
                         : ImportMifareClassicKeys(doc, path, csv.delimiter, csv.encoding, replace);
    } catch (const CFileException& e) {
        m_host->ShowMessageBox(e.GetErrorText(), kErrorStyle, nullptr);
        return false;
    }
    if (skipped > 0) {
        std::wstring text;
        FormatResString(text, IDS_MFKEYS_TOO_LONG, skipped, MifareKeyLength(m_plus) * 2);
        m_host->ShowMessageBox(text, kWarningStyle, nullptr);
    }
    return true;
}

void CMifareCPage::ChooseImportFile()
{
    std::wstring path;
    if (ChooseCsvFile(m_hWnd, false, IDS_MFKEYS_IMPORT_FILTER,
                      OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING, path))
        ImportKeys(path, GetKeyState(VK_SHIFT) >= 0);
}

void CMifareCPage::ChooseExportFile()
{
    std::wstring path;
    if (!ChooseCsvFile(m_hWnd, true, IDS_MFKEYS_EXPORT_FILTER,
                       OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING, path))
        return;
    if (*FindExtension(path.c_str()) == L'\0')
        path += L".csv";
    ExportKeys(path);
}

// ---- CMfKeyDialog

CMfKeyDialog::CMfKeyDialog(CTransferDoc& doc, bool plus, std::vector<int> slots)
    : CModalDialog(IDD_MIFARE_KEY), m_doc(doc), m_plus(plus), m_slots(std::move(slots))
{
}

_KEY_NUMBER CMfKeyDialog::SlotKey(int slot) const
{
    const std::vector<_KEY_NUMBER>& keys = m_plus ? m_doc.GetMifarePlusKeys() : m_doc.GetMifareClassicKeys();
    return slot >= 0 && static_cast<size_t>(slot) < keys.size() ? keys[static_cast<size_t>(slot)]
                                                                 : DefaultMifareKey(m_plus);
}

bool CMfKeyDialog::OnInitDialog()
{
    m_edit.Attach(Item(IDC_MFKEY_EDIT));
    SetKeyEditMask(m_edit, m_plus, m_plus ? L'0' : L'_');
    if (m_slots.empty()) {
        m_key = DefaultMifareKey(m_plus);
        m_allEqual = true;
    } else {
        m_key = SlotKey(m_slots.front());
        m_allEqual = true;
        for (size_t i = 1; i < m_slots.size() && m_allEqual; ++i)
            m_allEqual = KeysEqual(SlotKey(m_slots[i]), m_key);
    }
    m_keyDefined = m_allEqual;
    ExchangeData(false);
    CenterOnOwner();
    return true;
}

void CMfKeyDialog::ExchangeData(bool save)
{
    HWND indeterminate = Item(IDC_MFKEY_INDETERMINATE);
    if (!save) {
        CheckItem(IDC_MFKEY_INDETERMINATE, !(m_keyDefined));
        ShowWindow(indeterminate, m_allEqual ? SW_HIDE : SW_SHOW);
        const size_t width = 2 * static_cast<size_t>(MifareKeyLength(m_plus));
        const std::wstring text = m_keyDefined ? KeyEditText(m_key, m_plus) : std::wstring(width, m_plus ? L'0' : L'_');
        SetWindowTextW(m_edit.m_hWnd, text.c_str());
        EnableWindow(m_edit.m_hWnd, m_keyDefined);
        return;
    }
    m_keyDefined = !IsItemChecked(IDC_MFKEY_INDETERMINATE);
    if (m_keyDefined) {
        std::wstring text;
        m_edit.GetText(text);
        // The key always has the card kind's length: the reader takes no other.
        // Only prompts: nothing was typed, an empty key.
        m_key = _KEY_NUMBER{};
        if (text.find_first_of(kHexDigits) != std::wstring::npos)
            (m_plus ? ParseMifarePlusKey : ParseMifareClassicKey)(text, m_key);
    }
}

bool CMfKeyDialog::OnCommand(int id, int code, HWND)
{
    switch (id) {
    case IDOK: {
        ExchangeData(true);
        std::vector<_KEY_NUMBER>& keys = m_plus ? m_doc.MifarePlusKeys() : m_doc.MifareClassicKeys();
        bool changed = false;
        if (!m_slots.empty() && m_keyDefined) {
            for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it) {
                if (*it < 0 || *it >= kMifareKeySlots)
                    continue;
                const size_t slot = static_cast<size_t>(*it);
                if (slot < keys.size()) {
                    if (!KeysEqual(keys[slot], m_key)) {
                        keys[slot] = m_key;
                        changed = true;
                    }
                } else if (m_key.length != 0) {
                    keys.resize(slot + 1);
                    keys[slot] = m_key;
                    changed = true;
                }
            }
        }
        if (changed) {
            CDocUpdateScope scope(m_doc);
            m_plus ? m_doc.MifarePlusKeysChanged() : m_doc.MifareClassicKeysChanged();
        }
        EndModal(IDOK);
        return true;
    }
    case IDCANCEL:
        EndModal(IDCANCEL);
        return true;
    case IDC_MFKEY_INDETERMINATE:
        if (code == BN_CLICKED) {
            m_keyDefined = !IsItemChecked(IDC_MFKEY_INDETERMINATE);
            EnableWindow(m_edit.m_hWnd, m_keyDefined);
        }
        return true;
    default:
        return false;
    }
}
