// The stand-in's objects. Each object knows its members by name; Invoke logs the call, fails it
// when the options name the member, and hands it to the object's Call.
#include "tools/sheet-standin/SheetStandIn.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <map>
#include <memory>
#include <set>
#include <utility>

// {7F8383E9-262C-4819-AD93-3C0D318AE5FD}
const CLSID CLSID_SheetStandInExcel = {0x7f8383e9, 0x262c, 0x4819, {0xad, 0x93, 0x3c, 0x0d, 0x31, 0x8a, 0xe5, 0xfd}};
// {FBE8BF95-CF54-489B-85B8-E88B0E84AE7C}
const CLSID CLSID_SheetStandInCalc = {0xfbe8bf95, 0xcf54, 0x489b, {0x85, 0xb8, 0xe8, 0x8b, 0x0e, 0x84, 0xae, 0x7c}};
const wchar_t* const kSheetStandInExcelProgId = L"Excel.Application";
const wchar_t* const kSheetStandInCalcProgId = L"com.sun.star.ServiceManager";

namespace {

constexpr HRESULT kExcelFailure = static_cast<HRESULT>(0x800A03EC);
constexpr int kExcelRows = 1048576;
constexpr int kExcelColumns = 16384;

std::atomic<LONG> g_objects{0};
void (*g_idleCallback)() = nullptr;

// ---- Values

class Var
{
public:
    Var() { VariantInit(&v); }
    explicit Var(const VARIANT& source)
    {
        VariantInit(&v);
        VariantCopyInd(&v, const_cast<VARIANT*>(&source));
    }
    Var(const Var& other) : Var(other.v) {}
    Var& operator=(const Var& other)
    {
        if (this != &other) {
            VariantClear(&v);
            VariantCopyInd(&v, const_cast<VARIANT*>(&other.v));
        }
        return *this;
    }
    ~Var() { VariantClear(&v); }
    VARIANT v;
};

std::wstring Lower(std::wstring text)
{
    for (auto& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring Escape(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'"': out += L"\\\""; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        case L'\t': out += L"\\t"; break;
        default: out += c;
        }
    }
    return out;
}

bool Unescape(const std::wstring& text, std::wstring& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case L'\\': out += L'\\'; break;
        case L'"': out += L'"'; break;
        case L'r': out += L'\r'; break;
        case L'n': out += L'\n'; break;
        case L't': out += L'\t'; break;
        default: return false;
        }
    }
    return true;
}

std::wstring NumberText(double value)
{
    wchar_t buffer[64];
    for (int digits = 1; digits <= 17; ++digits) {
        swprintf(buffer, 64, L"%.*g", digits, value);
        if (wcstod(buffer, nullptr) == value)
            break;
    }
    return buffer;
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring ColumnName(int column)   // 1-based
{
    std::wstring name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), static_cast<wchar_t>(L'A' + (column - 1) % 26));
    return name;
}

struct Rect
{
    int top, left, bottom, right;   // 1-based, inclusive
    bool Contains(int row, int column) const
    {
        return row >= top && row <= bottom && column >= left && column <= right;
    }
    std::wstring Name() const
    {
        std::wstring first = ColumnName(left) + std::to_wstring(top);
        if (top == bottom && left == right)
            return first;
        return first + L":" + ColumnName(right) + std::to_wstring(bottom);
    }
};

struct SheetData
{
    std::map<std::pair<int, int>, Var> cells;   // (row, column), 1-based
    std::vector<std::pair<Rect, std::wstring>> formats;

    bool IsText(int row, int column) const
    {
        for (auto it = formats.rbegin(); it != formats.rend(); ++it)
            if (it->first.Contains(row, column))
                return it->second == L"@";
        return false;
    }
    // The rectangle of the cells in use; false when there are none.
    bool UsedArea(Rect& area) const
    {
        if (cells.empty())
            return false;
        area = {INT_MAX, INT_MAX, 0, 0};
        for (const auto& [at, value] : cells) {
            area.top = std::min(area.top, at.first);
            area.bottom = std::max(area.bottom, at.first);
            area.left = std::min(area.left, at.second);
            area.right = std::max(area.right, at.second);
        }
        return true;
    }
    void Put(int row, int column, const VARIANT& value)
    {
        if (value.vt == VT_EMPTY || value.vt == VT_NULL || (value.vt == VT_BSTR && SysStringLen(value.bstrVal) == 0))
            cells.erase({row, column});
        else
            cells[{row, column}] = Var(value);
    }
    Var Get(int row, int column) const
    {
        auto it = cells.find({row, column});
        return it == cells.end() ? Var() : it->second;
    }
};

using SheetPtr = std::shared_ptr<SheetData>;

