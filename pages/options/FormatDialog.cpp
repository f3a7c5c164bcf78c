#include "pages/options/FormatDialog.h"

#include <algorithm>
#include <tuple>

#include "config/AppSettings.h"
#include "config/FormatEngine.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"
#include "pages/PageHost.h"
#include "pages/KeyDialog.h"
#include "pages/options/FormatsView.h"
#include "resources/resource.h"

namespace {

constexpr int kFormatPlacementSlot = 2;
constexpr int kFormatShowStateSlot = 1;
constexpr int kStateUnchecked = 1;
constexpr int kStateChecked = 2;
constexpr int kStateIndeterminate = 3;
const wchar_t kAny[] = L"*";

// The part of a string after its first line feed (the whole string without one).
std::wstring LongPart(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    const size_t lf = text.find(L'\n');
    return lf == std::wstring::npos ? text : text.substr(lf + 1);
}

std::wstring ResText(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    return text;
}

// The codes whose position points into the template or the parameters.
constexpr HRESULT kFirstPositionedCode = KV_E_NOT_ENOUGH_PARAMS;
constexpr HRESULT kLastPositionedCode = static_cast<HRESULT>(0x8004023DL);

bool IsPresetName(const std::wstring& name)
{
    return !name.empty() && name[0] == L'\n';
}

} // namespace

// ---- CShowKeyFiltersLvData ----

int CShowKeyFiltersLvData::GetItemCount()
{
    return m_doc ? static_cast<int>(m_doc->GetKeyFilters().size()) + 1 : 0;
}

int CShowKeyFiltersLvData::BitOf(int row) const
{
    if (row == 0)
        return 0;
    if (!m_doc || row < 0 || row > static_cast<int>(m_doc->GetKeyFilters().size()))
        return -1;
    return static_cast<int>(m_doc->GetKeyFilters()[row - 1].id);
}

