#include "pages/KeyDialog.h"

#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cwchar>

#include "config/AppSettings.h"
#include "core/TextUtil.h"
#include "pages/PageHost.h"
#include "resources/resource.h"

namespace {

constexpr int kKeyTypeNames = 22;
constexpr int kPlacementSlot = 5;
constexpr UINT kErrorStyle = 0x10;
constexpr UINT kQuestionStyle = 0x21;
const wchar_t kDecimalDigits[] = L"0123456789";
const wchar_t kHexDigits[] = L"0123456789abcdefABCDEF";

// Bytes from `from` up to the length, last first, in brackets with a blank after them.
std::wstring BracketHex(const _KEY_NUMBER& key, int from)
{
    std::wstring text = L"[";
    for (int i = std::min<int>(key.length, KEY_NUMBER_MAX_BYTES) - 1; i >= from; --i) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%.2X", key.bytes[i]);
        text += pair;
    }
    return text + L"] ";
}

unsigned Low16(const _KEY_NUMBER& key)
{
    return key.bytes[0] | (key.bytes[1] << 8);
}

// " " + 2n "A" + "  " + digits as the mask; "[" + 2n "_" + "] " + the digits' template.
KeyNumberMask BracketMask(unsigned codeBytes, const std::wstring& digitsMask, const std::wstring& digitsTemplate)
{
    const std::wstring hexMask(2 * codeBytes, L'A');
    const std::wstring hexTemplate(2 * codeBytes, L'_');
    return {L" " + hexMask + L"  " + digitsMask, L"[" + hexTemplate + L"] " + digitsTemplate, kHexDigits};
}

HWND LabelBefore(HWND control)
{
    return control ? GetWindow(control, GW_HWNDPREV) : nullptr;
}

} // namespace

unsigned ClampKeySize(unsigned size)
{
    return std::clamp(size, kMinKeySize, kMaxKeySize);
}

std::wstring KeyNumberToInputText(const _KEY_NUMBER& key, int format)
{
    const int length = std::min<int>(key.length, KEY_NUMBER_MAX_BYTES);
    std::wstring text;
    wchar_t digits[32];
    switch (format) {
    case KEY_INPUT_FACILITY:
        if (length == 0)
            return {};
        if (length > 3)
            text = BracketHex(key, 3);
        swprintf(digits, 32, L"%.3u,%.5u", static_cast<unsigned>(key.bytes[2]), Low16(key));
        return text + digits;
    case KEY_INPUT_SHORT:
        if (length > 2)
            text = BracketHex(key, 2);
        swprintf(digits, 32, L"%.5u", Low16(key));
        return text + digits;
    case KEY_INPUT_LONG: {
        if (length > 8)
            text = BracketHex(key, 8);
        const unsigned long long value = KeyToUInt64(key);
        swprintf(digits, 32, length > 8 ? L"%.20llu" : L"%llu", value);
        return text + digits;
    }
    default:
        KeyToHex(text, key);
        return text;
    }
}

KeyNumberMask MakeKeyNumberMask(int format, unsigned size)
{
    switch (format) {
    case KEY_INPUT_FACILITY:
        if (size < 4)
            return {L"ddd,ddddd", L"___,_____", kDecimalDigits};
        return BracketMask(size - 3, L"ddd,ddddd", L"___,_____");
    case KEY_INPUT_SHORT:
        if (size < 3)
            return {L"ddddd", L"_____", kDecimalDigits};
        return BracketMask(size - 2, L"ddddd", L"_____");
    case KEY_INPUT_LONG:
        if (size < 9)
            return {L"", L"", L"1234567890"};
        return BracketMask(size - 8, std::wstring(20, L'd'), std::wstring(20, L'_'));
    default:
        return {std::wstring(2 * size, L'A'), std::wstring(2 * size, L'_'), kHexDigits};
    }
}