bool ToInt(const VARIANT& value, int& out)
{
    Var copy(value);
    if (FAILED(VariantChangeType(&copy.v, &copy.v, 0, VT_I4)))
        return false;
    out = copy.v.lVal;
    return true;
}

bool ToText(const VARIANT& value, std::wstring& out)
{
    Var copy(value);
    if (FAILED(VariantChangeType(&copy.v, &copy.v, 0, VT_BSTR)))
        return false;
    out.assign(copy.v.bstrVal, SysStringLen(copy.v.bstrVal));
    return true;
}

SAFEARRAY* ArrayOf(const VARIANT& value)
{
    if (value.vt == (VT_ARRAY | VT_VARIANT))
        return value.parray;
    if (value.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT) && value.pparray)
        return *value.pparray;
    return nullptr;
}

void SetText(VARIANT* result, const std::wstring& text)
{
    if (!result)
        return;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void SetInt(VARIANT* result, int value)
{
    if (!result)
        return;
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = value;
}

// ---- Files

bool SaveSheet(const std::wstring& path, const SheetData& sheet)
{
    std::vector<SheetFileCell> cells;
    for (const auto& [at, value] : sheet.cells)
        cells.push_back({at.first, at.second, value.v});   // shallow: written before the map changes
    return WriteSheetFile(path, cells);
}

bool LoadSheet(const std::wstring& path, SheetData& sheet)
{
    std::vector<SheetFileCell> cells;
    if (!ReadSheetFile(path, cells))
        return false;
    for (auto& cell : cells) {
        sheet.Put(cell.row, cell.column, cell.value);
        VariantClear(&cell.value);
    }
    return true;
}

// ---- The context of one application instance

struct Context
{
    SheetFlavour flavour;
    SheetStandInOptions options;

    void Log(const std::wstring& line) const
    {
        if (options.logPath.empty())
            return;
        const std::string bytes = WideToUtf8(line + L"\n");
        HANDLE file = CreateFileW(options.logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    HRESULT FailureOf(const std::wstring& member) const
    {
        for (const auto& failure : options.failures)
            if (Lower(failure.member) == Lower(member))
                return failure.code;
        return S_OK;
    }
};
using ContextPtr = std::shared_ptr<Context>;

// ---- The object base

class Obj;
std::set<Obj*>& LiveObjects()
{
    static std::set<Obj*> objects;
    return objects;
}
CRITICAL_SECTION& LiveLock()
{
    static CRITICAL_SECTION lock = [] {
        CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return section;
    }();
    return lock;
}

std::wstring ValueText(const VARIANT& value);

struct Args
{
    std::vector<const VARIANT*> list;   // positional, in call order
    const VARIANT* put = nullptr;       // the value of a property write
    size_t Count() const { return list.size(); }
    const VARIANT& operator[](size_t i) const { return *list[i]; }
};

class Obj : public IDispatch
{
public:
    explicit Obj(ContextPtr context) : m_context(std::move(context))
    {
        ++g_objects;
        EnterCriticalSection(&LiveLock());
        LiveObjects().insert(this);
        LeaveCriticalSection(&LiveLock());
    }
    virtual ~Obj()
    {
        EnterCriticalSection(&LiveLock());
        LiveObjects().erase(this);
        LeaveCriticalSection(&LiveLock());
        if (--g_objects == 0 && g_idleCallback)
            g_idleCallback();
    }
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;

    // One of ours, when the pointer names a live object of this process.
    static Obj* Find(const VARIANT& value)
    {
        IDispatch* object = value.vt == VT_DISPATCH ? value.pdispVal
                            : value.vt == (VT_BYREF | VT_DISPATCH) && value.ppdispVal ? *value.ppdispVal
                                                                                       : nullptr;
        if (!object)
            return nullptr;
        EnterCriticalSection(&LiveLock());
        Obj* found = nullptr;
        for (Obj* candidate : LiveObjects())
            if (static_cast<IDispatch*>(candidate) == object)
                found = candidate;
        LeaveCriticalSection(&LiveLock());
        return found;
    }

    virtual std::wstring Label() const = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        const std::vector<std::wstring>& members = Members();
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (size_t m = 0; m < members.size(); ++m)
                if (i == 0 && _wcsicmp(members[m].c_str(), names[i]) == 0)
                    ids[i] = static_cast<DISPID>(m + 1);
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        const std::vector<std::wstring>& members = Members();
        if (id < 1 || static_cast<size_t>(id) > members.size())
            return DISP_E_MEMBERNOTFOUND;
        const std::wstring& member = members[static_cast<size_t>(id - 1)];
        Args args;
        UINT positional = params ? params->cArgs : 0;
        if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && params) {
            if (params->cNamedArgs != 1 || params->cArgs < 1 || !params->rgdispidNamedArgs ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTOPTIONAL;
            args.put = &params->rgvarg[0];
            --positional;
        }
        for (UINT i = 0; i < positional; ++i)
            args.list.push_back(&params->rgvarg[params->cArgs - 1 - i]);

        std::wstring line = Label() + L"." + member;
        if (!args.put || args.Count() > 0) {
            line += L"(";
            for (size_t i = 0; i < args.Count(); ++i)
                line += (i ? L", " : L"") + ValueText(args[i]);
            line += L")";
        }
        if (args.put)
            line += L" = " + ValueText(*args.put);
        m_context->Log(line);

        if (result)
            VariantInit(result);
        const HRESULT failure = m_context->FailureOf(member);
        if (FAILED(failure))
            return failure;
        VARIANT scratch;
        VariantInit(&scratch);
        const HRESULT hr = Call(Lower(member), args, result ? result : &scratch);
        VariantClear(&scratch);
        return hr;
    }

protected:
    virtual const std::vector<std::wstring>& Members() const = 0;
    // member in lower case; result is never null.
    virtual HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) = 0;

    // Hands a new object over as the call's result.
    static HRESULT Give(Obj* object, VARIANT* result)
    {
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
        return S_OK;
    }

    ContextPtr m_context;

private:
    LONG m_refs = 1;
};

std::wstring ArrayText(SAFEARRAY* array)
{
    if (!array || (array->fFeatures & FADF_VARIANT) == 0)
        return L"array(?)";
    const UINT dims = SafeArrayGetDim(array);
    LONG lower[2] = {0, 0}, upper[2] = {-1, -1};
    if (dims < 1 || dims > 2)
        return L"array(" + std::to_wstring(dims) + L" dimensions)";
    std::wstring text = L"array(";
    for (UINT d = 0; d < dims; ++d) {
        SafeArrayGetLBound(array, d + 1, &lower[d]);
        SafeArrayGetUBound(array, d + 1, &upper[d]);
        text += (d ? L"," : L"") + std::to_wstring(lower[d]) + L".." + std::to_wstring(upper[d]);
    }
    text += L")[";
    if (dims == 1) {
        for (LONG i = lower[0]; i <= upper[0]; ++i) {
            Var cell;
            SafeArrayGetElement(array, &i, &cell.v);
            text += (i > lower[0] ? L", " : L"") + ValueText(cell.v);
        }
    } else {
        for (LONG r = lower[0]; r <= upper[0]; ++r) {
            for (LONG c = lower[1]; c <= upper[1]; ++c) {
                LONG at[2] = {r, c};
                Var cell;
                SafeArrayGetElement(array, at, &cell.v);
                text += (c > lower[1] ? L", " : r > lower[0] ? L"; " : L"") + ValueText(cell.v);
            }
        }
    }
    return text + L"]";
}

std::wstring ValueText(const VARIANT& value)
{
    if (value.vt & VT_ARRAY)
        return ArrayText(ArrayOf(value));
    if (Obj* object = Obj::Find(value))
        return object->Label();
    Var plain(value);
    switch (plain.v.vt) {
    case VT_EMPTY: return L"empty";
    case VT_NULL: return L"null";
    case VT_BOOL: return plain.v.boolVal ? L"true" : L"false";
    case VT_I2: return L"i2:" + std::to_wstring(plain.v.iVal);
    case VT_I4: return L"i4:" + std::to_wstring(plain.v.lVal);
    case VT_I8: return L"i8:" + std::to_wstring(plain.v.llVal);
    case VT_R8: return L"r8:" + NumberText(plain.v.dblVal);
    case VT_BSTR: return L"\"" + Escape(std::wstring(plain.v.bstrVal, SysStringLen(plain.v.bstrVal))) + L"\"";
    case VT_DISPATCH: return L"object";
    default: return L"vt" + std::to_wstring(plain.v.vt);
    }
}

// ---- Excel

bool ParseNumber(const std::wstring& text, double& out)
{
    if (text.empty() || iswspace(text.front()) || iswspace(text.back()))
        return false;
    wchar_t* end = nullptr;
    out = wcstod(text.c_str(), &end);
    return end && *end == 0;
}

class ExcelRange final : public Obj
{
public:
    ExcelRange(ContextPtr context, SheetPtr sheet, Rect rect) : Obj(std::move(context)), m_sheet(std::move(sheet)), m_rect(rect) {}
    std::wstring Label() const override { return L"Range[" + m_rect.Name() + L"]"; }
    Rect RectOf() const { return m_rect; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Item", L"Value", L"NumberFormat", L"AutoFit"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"item") {
            int row = 0, column = 1;
            if (args.Count() < 1 || !ToInt(args[0], row) || (args.Count() > 1 && !ToInt(args[1], column)))
                return DISP_E_TYPEMISMATCH;
            row += m_rect.top - 1;
            column += m_rect.left - 1;
            if (row < 1 || row > kExcelRows || column < 1 || column > kExcelColumns)
                return kExcelFailure;
            return Give(new ExcelRange(m_context, m_sheet, {row, column, row, column}), result);
        }
        if (member == L"value")
            return args.put ? PutValue(*args.put) : GetValue(result);
        if (member == L"numberformat") {
            std::wstring format;
            if (!args.put || !ToText(*args.put, format))
                return DISP_E_TYPEMISMATCH;
            m_sheet->formats.push_back({m_rect, format});
            return S_OK;
        }
        return S_OK;   // AutoFit
    }

private:
    HRESULT GetValue(VARIANT* result)
    {
        if (m_rect.top == m_rect.bottom && m_rect.left == m_rect.right) {
            Var value = m_sheet->Get(m_rect.top, m_rect.left);
            return VariantCopy(result, &value.v);
        }
        SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(m_rect.bottom - m_rect.top + 1), 1},
                                    {static_cast<ULONG>(m_rect.right - m_rect.left + 1), 1}};
        SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
        if (!array)
            return E_OUTOFMEMORY;
        for (int r = m_rect.top; r <= m_rect.bottom; ++r)
            for (int c = m_rect.left; c <= m_rect.right; ++c) {
                LONG at[2] = {r - m_rect.top + 1, c - m_rect.left + 1};
                Var value = m_sheet->Get(r, c);
                SafeArrayPutElement(array, at, &value.v);
            }
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = array;
        return S_OK;
    }
    // As the application does: numbers are doubles, and a text that reads as a number becomes
    // one unless its cell is formatted as text.
    void Store(int row, int column, const VARIANT& value)
    {
        Var cell(value);
        double number = 0;
        if (cell.v.vt == VT_BSTR && !m_sheet->IsText(row, column) &&
            ParseNumber(std::wstring(cell.v.bstrVal, SysStringLen(cell.v.bstrVal)), number)) {
            VariantClear(&cell.v);
            cell.v.vt = VT_R8;
            cell.v.dblVal = number;
        } else if (cell.v.vt == VT_I2 || cell.v.vt == VT_I4 || cell.v.vt == VT_I8 || cell.v.vt == VT_R4 ||
                   cell.v.vt == VT_UI4 || cell.v.vt == VT_UI8) {
            VariantChangeType(&cell.v, &cell.v, 0, VT_R8);
        }
        m_sheet->Put(row, column, cell.v);
    }
    HRESULT PutValue(const VARIANT& value)
    {
        SAFEARRAY* array = ArrayOf(value);
        if (!array) {
            for (int r = m_rect.top; r <= m_rect.bottom; ++r)
                for (int c = m_rect.left; c <= m_rect.right; ++c)
                    Store(r, c, value);
            return S_OK;
        }
        if (SafeArrayGetDim(array) != 2)
            return kExcelFailure;
        LONG lower[2], upper[2];
        for (UINT d = 0; d < 2; ++d) {
            SafeArrayGetLBound(array, d + 1, &lower[d]);
            SafeArrayGetUBound(array, d + 1, &upper[d]);
        }
        for (int r = m_rect.top; r <= m_rect.bottom; ++r)
            for (int c = m_rect.left; c <= m_rect.right; ++c) {
                LONG at[2] = {lower[0] + (r - m_rect.top), lower[1] + (c - m_rect.left)};
                Var cell;
                if (at[0] <= upper[0] && at[1] <= upper[1])
                    SafeArrayGetElement(array, at, &cell.v);
                Store(r, c, cell.v);
            }
        return S_OK;
    }

    SheetPtr m_sheet;
    Rect m_rect;
};