void CShowKeyFiltersLvData::GetDispInfo(LVITEMW* item)
{
    const int bit = BitOf(item->iItem);
    if (bit < 0)
        return;
    if (item->mask & LVIF_TEXT) {
        m_text = item->iItem == 0 ? m_defaultCaption : m_doc->GetKeyFilters()[item->iItem - 1].name;
        if (item->pszText && item->cchTextMax > 0)
            lstrcpynW(item->pszText, m_text.c_str(), item->cchTextMax);
    }
    if (item->mask & LVIF_STATE) {
        const uint32_t b = KeyFilterBit(static_cast<uint32_t>(bit));
        const int state = !(*m_determinate & b) ? kStateIndeterminate : (*m_mask & b) ? kStateChecked : kStateUnchecked;
        item->state = (item->state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(state);
        item->stateMask |= LVIS_STATEIMAGEMASK;
    }
}

// ---- CFormatDialog ----

CFormatDialog::CFormatDialog(IPageHost& host) : CModalDialog(IDD_FORMAT), m_host(host)
{
    m_minTrackSize = {400, 435};
}

void CFormatDialog::OnSize(UINT, int width, int height)
{
    if (!m_layout.items.empty())
        ApplyLayout(m_layout, width, height);
}

void CFormatDialog::OnDestroy()
{
    m_host.ExchangeWindowPlacement(true, m_hWnd, kFormatPlacementSlot, kFormatShowStateSlot);
    m_tips.Destroy();
    m_list.Destroy();
}

bool CFormatDialog::OnInitDialog()
{
    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_FORMAT_NAME, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_FORMAT_TEMPLATE, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_layout.Add(IDC_FORMAT_PARAMS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_FORMAT_PREVIEW_LABEL, IDC_FORMAT_PREVIEW, IDC_FORMAT_EXAMPLE, IDC_FORMAT_CHECK, IDC_FORMAT_COMMENT,
                   IDC_FORMAT_KEY_FILTERS, IDOK, IDCANCEL, IDC_FORMAT_APPLY})
        m_layout.Add(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    // The labels beside the lower controls go down with them.
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        RECT params;
        GetWindowRect(Item(IDC_FORMAT_PARAMS), &params);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&params), 2);
        if (GetDlgCtrlID(child) == static_cast<int>(static_cast<WORD>(-1)) && r.top > params.bottom) {
            AnchorItem item;
            item.window = child;
            item.flags = ANCHOR_LEFT | ANCHOR_BOTTOM;
            m_layout.items.push_back(item);
        }
    }
    CaptureLayout(m_layout);

    m_list.Attach(Item(IDC_FORMAT_KEY_FILTERS));
    m_list.SetData(&m_rows);
    m_list.events.toggleCheck = [this](int row) { ToggleKeyFilterRow(row); };
    LPCWSTR checks = MAKEINTRESOURCEW(IDB_CHECK_IMAGES);
    m_images.Attach(ImageList_LoadImageW(FindResourceModule(checks, RT_BITMAP), checks, 16, 1, RGB(255, 0, 255),
                                         IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(m_list.m_hWnd, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(m_images.Get()));
    SendMessageW(m_list.m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageW(m_list.m_hWnd, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 150;
    SendMessageW(m_list.m_hWnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));

    HWND example = Item(IDC_FORMAT_EXAMPLE);
    SendMessageW(example, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(example, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_host.GetImageList(HostImages::Small)));
    TBBUTTON button{15, ID_PREVIEW_MENU, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0};
    SendMessageW(example, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));

    CTransferDoc& doc = m_host.GetTransferDoc();
    if (m_addMode) {
        if (!(m_fields & FDF_NAME))
            m_name.clear();
        std::wstring unique;
        MakeUniqueName(doc.GetFormatsByName(), m_name.empty() ? nullptr : m_name.c_str(), unique);
        m_name = unique;
        if (!(m_fields & FDF_TEMPLATE))
            m_templ.clear();
        if (!(m_fields & FDF_PARAMS))
            m_params.clear();
        if (!(m_fields & FDF_COMMENT))
            m_comment.clear();
        if (!(m_fields & FDF_KEY_FILTERS))
            m_mask = 0xFFFFFFFF;
        m_fields = FDF_ALL;
        m_agreement = 0xFFFFFFFF;
        m_count = 1;
    } else {
        LoadEdited();
    }
    m_determinate = m_agreement;
    m_rows.m_doc = &doc;
    m_rows.m_mask = &m_mask;
    m_rows.m_determinate = &m_determinate;
    LoadResString(IDS_TIP_DEFAULT_FORMAT, m_rows.m_defaultCaption);
    SendMessageW(m_list.m_hWnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_rows.GetItemCount()), 0);
    FillControls();
    EnableApply(false);

    m_tips.Create(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, m_hWnd, nullptr);
    std::wstring tip = LongPart(IDC_FORMAT_PREVIEW_LABEL);
    TTTOOLINFOW info{sizeof(info)};
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = m_hWnd;
    info.uId = reinterpret_cast<UINT_PTR>(Item(IDC_FORMAT_PREVIEW_LABEL));
    info.lpszText = tip.data();
    SendMessageW(m_tips.m_hWnd, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));

    m_host.ExchangeWindowPlacement(false, m_hWnd, kFormatPlacementSlot, kFormatShowStateSlot);
    return true;
}

void CFormatDialog::LoadEdited()
{
    const CTransferDoc& doc = m_host.GetTransferDoc();
    m_count = m_presets = 0;
    m_fields = 0;
    m_agreement = 0xFFFFFFFF;
    for (const KvFormatPtr& f : doc.GetFormats()) {
        if (!(f->flags & KVF_SELECTED))
            continue;
        const std::wstring name = IsPresetName(f->name) ? f->name.substr(1) : f->name;
        if (IsPresetName(f->name))
            ++m_presets;
        if (m_count++ == 0) {
            m_name = name;
            m_templ = f->templ;
            m_params = f->params;
            m_comment = f->comment;
            m_mask = static_cast<uint32_t>(f->keyFilterMask);
            m_fields = FDF_ALL;
            continue;
        }
        if (name != m_name)
            m_fields &= ~FDF_NAME;
        if (f->templ != m_templ)
            m_fields &= ~FDF_TEMPLATE;
        if (f->params != m_params)
            m_fields &= ~FDF_PARAMS;
        if (f->comment != m_comment)
            m_fields &= ~FDF_COMMENT;
        // Every bit of the mask: key-filter ids run up to 31 whatever the count of filters.
        m_agreement &= ~(m_mask ^ static_cast<uint32_t>(f->keyFilterMask));
    }
}

