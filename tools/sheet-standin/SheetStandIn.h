#pragma once
// A stand-in for the spreadsheet applications that the table back-ends drive by late binding.
// It answers, by name through IDispatch, the members the back-ends call, holds one sheet of
// VARIANT cells per workbook or document, and saves and opens sheets in a plain text format of
// its own at the path given. Every call is logged, one line each, with its arguments; a member
// named in the options fails with the code given.
//
// Log lines: "<object>.<member>(<arguments>)" for methods and property reads, and
// "<object>.<member> = <value>" for property writes. Values: empty, true, false, i4:N, i8:N,
// r8:N (shortest form), "text" (backslash, quote, CR, LF and TAB escaped), the label of one of
// the stand-in's own objects (Range[B2:B5], PropertyValue(Hidden=true), ...), and arrays as
// array(<lower>..<upper>[,<lower>..<upper>])[cells], a two-dimensional one row by row with
// rows separated by "; ".
//
// The file: the line "NORVANE-SHEET 1", then one line per cell that is not empty:
// "<row>\t<column>\t<type>\t<value>" (1-based; type s text, n double, i 64-bit integer,
// l 32-bit integer, b boolean), texts escaped as in the log, without quotes; last the line
// "END <cell count>", so that a file cut short does not open.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

enum class SheetFlavour
{
    Excel,   // "Excel.Application": Application, Workbooks, Workbook, Range, ...
    Calc,    // "com.sun.star.ServiceManager": Desktop, document, sheets, cell ranges, ...
};

struct SheetFailure
{
    std::wstring member;   // compared without regard to case
    HRESULT code;
};

struct SheetStandInOptions
{
    std::wstring logPath;                // appended to, UTF-8; empty: no log
    std::vector<SheetFailure> failures;
    // "flat": getDataArray gives a one-dimensional array of texts; "short": every row after
    // the first lacks its last cell. Anything else: the true shape.
    std::wstring dataArrayShape;
};

// Class ids under which the server registers itself for the two program ids.
extern const CLSID CLSID_SheetStandInExcel;
extern const CLSID CLSID_SheetStandInCalc;
extern const wchar_t* const kSheetStandInExcelProgId;   // "Excel.Application"
extern const wchar_t* const kSheetStandInCalcProgId;    // "com.sun.star.ServiceManager"

// The environment of the server process (inherited from the client that started it):
// NORVANE_SHEET_LOG the log path, NORVANE_SHEET_FAIL "member=code[,member=code...]" with a
// hexadecimal or decimal code, NORVANE_SHEET_SHAPE the data-array shape.
SheetStandInOptions SheetStandInOptionsFromEnvironment();

// The application object (Excel's server object, Calc's service manager).
HRESULT CreateSheetStandIn(SheetFlavour flavour, const SheetStandInOptions& options, IDispatch** object);

// Objects of the stand-in alive in this process; the server ends when the last one goes.
LONG SheetStandInObjectCount();
// Called (on the releasing thread) when the count drops to zero.
void SetSheetStandInIdleCallback(void (*callback)());

// The file format, for tests that write or read such a file themselves.
struct SheetFileCell
{
    int row;      // 1-based
    int column;   // 1-based
    VARIANT value;
};
bool WriteSheetFile(const std::wstring& path, const std::vector<SheetFileCell>& cells);
// The cells of a file; false for a missing or malformed file. The caller clears the values.
bool ReadSheetFile(const std::wstring& path, std::vector<SheetFileCell>& cells);