class ExcelColumns final : public Obj
{
public:
    ExcelColumns(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Columns"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Item"};
        return names;
    }
    HRESULT Call(const std::wstring&, const Args& args, VARIANT* result) override
    {
        int column = 0;
        if (args.Count() != 1 || !ToInt(args[0], column))
            return DISP_E_TYPEMISMATCH;
        if (column < 1 || column > kExcelColumns)
            return kExcelFailure;
        return Give(new ExcelRange(m_context, m_sheet, {1, column, kExcelRows, column}), result);
    }

private:
    SheetPtr m_sheet;
};

class ExcelSheet final : public Obj
{
public:
    ExcelSheet(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Sheet"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Cells", L"Range", L"UsedRange", L"Columns"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"cells")
            return Give(new ExcelRange(m_context, m_sheet, {1, 1, kExcelRows, kExcelColumns}), result);
        if (member == L"columns")
            return Give(new ExcelColumns(m_context, m_sheet), result);
        if (member == L"usedrange") {
            Rect area{1, 1, 1, 1};
            m_sheet->UsedArea(area);
            return Give(new ExcelRange(m_context, m_sheet, area), result);
        }
        // Range(corner, corner): both must be ranges of this stand-in.
        if (args.Count() != 2)
            return DISP_E_BADPARAMCOUNT;
        auto* first = dynamic_cast<ExcelRange*>(Obj::Find(args[0]));
        auto* second = dynamic_cast<ExcelRange*>(Obj::Find(args[1]));
        if (!first || !second)
            return DISP_E_TYPEMISMATCH;
        const Rect a = first->RectOf(), b = second->RectOf();
        return Give(new ExcelRange(m_context, m_sheet,
                                   {std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
                                    std::max(a.right, b.right)}),
                    result);
    }