void CFormatDialog::FillControls()
{
    UpdatingScope updating(m_hWnd);
    const bool oneName = m_count <= 1 && (m_fields & FDF_NAME);
    SetItemText(IDC_FORMAT_NAME, oneName ? m_name.c_str() : kAny);
    EnableItem(IDC_FORMAT_NAME, oneName);
    SetItemText(IDC_FORMAT_TEMPLATE, (m_fields & FDF_TEMPLATE) ? m_templ.c_str() : kAny);
    SetItemText(IDC_FORMAT_PARAMS, (m_fields & FDF_PARAMS) ? m_params.c_str() : kAny);
    SetItemText(IDC_FORMAT_COMMENT, (m_fields & FDF_COMMENT) ? m_comment.c_str() : kAny);
    RefreshPreview();
}

void CFormatDialog::ReadControls()
{
    struct Field { int id; uint32_t bit; std::wstring* text; };
    const Field fields[] = {{IDC_FORMAT_NAME, FDF_NAME, &m_name},
                            {IDC_FORMAT_TEMPLATE, FDF_TEMPLATE, &m_templ},
                            {IDC_FORMAT_PARAMS, FDF_PARAMS, &m_params},
                            {IDC_FORMAT_COMMENT, FDF_COMMENT, &m_comment}};
    for (const Field& f : fields) {
        const std::wstring text = ItemText(f.id);
        if (text == kAny) {
            m_fields &= ~f.bit;
        } else {
            *f.text = text;
            m_fields |= f.bit;
        }
    }
    // Several formats never share a name.
    if (m_count > 1)
        m_fields &= ~FDF_NAME;
}

void CFormatDialog::ReadRenderFields()
{
    for (auto [id, bit, text] : {std::tuple{IDC_FORMAT_TEMPLATE, FDF_TEMPLATE, &m_templ},
                                 std::tuple{IDC_FORMAT_PARAMS, FDF_PARAMS, &m_params}}) {
        const std::wstring value = ItemText(id);
        if (value == kAny) {
            m_fields &= ~bit;
        } else {
            *text = value;
            m_fields |= bit;
        }
    }
}

void CFormatDialog::RefreshPreview()
{
    ReadRenderFields();
    std::wstring preview;
    if (!m_templ.empty() && (m_fields & FDF_TEMPLATE) && (m_fields & FDF_PARAMS)) {
        // A preview never fails the dialog: whatever rendering throws shows in braces.
        try {
            std::wstring text;
            RenderFormat(text, nullptr, m_templ, m_params, m_host.GetSettings().GetLastTransfer().keyNumber);
            EscapeControlChars(preview, text.c_str(), static_cast<int>(text.size()));
        } catch (const std::exception& e) {
            preview = L"{" + MultiByteToWString(e.what(), CP_ACP) + L"}";
        } catch (...) {
            preview = L"{}";
        }
    }
    UpdatingScope updating(m_hWnd);
    SetItemText(IDC_FORMAT_PREVIEW, preview.c_str());
}

void CFormatDialog::ShowValidationError(HRESULT code, int position)
{
    std::wstring text;
    GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(code));
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    if (position >= 0)
        AppendFormatResString(text, IDS_AT_POSITION, position);
    m_host.ShowMessageBox(text, MB_OK | MB_ICONERROR, nullptr);
    if (position < 0 || code < kFirstPositionedCode || code > kLastPositionedCode)
        return;
    const int id = code == KV_E_TEMPLATE_SPEC ? IDC_FORMAT_TEMPLATE : IDC_FORMAT_PARAMS;
    HWND edit = Item(id);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(position), position);
}

