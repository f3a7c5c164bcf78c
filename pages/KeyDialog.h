#pragma once
// The key dialog: a key's type, size and number typed in one of four input formats. It adds a
// key to the key list, changes the selected entries, or edits the application's last key.
#include <string>
#include <vector>

#include "config/TransferRecords.h"
#include "framework/Dialog.h"
#include "framework/Layout.h"
#include "framework/MaskedEdit.h"

class IPageHost;

// The forms in which a key number is typed ("keyEditFormat").
enum KeyInputFormat : int
{
    KEY_INPUT_NONE = 0,      // not chosen yet
    KEY_INPUT_FACILITY = 1,  // Em-Marine: [code] 005,00042
    KEY_INPUT_SHORT = 2,     // HID: [code] 00042
    KEY_INPUT_HEX = 3,
    KEY_INPUT_LONG = 4,      // decimal + code: [code] 327722
};

// Sizes a typed key may have, in bytes.
constexpr unsigned kMinKeySize = 1;
constexpr unsigned kMaxKeySize = 16;
unsigned ClampKeySize(unsigned size);

// The text of the number in an input format (hex digits upper case, last byte first).
std::wstring KeyNumberToInputText(const _KEY_NUMBER& key, int format);

// What the number edit takes in a format and size: the mask and template of CMaskedEdit::SetMask
// (both empty for free text) and the characters it accepts.
struct KeyNumberMask
{
    std::wstring mask;
    std::wstring templ;
    std::wstring valid;
};
KeyNumberMask MakeKeyNumberMask(int format, unsigned size);

// Reads a typed number in an input format; the length becomes the size (1 to 19). False, with
// key unchanged, when the form cannot read the text.
bool ReadKeyInputText(const std::wstring& text, int format, unsigned size, _KEY_NUMBER& key);

// uniform and state bits.
constexpr unsigned KDF_TYPE = 0x1;
constexpr unsigned KDF_SIZE = 0x2;
constexpr unsigned KDF_NUMBER = 0x4;

class CKeyDialog : public CModalDialog
{
public:
    // Starts from the settings' last typed key and "keyEditFormat".
    explicit CKeyDialog(IPageHost& host);

    bool OnCommand(int id, int code, HWND control) override;

    // The last-key use: no key list, the caller's key.
    void SetKey(int32_t type, const _KEY_NUMBER& number);

    // Whether the dialog may close: the edits stored into the documents.
    bool Apply();

    std::vector<KvKeyPtr>* keyList = nullptr;  // null for the last-key use
    std::vector<KvKeyPtr> selection;           // empty when adding
    unsigned uniform = KDF_TYPE | KDF_SIZE | KDF_NUMBER;
    unsigned state = 0;
    int32_t keyType = 0;
    unsigned size = 5;
    _KEY_NUMBER number{};
    int inputFormat = KEY_INPUT_NONE;

protected:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    bool OnAccept() override { return Apply(); }
    void ExchangeData(bool save);
    // False when the edit's text could not be read (the number is then unchanged).
    bool ExchangeNumber(bool save);
    void SetNumberMask();
    void UpdateControlStates();
    void ReadTypeSelection();
    // A typed size held to 1 to 16; the size of the entries being changed stays as it is.
    unsigned ReadSize(unsigned typed) const;
    bool HasStarEntry() const { return !(uniform & KDF_TYPE); }
    // Asks whether an existing entry may be replaced; false when the user refuses.
    bool ConfirmReplace(const _KV_KEY& existing);
    void ShowError(UINT stringId, const std::wstring& argument);

    IPageHost& m_host;
    unsigned m_loadedSize = 0;  // the selected entries' size, 0 when adding
    AnchorLayout m_layout;
    CMaskedEdit m_numberEdit;
};

// The key dialog on the application's last key; on OK what it holds becomes the last key of the
// settings, stamped now.
void ShowLastKeyDialog(IPageHost& host, HWND owner);