private:
    SheetPtr m_sheet;
};

class ExcelWorkbook final : public Obj
{
public:
    ExcelWorkbook(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Workbook"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"ActiveSheet", L"SaveAs"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"activesheet")
            return Give(new ExcelSheet(m_context, m_sheet), result);
        std::wstring path;
        if (args.Count() < 1 || !ToText(args[0], path))
            return DISP_E_TYPEMISMATCH;
        return SaveSheet(path, *m_sheet) ? S_OK : kExcelFailure;
    }

private:
    SheetPtr m_sheet;
};

class ExcelWorkbooks final : public Obj
{
public:
    using Obj::Obj;
    std::wstring Label() const override { return L"Workbooks"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Open", L"Add"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        auto sheet = std::make_shared<SheetData>();
        if (member == L"open") {
            std::wstring path;
            if (args.Count() < 1 || !ToText(args[0], path))
                return DISP_E_TYPEMISMATCH;
            if (!LoadSheet(path, *sheet))
                return kExcelFailure;
        }
        return Give(new ExcelWorkbook(m_context, sheet), result);
    }
};

class ExcelApplication final : public Obj
{
public:
    using Obj::Obj;
    std::wstring Label() const override { return L"Application"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Application", L"Workbooks",    L"Visible",
                                                     L"DisplayAlerts", L"EnableEvents", L"Quit"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args&, VARIANT* result) override
    {
        if (member == L"application") {
            AddRef();
            return Give(this, result);
        }
        if (member == L"workbooks")
            return Give(new ExcelWorkbooks(m_context), result);
        return S_OK;   // the switches and Quit are only logged
    }
};