void CFormatDialog::Check()
{
    ReadRenderFields();
    if ((m_fields & (FDF_TEMPLATE | FDF_PARAMS)) != (FDF_TEMPLATE | FDF_PARAMS))
        return;
    int position = -1;
    const HRESULT code = m_templ.empty() ? S_OK : ValidateFormat(m_params, m_templ, &position, nullptr);
    if (SUCCEEDED(code)) {
        std::wstring text;
        LoadResString(IDS_FORMAT_CORRECT, text);
        m_host.ShowMessageBox(text, MB_OK | MB_ICONINFORMATION, nullptr);
        return;
    }
    ShowValidationError(code, position);
}

void CFormatDialog::EnableApply(bool on)
{
    m_applyEnabled = on;
    EnableItem(IDC_FORMAT_APPLY, on);
}

void CFormatDialog::FocusName()
{
    HWND name = Item(IDC_FORMAT_NAME);
    SetFocus(name);
    SendMessageW(name, EM_SETSEL, 0, -1);
}

bool CFormatDialog::ConfirmReplace(const std::wstring& name, int count)
{
    CAppSettings& settings = m_host.GetSettings();
    const uint32_t confirm = settings.GetConfirmFlags();
    if (!(confirm & CONFIRM_REPLACE))
        return true;
    std::wstring text;
    if (count == 1)
        FormatResString(text, IDS_ITEM_EXISTS_REPLACE, name.c_str());
    else
        FormatResString(text, IDS_REPLACE_ITEMS, count);
    bool dontAsk = false;
    const int answer = m_host.ShowMessageBox(text, MB_OKCANCEL | MB_ICONQUESTION, &dontAsk);
    if (dontAsk)
        settings.SetConfirmFlags(confirm & ~CONFIRM_REPLACE);
    if (answer == IDOK)
        return true;
    FocusName();
    return false;
}

void CFormatDialog::ApplyFieldsTo(const KvFormatPtr& target, uint32_t fields)
{
    _KV_FORMAT source;
    source.name = m_name;
    source.templ = m_templ;
    source.params = m_params;
    source.comment = m_comment;
    source.keyFilterMask = static_cast<int32_t>((static_cast<uint32_t>(target->keyFilterMask) & ~m_determinate) |
                                                (m_mask & m_determinate));
    m_host.GetTransferDoc().UpdateFormat(fields, source, target);
}

bool CFormatDialog::Apply()
{
    ReadControls();
    if ((m_fields & FDF_NAME) && m_name.empty()) {
        m_host.ShowMessageBox(ResText(IDS_FIELD_REQUIRED), MB_OK | MB_ICONERROR, nullptr);
        FocusName();
        return false;
    }
    if ((m_fields & FDF_TEMPLATE) && m_templ.empty()) {
        m_host.ShowMessageBox(ResText(IDS_FIELD_REQUIRED), MB_OK | MB_ICONERROR, nullptr);
        SetFocus(Item(IDC_FORMAT_TEMPLATE));
        return false;
    }
    if ((m_fields & (FDF_TEMPLATE | FDF_PARAMS)) == (FDF_TEMPLATE | FDF_PARAMS)) {
        int position = -1;
        const HRESULT code = ValidateFormat(m_params, m_templ, &position, nullptr);
        if (FAILED(code)) {
            ShowValidationError(code, position);
            return false;
        }
    }
    m_fields |= FDF_KEY_FILTERS;
    CDocUpdateScope scope(m_host.GetTransferDoc(), this);
    if (!(m_addMode ? ApplyAdd() : ApplyEdit()))
        return false;
    EnableApply(false);
    return true;
}

bool CFormatDialog::ApplyAdd()
{
    CTransferDoc& doc = m_host.GetTransferDoc();
    for (const KvFormatPtr& f : doc.GetFormats())
        f->flags &= ~KVF_SELECTED;
    const int found = doc.FindFormatByName(m_name);
    if (found < 0) {
        _KV_FORMAT record;
        record.name = m_name;
        record.templ = m_templ;
        record.params = m_params;
        record.comment = m_comment;
        record.keyFilterMask = static_cast<int32_t>(m_mask);
        record.flags = KVF_SELECTED;
        doc.AddFormat(record);
    } else {
        if (!ConfirmReplace(m_name, 1))
            return false;
        const KvFormatPtr target = doc.GetFormats()[found];
        target->flags |= KVF_SELECTED;
        ApplyFieldsTo(target, FDF_ALL);
        doc.FormatListChanged(FDF_ALL);
    }
    m_addMode = false;
    m_count = 1;
    return true;
}

