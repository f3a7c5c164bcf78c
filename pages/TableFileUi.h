#pragma once
// What the table import and export commands (the key list, the formats list) ask of the user:
// the append modifier and the file dialogs, behind an interface that tests answer.
#include <windows.h>
#include <span>
#include <string>

class ITableFileUi
{
public:
    // Whether the user holds the modifier that makes an import append (Shift).
    virtual bool IsAppendHeld() = 0;
    // The open (save) dialog with the filter string filterId; filterIndex in and out. False
    // when cancelled.
    virtual bool ChooseFile(bool save, UINT filterId, int& filterIndex, std::wstring& path) = 0;

protected:
    ~ITableFileUi() = default;
};

// The real dialogs, owned by a window.
class CTableFileUi final : public ITableFileUi
{
public:
    explicit CTableFileUi(HWND owner) : m_owner(owner) {}
    bool IsAppendHeld() override;
    bool ChooseFile(bool save, UINT filterId, int& filterIndex, std::wstring& path) override;

private:
    HWND m_owner;
};

// The export kinds of a command as its save dialog lists them: the filter index of each kind
// (0: none), the kind of each filter index, and the extension of each kind.
struct TableExportFilters
{
    std::span<const int> filterOfKind;
    std::span<const int> kindOfFilter;
    std::span<const wchar_t* const> extensionOfKind;
};

// The save dialog of an export, offering kind's filter first. Then kind is the kind of the
// filter chosen (0 for an index that names none) and path has that kind's extension when the
// name came without one. False when cancelled.
bool ChooseExportFile(ITableFileUi& ui, UINT filterId, const TableExportFilters& filters, int& kind,
                      std::wstring& path);