// ---- Calc

// "file://localhost/C:/a%20b.ods" or "file:///C:/..." to a path; false for other URLs.
bool PathOfUrl(const std::wstring& url, std::wstring& path)
{
    std::wstring rest;
    for (const wchar_t* prefix : {L"file://localhost/", L"file:///"})
        if (url.compare(0, wcslen(prefix), prefix) == 0) {
            rest = url.substr(wcslen(prefix));
            break;
        }
    if (rest.empty())
        return false;
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == L'%' && i + 2 < rest.size() + 0 && iswxdigit(rest[i + 1]) && iswxdigit(rest[i + 2])) {
            path += static_cast<wchar_t>(wcstol(rest.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            path += rest[i] == L'/' ? L'\\' : rest[i];
        }
    }
    return true;
}

class CalcStruct final : public Obj
{
public:
    CalcStruct(ContextPtr context, std::wstring type) : Obj(std::move(context)), m_type(std::move(type)) {}
    std::wstring Label() const override
    {
        std::wstring value = ValueText(m_value.v);
        return L"PropertyValue(" + m_name + L"=" + value + L")";
    }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"Name", L"Value"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"name") {
            if (!args.put)
                return SetText(result, m_name), S_OK;
            return ToText(*args.put, m_name) ? S_OK : DISP_E_TYPEMISMATCH;
        }
        if (!args.put)
            return VariantCopy(result, &m_value.v);
        m_value = Var(*args.put);
        return S_OK;
    }

private:
    std::wstring m_type;
    std::wstring m_name;
    Var m_value;
};

class CalcAddress final : public Obj
{
public:
    CalcAddress(ContextPtr context, Rect area) : Obj(std::move(context)), m_area(area) {}
    std::wstring Label() const override { return L"CellRangeAddress"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"StartColumn", L"StartRow", L"EndColumn", L"EndRow"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args&, VARIANT* result) override
    {
        const int value = member == L"startcolumn" ? m_area.left
                          : member == L"startrow"  ? m_area.top
                          : member == L"endcolumn" ? m_area.right
                                                   : m_area.bottom;
        SetInt(result, value - 1);
        return S_OK;
    }

private:
    Rect m_area;
};