bool CFormatDialog::ApplyEdit()
{
    CTransferDoc& doc = m_host.GetTransferDoc();
    const auto& formats = doc.GetFormats();
    // Step 6: one regular format renamed to the name of another, which it replaces.
    if (m_count == 1 && m_presets == 0 && (m_fields & FDF_NAME)) {
        KvFormatPtr edited;
        int other = -1;
        for (size_t i = 0; i < formats.size(); ++i) {
            if (formats[i]->flags & KVF_SELECTED)
                edited = formats[i];
            else if (formats[i]->name == m_name)
                other = static_cast<int>(i);
        }
        if (edited && other >= 0) {
            if (!ConfirmReplace(m_name, 1))
                return false;
            doc.DeleteFormat(static_cast<size_t>(other));
            ApplyFieldsTo(edited, m_fields);
            return true;
        }
    }
    // Step 7: presets that would be saved as regular formats under a name already taken.
    for (const KvFormatPtr& f : formats)
        f->flags &= ~(KVF_MARK_DIALOG | KVF_MARK_PAGE);
    auto remainingFor = [this](const _KV_FORMAT& preset) {
        uint32_t fields = m_fields;
        if (preset.templ == m_templ)
            fields &= ~FDF_TEMPLATE;
        if (preset.params == m_params)
            fields &= ~FDF_PARAMS;
        if (preset.name.substr(1) == m_name)
            fields &= ~FDF_NAME;
        return fields;
    };
    auto targetName = [this](const _KV_FORMAT& preset, uint32_t fields) {
        return (fields & FDF_NAME) ? m_name : preset.name.substr(1);
    };
    int clashes = 0;
    std::wstring clashName;
    if (m_presets > 0 && (m_fields & (FDF_NAME | FDF_TEMPLATE | FDF_PARAMS))) {
        for (const KvFormatPtr& f : formats) {
            if (!(f->flags & KVF_SELECTED) || !f->IsPreset())
                continue;
            const uint32_t fields = remainingFor(*f);
            if (!(fields & (FDF_NAME | FDF_TEMPLATE | FDF_PARAMS)))
                continue;
            const std::wstring name = targetName(*f, fields);
            if (doc.GetFormatsByName().count(name)) {
                f->flags |= KVF_MARK_DIALOG;
                clashName = name;
                ++clashes;
            }
        }
        if (clashes > 0 && !ConfirmReplace(clashName, clashes))
            return false;
    }
    // Step 8.
    for (size_t i = 0; i < doc.GetFormats().size(); ++i) {
        const KvFormatPtr f = doc.GetFormats()[i];
        if (!(f->flags & KVF_SELECTED) || (f->flags & KVF_MARK_PAGE))
            continue;
        const uint32_t fields = f->IsPreset() ? remainingFor(*f) : m_fields;
        if (!f->IsPreset() || !(fields & (FDF_NAME | FDF_TEMPLATE | FDF_PARAMS))) {
            ApplyFieldsTo(f, f->IsPreset() ? (fields & (FDF_COMMENT | FDF_KEY_FILTERS)) : fields);
            continue;
        }
        f->flags &= ~KVF_SELECTED;
        const std::wstring name = targetName(*f, fields);
        if (f->flags & KVF_MARK_DIALOG) {
            for (const KvFormatPtr& other : doc.GetFormats())
                if (other != f && other->name == name) {
                    other->flags |= KVF_SELECTED | KVF_MARK_PAGE;
                    ApplyFieldsTo(other, fields);
                    break;
                }
            continue;
        }
        _KV_FORMAT copy;
        copy.id = doc.NextFormatId();
        copy.name = name;
        copy.templ = (fields & FDF_TEMPLATE) ? m_templ : f->templ;
        copy.params = (fields & FDF_PARAMS) ? m_params : f->params;
        copy.comment = (m_fields & FDF_COMMENT) ? m_comment : f->comment;
        copy.keyFilterMask =
            static_cast<int32_t>((static_cast<uint32_t>(f->keyFilterMask) & ~m_determinate) | (m_mask & m_determinate));
        copy.flags = KVF_SELECTED | KVF_MARK_PAGE;
        doc.InsertFormat(i + 1, copy);
        ++i;
    }
    return true;
}