bool ReadKeyInputText(const std::wstring& text, int format, unsigned size, _KEY_NUMBER& key)
{
    _KEY_NUMBER read = key;
    bool ok;
    switch (format) {
    case KEY_INPUT_FACILITY: ok = ParseFacilityKeyText(text, read); break;
    case KEY_INPUT_SHORT: ok = ParseShortKeyText(text, read); break;
    case KEY_INPUT_LONG: ok = ParseLongKeyText(text, read); break;
    default: ok = ParseKeyText(text, KEY_TEXT_HEX, read); break;
    }
    if (!ok)
        return false;
    const unsigned length = std::clamp<unsigned>(size, 1, KEY_NUMBER_MAX_BYTES);
    for (unsigned i = length; i < KEY_NUMBER_MAX_BYTES; ++i)
        read.bytes[i] = 0;
    read.length = static_cast<uint8_t>(length);
    key = read;
    return true;
}

// ---- CKeyDialog ----

CKeyDialog::CKeyDialog(IPageHost& host) : CModalDialog(IDD_KEY_DIALOG), m_host(host)
{
    m_minTrackSize = {450, 220};
    const CAppSettings& settings = host.GetSettings();
    keyType = settings.lastKeyType;
    number = settings.lastKey;
    inputFormat = settings.GetKeyEditFormat();
}

void CKeyDialog::SetKey(int32_t type, const _KEY_NUMBER& key)
{
    keyList = nullptr;
    uniform = KDF_TYPE | KDF_SIZE | KDF_NUMBER;
    keyType = type;
    number = key;
    size = m_loadedSize = key.length ? std::clamp<unsigned>(key.length, 1, KEY_NUMBER_MAX_BYTES) : 5;
}

void CKeyDialog::OnSize(UINT, int width, int height)
{
    if (m_layout.parent)
        ApplyLayout(m_layout, width, height);
}

void CKeyDialog::OnDestroy()
{
    m_host.ExchangeWindowPlacement(true, m_hWnd, kPlacementSlot);
    m_numberEdit.Destroy();
}