class CalcCursor final : public Obj
{
public:
    CalcCursor(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Cursor"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"gotoStartOfUsedArea", L"gotoEndOfUsedArea",
                                                     L"getRangeAddress"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args&, VARIANT* result) override
    {
        if (member != L"getrangeaddress")
            return S_OK;
        Rect area{1, 1, 1, 1};
        m_sheet->UsedArea(area);
        return Give(new CalcAddress(m_context, area), result);
    }

private:
    SheetPtr m_sheet;
};

class CalcRange final : public Obj
{
public:
    CalcRange(ContextPtr context, SheetPtr sheet, Rect rect) : Obj(std::move(context)), m_sheet(std::move(sheet)), m_rect(rect) {}
    std::wstring Label() const override { return L"CellRange[" + m_rect.Name() + L"]"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"getDataArray", L"setDataArray"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"getdataarray")
            return GetData(result);
        if (args.Count() != 1)
            return DISP_E_BADPARAMCOUNT;
        return SetData(args[0]);
    }

private:
    static SAFEARRAY* Vector(LONG count)
    {
        SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
        return SafeArrayCreate(VT_VARIANT, 1, &bound);
    }
    HRESULT GetData(VARIANT* result)
    {
        const std::wstring& shape = m_context->options.dataArrayShape;
        const LONG rows = m_rect.bottom - m_rect.top + 1, columns = m_rect.right - m_rect.left + 1;
        SAFEARRAY* outer = Vector(shape == L"flat" ? rows * columns : rows);
        for (LONG r = 0; r < rows; ++r) {
            const LONG width = shape == L"short" && r > 0 ? columns - 1 : columns;
            SAFEARRAY* inner = shape == L"flat" ? nullptr : Vector(width);
            for (LONG c = 0; c < width; ++c) {
                Var cell = m_sheet->Get(m_rect.top + r, m_rect.left + c);
                if (cell.v.vt == VT_EMPTY) {
                    cell.v.vt = VT_BSTR;
                    cell.v.bstrVal = SysAllocString(L"");
                }
                if (inner) {
                    SafeArrayPutElement(inner, &c, &cell.v);
                } else {
                    LONG at = r * columns + c;
                    SafeArrayPutElement(outer, &at, &cell.v);
                }
            }
            if (inner) {
                VARIANT row;
                row.vt = VT_ARRAY | VT_VARIANT;
                row.parray = inner;
                SafeArrayPutElement(outer, &r, &row);
                SafeArrayDestroy(inner);
            }
        }
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = outer;
        return S_OK;
    }
    HRESULT SetData(const VARIANT& value)
    {
        SAFEARRAY* outer = ArrayOf(value);
        if (!outer || SafeArrayGetDim(outer) != 1)
            return DISP_E_TYPEMISMATCH;
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(outer, 1, &lower);
        SafeArrayGetUBound(outer, 1, &upper);
        if (upper - lower != m_rect.bottom - m_rect.top)
            return DISP_E_EXCEPTION;   // the application refuses a size that does not fit
        for (LONG r = lower; r <= upper; ++r) {
            Var row;
            SafeArrayGetElement(outer, &r, &row.v);
            SAFEARRAY* inner = ArrayOf(row.v);
            if (!inner || SafeArrayGetDim(inner) != 1)
                return DISP_E_TYPEMISMATCH;
            LONG low = 0, high = -1;
            SafeArrayGetLBound(inner, 1, &low);
            SafeArrayGetUBound(inner, 1, &high);
            if (high - low != m_rect.right - m_rect.left)
                return DISP_E_EXCEPTION;
            for (LONG c = low; c <= high; ++c) {
                Var cell;
                SafeArrayGetElement(inner, &c, &cell.v);
                m_sheet->Put(m_rect.top + (r - lower), m_rect.left + (c - low), cell.v);
            }
        }
        return S_OK;
    }

    SheetPtr m_sheet;
    Rect m_rect;
};

class CalcColumn final : public Obj
{
public:
    CalcColumn(ContextPtr context, int column) : Obj(std::move(context)), m_column(column) {}
    std::wstring Label() const override { return L"Column[" + ColumnName(m_column) + L"]"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"OptimalWidth"};
        return names;
    }
    HRESULT Call(const std::wstring&, const Args&, VARIANT*) override { return S_OK; }

private:
    int m_column;
};