void CFormatDialog::ToggleKeyFilterRow(int row)
{
    const int id = m_rows.BitOf(row);
    if (id < 0)
        return;
    const uint32_t bit = KeyFilterBit(static_cast<uint32_t>(id));
    if (m_agreement & bit) {
        m_mask ^= bit;
    } else if (!(m_determinate & bit)) {
        m_determinate |= bit;  // indeterminate -> unchecked
        m_mask &= ~bit;
    } else if (!(m_mask & bit)) {
        m_mask |= bit;  // unchecked -> checked
    } else {
        m_determinate &= ~bit;  // checked -> indeterminate
        m_mask &= ~bit;
    }
    InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
    EnableApply(true);
}

bool CFormatDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_FORMAT_APPLY:
        Apply();
        return true;
    case IDC_FORMAT_CHECK:
        Check();
        return true;
    case IDC_FORMAT_NAME:
    case IDC_FORMAT_TEMPLATE:
    case IDC_FORMAT_PARAMS:
    case IDC_FORMAT_COMMENT:
        if (code == EN_CHANGE)
            EnableApply(true);
        return true;
    case IDC_FORMAT_PREVIEW_LABEL:
        if (code == STN_DBLCLK)
            RefreshPreview();
        return true;
    case ID_PREVIEW_MENU:
        TrackMenu(IDM_FORMAT_EXAMPLE, POINT{-1, -1});
        return true;
    case ID_LAST_KEY:
        ShowLastKeyDialog(m_host, m_hWnd);
        RefreshPreview();
        return true;
    case ID_PREVIEW_REFRESH:
        RefreshPreview();
        return true;
    case ID_FILTERS_CHECK_ALL:
    case ID_FILTERS_UNCHECK_ALL:
        m_mask = id == ID_FILTERS_CHECK_ALL ? 0xFFFFFFFF : 0;
        m_determinate = 0xFFFFFFFF;
        InvalidateRect(m_list.m_hWnd, nullptr, FALSE);
        EnableApply(true);
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

bool CFormatDialog::OnNotify(int id, NMHDR* nmh, LRESULT* result)
{
    if (id == IDC_FORMAT_KEY_FILTERS && nmh->code == NM_RCLICK) {
        TrackMenu(IDM_FORMAT_KEY_FILTERS, POINT{-1, -1}, {}, TPM_LEFTBUTTON | TPM_RIGHTBUTTON);
        return true;
    }
    if (nmh->code == TTN_GETDISPINFOW && nmh->idFrom == ID_PREVIEW_MENU) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(nmh);
        m_host.GetCommandTipText(ID_PREVIEW_MENU, info->szText, ARRAYSIZE(info->szText));
        info->lpszText = info->szText;
        return true;
    }
    return CModalDialog::OnNotify(id, nmh, result);
}

bool ShowNewFormatDialog(IPageHost& host, int* index, HWND owner)
{
    CFormatDialog dialog(host);
    dialog.m_addMode = true;
    dialog.m_mask = KeyFilterBit(host.GetTransferDoc().selectedKeyFilter);
    dialog.m_fields = FDF_KEY_FILTERS;
    if (dialog.RunModal(owner) != IDOK)
        return false;
    if (index) {
        const auto& formats = host.GetTransferDoc().GetFormats();
        *index = static_cast<int>(formats.size()) - 1;
        for (size_t i = 0; i < formats.size(); ++i)
            if (formats[i]->flags & KVF_SELECTED)
                *index = static_cast<int>(i);
    }
    return true;
}