bool CKeyDialog::OnInitDialog()
{
    SendItem(IDC_KEY_SIZE_SPIN, UDM_SETRANGE32, kMinKeySize, kMaxKeySize);
    m_numberEdit.Attach(Item(IDC_KEY_NUMBER));

    // The check boxes stand over the labels they replace.
    for (int id : {IDC_KEY_SIZE_CHECK, IDC_KEY_NUMBER_CHECK}) {
        HWND check = Item(id);
        HWND label = LabelBefore(check);
        RECT r;
        if (label && GetWindowRect(label, &r)) {
            MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
            SetWindowPos(check, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }

    HWND formats = Item(IDC_KEY_INPUT_FORMAT);
    for (int format = KEY_INPUT_FACILITY; format <= KEY_INPUT_LONG; ++format) {
        std::wstring name;
        LoadResString(IDS_KEY_INPUT_FORMAT_BASE + format, name);
        SendMessageW(formats, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    if (inputFormat < KEY_INPUT_FACILITY || inputFormat > KEY_INPUT_LONG)
        inputFormat = KEY_INPUT_HEX;
    SendMessageW(formats, CB_SETCURSEL, static_cast<WPARAM>(inputFormat - 1), 0);

    if (keyList) {
        if (selection.empty()) {
            size = number.length ? ClampKeySize(number.length) : 5;
            uniform = KDF_TYPE | KDF_SIZE | KDF_NUMBER;
        } else {
            const _KV_KEY& first = *selection.front();
            keyType = first.keyType;
            number = first.keyNumber;
            // A longer key than can be typed keeps its size unless the user types another.
            size = m_loadedSize = std::clamp<unsigned>(number.length, 1, KEY_NUMBER_MAX_BYTES);
            uniform = KDF_TYPE | KDF_SIZE | KDF_NUMBER;
            for (size_t i = 1; i < selection.size(); ++i) {
                const _KV_KEY& entry = *selection[i];
                if (entry.keyType != first.keyType)
                    uniform &= ~KDF_TYPE;
                if (entry.keyNumber.length != first.keyNumber.length)
                    uniform &= ~KDF_SIZE;
                if (CompareKeys(entry.keyNumber, first.keyNumber) != 0)
                    uniform &= ~KDF_NUMBER;
            }
        }
    }
    size = ReadSize(size);
    state = uniform;

    HWND types = Item(IDC_KEY_TYPE);
    SendMessageW(types, CB_RESETCONTENT, 0, 0);
    if (HasStarEntry())
        SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"*"));
    for (const std::wstring& name : m_host.GetKeyTypeNames())
        SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));

    m_layout = {};
    m_layout.parent = m_hWnd;
    m_layout.Add(IDC_KEY_NUMBER_GROUP, ANCHOR_LEFT | ANCHOR_RIGHT);
    m_layout.Add(IDC_KEY_NUMBER, ANCHOR_LEFT | ANCHOR_RIGHT);
    m_layout.Add(IDC_KEY_NUMBER_CHECK, ANCHOR_LEFT | ANCHOR_RIGHT);
    m_layout.Add(IDC_KEY_INPUT_FORMAT, ANCHOR_RIGHT);
    if (HWND label = LabelBefore(formats))
        m_layout.Add(GetDlgCtrlID(label), ANCHOR_RIGHT);
    m_layout.Add(IDOK, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_layout.Add(IDCANCEL, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    CaptureLayout(m_layout);

    ExchangeData(false);
    m_host.ExchangeWindowPlacement(false, m_hWnd, kPlacementSlot);
    return true;
}

void CKeyDialog::ExchangeData(bool save)
{
    HWND sizeCheck = Item(IDC_KEY_SIZE_CHECK);
    HWND numberCheck = Item(IDC_KEY_NUMBER_CHECK);
    if (!save) {
        UpdatingScope updating(m_hWnd);
        const int typeIndex = (state & KDF_TYPE) ? keyType + (HasStarEntry() ? 1 : 0) : 0;
        SendItem(IDC_KEY_TYPE, CB_SETCURSEL, static_cast<WPARAM>(typeIndex), 0);
        CheckItem(IDC_KEY_SIZE_CHECK, (state & KDF_SIZE));
        ShowWindow(sizeCheck, (uniform & KDF_SIZE) ? SW_HIDE : SW_SHOW);
        ShowWindow(LabelBefore(sizeCheck), (uniform & KDF_SIZE) ? SW_SHOW : SW_HIDE);
        SetDlgItemInt(m_hWnd, IDC_KEY_SIZE, size, FALSE);
        CheckItem(IDC_KEY_NUMBER_CHECK, (state & KDF_NUMBER));
        ShowWindow(numberCheck, (uniform & KDF_NUMBER) ? SW_HIDE : SW_SHOW);
        ShowWindow(LabelBefore(numberCheck), (uniform & KDF_NUMBER) ? SW_SHOW : SW_HIDE);
        SetNumberMask();
        ExchangeNumber(false);
        UpdateControlStates();
        return;
    }
    ReadTypeSelection();
    BOOL valid = FALSE;
    const UINT typed = GetDlgItemInt(m_hWnd, IDC_KEY_SIZE, &valid, FALSE);
    if (valid)
        size = ReadSize(typed);
    state = (state & ~KDF_SIZE) | (IsItemChecked(IDC_KEY_SIZE_CHECK) ? KDF_SIZE : 0);
    state = (state & ~KDF_NUMBER) | (IsItemChecked(IDC_KEY_NUMBER_CHECK) ? KDF_NUMBER : 0);
    // Uniform values have no check box: they are always applied.
    state |= uniform & (KDF_SIZE | KDF_NUMBER);
}

unsigned CKeyDialog::ReadSize(unsigned typed) const
{
    return m_loadedSize && typed == m_loadedSize ? typed : ClampKeySize(typed);
}

void CKeyDialog::ReadTypeSelection()
{
    const LRESULT selected = SendItem(IDC_KEY_TYPE, CB_GETCURSEL, 0, 0);
    const LRESULT index = selected - (HasStarEntry() ? 1 : 0);
    if (selected != CB_ERR && index >= 0 && index < kKeyTypeNames) {
        keyType = static_cast<int32_t>(index);
        state |= KDF_TYPE;
    } else {
        state &= ~KDF_TYPE;
    }
}

bool CKeyDialog::ExchangeNumber(bool save)
{
    if (!save) {
        if (number.length != size) {
            for (unsigned i = std::min<unsigned>(number.length, KEY_NUMBER_MAX_BYTES); i < KEY_NUMBER_MAX_BYTES; ++i)
                number.bytes[i] = 0;
            for (unsigned i = size; i < KEY_NUMBER_MAX_BYTES; ++i)
                number.bytes[i] = 0;
            number.length = static_cast<uint8_t>(size);
        }
        m_numberEdit.SetText(KeyNumberToInputText(number, inputFormat), true);
        return true;
    }
    if (!(state & KDF_NUMBER))
        return true;
    std::wstring text = m_numberEdit.GetCurrentText();
    std::replace(text.begin(), text.end(), L'_', L'0');
    if (text.empty()) {
        number = {};
        return true;
    }
    return ReadKeyInputText(text, inputFormat, size, number);
}

void CKeyDialog::SetNumberMask()
{
    const KeyNumberMask mask = MakeKeyNumberMask(inputFormat, size);
    m_numberEdit.SetMask(mask.mask, mask.templ, L'0', mask.valid.c_str());
}

void CKeyDialog::UpdateControlStates()
{
    const bool sizeOn = (state & KDF_SIZE) != 0;
    EnableItem(IDC_KEY_SIZE, sizeOn);
    EnableItem(IDC_KEY_SIZE_SPIN, sizeOn);
    bool numberOn = (state & (KDF_SIZE | KDF_NUMBER)) != 0;
    // One number cannot be given to several entries of a list without duplicates.
    if ((m_host.GetTransferDoc().keyListNoDuplicates & 1) && selection.size() >= 2)
        numberOn = false;
    EnableWindow(m_numberEdit.m_hWnd, numberOn);
}

bool CKeyDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_KEY_TYPE:
        if (code == CBN_SELCHANGE)
            ReadTypeSelection();
        return true;
    case IDC_KEY_SIZE:
        if (code == EN_CHANGE && m_numberEdit.m_hWnd) {
            BOOL valid = FALSE;
            const UINT typed = GetDlgItemInt(m_hWnd, IDC_KEY_SIZE, &valid, FALSE);
            if (valid) {
                const unsigned saved = state;
                state |= KDF_NUMBER;
                ExchangeNumber(true);
                state = saved;
                size = ReadSize(typed);
                SetNumberMask();
                ExchangeNumber(false);
            }
        }
        return true;
    case IDC_KEY_SIZE_CHECK:
    case IDC_KEY_NUMBER_CHECK:
        if (code == BN_CLICKED) {
            const unsigned bit = id == IDC_KEY_SIZE_CHECK ? KDF_SIZE : KDF_NUMBER;
            state = IsItemChecked(id) ? (state | bit) : (state & ~bit);
            UpdateControlStates();
        }
        return true;
    case IDC_KEY_INPUT_FORMAT:
        if (code == CBN_SELCHANGE) {
            const LRESULT selected = SendMessageW(control, CB_GETCURSEL, 0, 0);
            if (selected >= 0 && selected <= 3) {
                const unsigned saved = state;
                state |= KDF_NUMBER;
                ExchangeNumber(true);
                state = saved;
                inputFormat = static_cast<int>(selected) + 1;
                SetNumberMask();
                ExchangeNumber(false);
            }
        }
        return true;
    default:
        return CModalDialog::OnCommand(id, code, control);
    }
}