class CalcColumns final : public Obj
{
public:
    using Obj::Obj;
    std::wstring Label() const override { return L"Columns"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"getByIndex"};
        return names;
    }
    HRESULT Call(const std::wstring&, const Args& args, VARIANT* result) override
    {
        int index = 0;
        if (args.Count() != 1 || !ToInt(args[0], index))
            return DISP_E_TYPEMISMATCH;
        if (index < 0 || index >= 1024)
            return DISP_E_EXCEPTION;
        return Give(new CalcColumn(m_context, index + 1), result);
    }
};

class CalcSheet final : public Obj
{
public:
    CalcSheet(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Sheet"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"createCursor", L"getCellRangeByPosition", L"Columns"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"createcursor")
            return Give(new CalcCursor(m_context, m_sheet), result);
        if (member == L"columns")
            return Give(new CalcColumns(m_context), result);
        int v[4];
        if (args.Count() != 4)
            return DISP_E_BADPARAMCOUNT;
        for (int i = 0; i < 4; ++i)
            if (!ToInt(args[static_cast<size_t>(i)], v[i]))
                return DISP_E_TYPEMISMATCH;
        if (v[0] < 0 || v[1] < 0 || v[2] < v[0] || v[3] < v[1])
            return DISP_E_EXCEPTION;
        return Give(new CalcRange(m_context, m_sheet, {v[1] + 1, v[0] + 1, v[3] + 1, v[2] + 1}), result);
    }

private:
    SheetPtr m_sheet;
};

class CalcSheets final : public Obj
{
public:
    CalcSheets(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Sheets"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"getByIndex"};
        return names;
    }
    HRESULT Call(const std::wstring&, const Args& args, VARIANT* result) override
    {
        int index = -1;
        if (args.Count() != 1 || !ToInt(args[0], index))
            return DISP_E_TYPEMISMATCH;
        if (index != 0)
            return DISP_E_EXCEPTION;
        return Give(new CalcSheet(m_context, m_sheet), result);
    }

private:
    SheetPtr m_sheet;
};

class CalcDocument final : public Obj
{
public:
    CalcDocument(ContextPtr context, SheetPtr sheet) : Obj(std::move(context)), m_sheet(std::move(sheet)) {}
    std::wstring Label() const override { return L"Document"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"getSheets",       L"lockControllers",  L"unlockControllers",
                                                     L"addActionLock",   L"removeActionLock", L"storeAsURL",
                                                     L"close"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"getsheets")
            return Give(new CalcSheets(m_context, m_sheet), result);
        if (member != L"storeasurl")
            return S_OK;
        std::wstring url, path;
        if (args.Count() < 1 || !ToText(args[0], url) || !PathOfUrl(url, path))
            return DISP_E_EXCEPTION;
        return SaveSheet(path, *m_sheet) ? S_OK : DISP_E_EXCEPTION;
    }

private:
    SheetPtr m_sheet;
};

class CalcDesktop final : public Obj
{
public:
    using Obj::Obj;
    std::wstring Label() const override { return L"Desktop"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"LoadComponentFromURL", L"terminate"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        if (member == L"terminate")
            return S_OK;
        std::wstring url, path;
        if (args.Count() != 4 || !ToText(args[0], url))
            return DISP_E_BADPARAMCOUNT;
        auto sheet = std::make_shared<SheetData>();
        if (url != L"private:factory/scalc" && (!PathOfUrl(url, path) || !LoadSheet(path, *sheet)))
            return DISP_E_EXCEPTION;
        return Give(new CalcDocument(m_context, sheet), result);
    }
};

class CalcServiceManager final : public Obj
{
public:
    using Obj::Obj;
    std::wstring Label() const override { return L"ServiceManager"; }

protected:
    const std::vector<std::wstring>& Members() const override
    {
        static const std::vector<std::wstring> names{L"CreateInstance", L"Bridge_GetStruct"};
        return names;
    }
    HRESULT Call(const std::wstring& member, const Args& args, VARIANT* result) override
    {
        std::wstring name;
        if (args.Count() != 1 || !ToText(args[0], name))
            return DISP_E_TYPEMISMATCH;
        if (member == L"createinstance")
            return name == L"com.sun.star.frame.Desktop" ? Give(new CalcDesktop(m_context), result) : DISP_E_EXCEPTION;
        return name == L"com.sun.star.beans.PropertyValue" ? Give(new CalcStruct(m_context, name), result)
                                                           : DISP_E_EXCEPTION;
    }
};

}  // namespace

