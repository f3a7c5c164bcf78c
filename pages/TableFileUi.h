#pragma once
// What the table import and export commands (the key list, the formats list) ask of the user:
// the append modifier and the file dialogs, behind an interface that tests answer.
#include <windows.h>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "pages/TableIo.h"

struct CsvOptions;

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

// What an export kind writes.
enum TableExportTarget : int
{
    TET_CSV,
    TET_EXCEL,
    TET_EXCEL97,
    TET_CALC,
    TET_OTHER,   // a file of the command's own (TableExportWriter::writeOther)
};

// One export kind of a command.
struct TableExportKind
{
    int filterIndex;            // in the save dialog; 0: a new table left open, no file
    const wchar_t* extension;   // added to a file name without one
    TableExportTarget target;
};

// The export kinds of a command, indexed by kind (from 1), and the kind of each filter index of
// its save dialog (filterId).
struct TableExportKinds
{
    UINT filterId;
    std::span<const TableExportKind> kinds;
    std::span<const int> kindOfFilter;
};

// How a command writes its export: its table through any back-end, the columns Excel keeps as
// text, the CSV settings, and the kinds of its own.
struct TableExportWriter
{
    std::function<void(CBTableExport& table, const wchar_t* file)> writeTable;
    std::vector<int> excelTextColumns;
    const CsvOptions& csv;
    std::function<void(int kind, const wchar_t* file)> writeOther;
};

// An export command of a known kind. A kind that leaves its table open is stored and written
// at once. Another asks for the file, offering the kind's filter first; the kind of the filter
// chosen is stored, and the file, with that kind's extension when the name came without one,
// written. An unknown kind does nothing. False when the dialog was cancelled.
bool RunTableExport(ITableFileUi& ui, const TableExportKinds& kinds, int kind, const std::function<void(int)>& store,
                    const TableExportWriter& writer);