void CKeyDialog::ShowError(UINT stringId, const std::wstring& argument)
{
    std::wstring text;
    FormatResString(text, stringId, argument.c_str());
    m_host.ShowMessageBox(text, kErrorStyle, nullptr);
    SetFocus(m_numberEdit.m_hWnd);
}

bool CKeyDialog::ConfirmReplace(const _KV_KEY& existing)
{
    CAppSettings& settings = m_host.GetSettings();
    if (!(settings.GetConfirmFlags() & CONFIRM_REPLACE))
        return true;
    std::wstring keyText, question;
    KeyToText(keyText, existing.keyNumber, ResolveKeyViewFormat(settings.GetKeyViewFormat(), existing.keyType));
    FormatResString(question, IDS_ITEM_EXISTS_REPLACE, keyText.c_str());
    bool dontAsk = false;
    const int answer = m_host.ShowMessageBox(question, kQuestionStyle, &dontAsk);
    if (dontAsk) {
        CDocUpdateScope scope(settings);
        settings.SetConfirmFlags(settings.GetConfirmFlags() & ~CONFIRM_REPLACE);
    }
    return answer == IDOK;
}

bool CKeyDialog::Apply()
{
    ExchangeData(true);
    if (!ExchangeNumber(true)) {
        ShowError(IDS_KEY_NUMBER_UNREADABLE, m_numberEdit.GetCurrentText());
        return false;
    }
    CAppSettings& settings = m_host.GetSettings();
    settings.SetKeyEditFormat(inputFormat);

    CTransferDoc& doc = m_host.GetTransferDoc();
    CDocUpdateScope scope(doc, this);
    settings.SetLastTypedKey((state & KDF_TYPE) ? keyType : settings.lastKeyType,
                             (state & KDF_NUMBER) ? number : settings.lastKey);
    if (!keyList)
        return true;
    if ((state & KDF_NUMBER) && number.length == 0) {
        ShowError(IDS_FIELD_REQUIRED, L"");
        return false;
    }
    const bool noDuplicates = (doc.keyListNoDuplicates & 1) != 0;
    std::vector<KvKeyPtr>& keys = doc.Keys();

    if (selection.empty()) {
        if (noDuplicates) {
            auto found = FindKeyInList(keys, keyType, number);
            if (found != keys.end()) {
                if (!ConfirmReplace(**found))
                    return false;
                (*found)->flags |= KVKEY_DELETE;
                doc.DeleteMarkedKeys();
            }
        }
        for (const KvKeyPtr& entry : keys)
            entry->flags &= ~KVKEY_SELECTED;
        _KV_KEY added;
        added.keyType = keyType;
        added.keyNumber = number;
        added.flags = KVKEY_SELECTED;
        doc.AddKey(added);
        return true;
    }

    if ((state & (KDF_TYPE | KDF_NUMBER)) && noDuplicates && selection.size() == 1) {
        const _KV_KEY& entry = *selection.front();
        const int32_t newType = (state & KDF_TYPE) ? keyType : entry.keyType;
        const _KEY_NUMBER newNumber = (state & KDF_NUMBER) ? number : entry.keyNumber;
        auto found = FindKeyInList(keys, newType, newNumber);
        if (found != keys.end() && found->get() != &entry) {
            if (!ConfirmReplace(**found))
                return false;
            (*found)->flags |= KVKEY_DELETE;
            doc.DeleteMarkedKeys();
        }
    }

    uint32_t changes = 0;
    for (const KvKeyPtr& entry : selection) {
        uint32_t changed = 0;
        if ((state & KDF_TYPE) && entry->keyType != keyType) {
            entry->keyType = keyType;
            changed |= 1;
        }
        if ((state & KDF_SIZE) && entry->keyNumber.length != size) {
            const unsigned from = std::min<unsigned>(entry->keyNumber.length, size);
            for (unsigned i = from; i < KEY_NUMBER_MAX_BYTES; ++i)
                entry->keyNumber.bytes[i] = 0;
            entry->keyNumber.length = static_cast<uint8_t>(size);
            changed |= 2;
        }
        if ((state & KDF_NUMBER) && CompareKeys(entry->keyNumber, number) != 0) {
            entry->keyNumber = number;
            changed |= 2;
        }
        if (changed) {
            entry->flags &= ~(KVKEY_FORMAT_NAME_CURRENT | KVKEY_OUTPUT_CURRENT);
            if (entry->flags & KVKEY_TRANSFERRED) {
                entry->flags &= ~KVKEY_TRANSFERRED;
                changed |= 4;
            }
        }
        changes |= changed;
    }
    if (changes)
        doc.RaiseKeyListChange(changes, true);
    return true;
}

void ShowLastKeyDialog(IPageHost& host, HWND owner)
{
    CAppSettings& settings = host.GetSettings();
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    _KEY_NUMBER key = last.keyNumber;
    if (key.length == 0)
        key.length = 5;

    CKeyDialog dialog(host);
    dialog.SetKey(last.keyType, key);
    if (dialog.RunModal(owner) != IDOK)
        return;
    CTimeValue now;
    now.SetCurrentTime();
    CDocUpdateScope scope(settings);
    settings.SetLastTransferInfo(now, dialog.keyType, dialog.number, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
}