SheetStandInOptions SheetStandInOptionsFromEnvironment()
{
    auto read = [](const wchar_t* name) {
        wchar_t buffer[4096];
        const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
        return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
    };
    SheetStandInOptions options;
    options.logPath = read(L"NORVANE_SHEET_LOG");
    options.dataArrayShape = read(L"NORVANE_SHEET_SHAPE");
    const std::wstring failures = read(L"NORVANE_SHEET_FAIL");
    size_t start = 0;
    while (start < failures.size()) {
        size_t end = failures.find(L',', start);
        if (end == std::wstring::npos)
            end = failures.size();
        const std::wstring item = failures.substr(start, end - start);
        const size_t equals = item.find(L'=');
        if (equals != std::wstring::npos)
            options.failures.push_back(
                {item.substr(0, equals), static_cast<HRESULT>(wcstoul(item.c_str() + equals + 1, nullptr, 0))});
        start = end + 1;
    }
    return options;
}

HRESULT CreateSheetStandIn(SheetFlavour flavour, const SheetStandInOptions& options, IDispatch** object)
{
    if (!object)
        return E_POINTER;
    auto context = std::make_shared<Context>(Context{flavour, options});
    if (flavour == SheetFlavour::Excel)
        *object = new ExcelApplication(context);
    else
        *object = new CalcServiceManager(context);
    return S_OK;
}

LONG SheetStandInObjectCount()
{
    return g_objects;
}

void SetSheetStandInIdleCallback(void (*callback)())
{
    g_idleCallback = callback;
}

bool WriteSheetFile(const std::wstring& path, const std::vector<SheetFileCell>& cells)
{
    std::wstring text = L"NORVANE-SHEET 1\n";
    for (const auto& cell : cells) {
        Var value(cell.value);
        wchar_t type = L's';
        std::wstring content;
        switch (value.v.vt) {
        case VT_R8: type = L'n'; content = NumberText(value.v.dblVal); break;
        case VT_I8: type = L'i'; content = std::to_wstring(value.v.llVal); break;
        case VT_I4: type = L'l'; content = std::to_wstring(value.v.lVal); break;
        case VT_BOOL: type = L'b'; content = value.v.boolVal ? L"1" : L"0"; break;
        default:
            if (!ToText(value.v, content))
                return false;
            content = Escape(content);
        }
        text += std::to_wstring(cell.row) + L"\t" + std::to_wstring(cell.column) + L"\t" + type + L"\t" + content + L"\n";
    }
    text += L"END " + std::to_wstring(cells.size()) + L"\n";
    const std::string bytes = WideToUtf8(text);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool ReadSheetFile(const std::wstring& path, std::vector<SheetFileCell>& cells)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    const std::wstring text = Utf8ToWide(bytes);

    std::vector<SheetFileCell> read;
    auto fail = [&read] {
        for (auto& cell : read)
            VariantClear(&cell.value);
        return false;
    };
    size_t at = 0;
    bool first = true, ended = false;
    while (at < text.size()) {
        const size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos || ended)
            return fail();   // a file cut short, or something after its end
        const std::wstring line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != L"NORVANE-SHEET 1")
                return fail();
            first = false;
            continue;
        }
        if (line.compare(0, 4, L"END ") == 0) {
            if (wcstoul(line.c_str() + 4, nullptr, 10) != read.size())
                return fail();
            ended = true;
            continue;
        }
        size_t t1 = line.find(L'\t'), t2 = line.find(L'\t', t1 + 1), t3 = line.find(L'\t', t2 + 1);
        if (t1 == std::wstring::npos || t2 == std::wstring::npos || t3 == std::wstring::npos || t3 != t2 + 2)
            return fail();
        SheetFileCell cell{_wtoi(line.c_str()), _wtoi(line.c_str() + t1 + 1), {}};
        VariantInit(&cell.value);
        const std::wstring content = line.substr(t3 + 1);
        switch (line[t2 + 1]) {
        case L'n': cell.value.vt = VT_R8; cell.value.dblVal = wcstod(content.c_str(), nullptr); break;
        case L'i': cell.value.vt = VT_I8; cell.value.llVal = _wtoi64(content.c_str()); break;
        case L'l': cell.value.vt = VT_I4; cell.value.lVal = _wtoi(content.c_str()); break;
        case L'b': cell.value.vt = VT_BOOL; cell.value.boolVal = content == L"1" ? VARIANT_TRUE : VARIANT_FALSE; break;
        case L's': {
            std::wstring plain;
            if (!Unescape(content, plain))
                return fail();
            cell.value.vt = VT_BSTR;
            cell.value.bstrVal = SysAllocStringLen(plain.data(), static_cast<UINT>(plain.size()));
            break;
        }
        default: return fail();
        }
        if (cell.row < 1 || cell.column < 1) {
            VariantClear(&cell.value);
            return fail();
        }
        read.push_back(cell);
    }
    if (!ended)
        return fail();
    cells = std::move(read);
    return true;
}
