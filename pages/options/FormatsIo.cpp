#include "pages/options/FormatsIo.h"

#include <algorithm>
#include <array>
#include <memory>

#include "config/AppSettings.h"
#include "core/File.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "pages/CsvTable.h"
#include "pages/SpreadsheetTables.h"
#include "pages/options/FormatsView.h"
#include "resources/resource.h"

namespace {

std::wstring ColumnTitle(int column)
{
    std::wstring title;
    LoadResString(static_cast<UINT>(IDS_FORMATS_COL_CHOICE + column), title);
    return title;
}

// The Excel columns that must stay text: Name to Last key.
std::vector<int> TextColumnPositions(const std::vector<int>& columns)
{
    std::vector<int> positions;
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i] >= FCOL_NAME && columns[i] <= FCOL_LAST_KEY)
            positions.push_back(static_cast<int>(i));
    return positions;
}

// The name without a "[P] "-like mark: "[", any character, "]", blank, when more follows.
std::wstring WithoutMark(const std::wstring& name)
{
    if (name.size() > 4 && name[0] == L'[' && name[2] == L']' && name[3] == L' ')
        return name.substr(4);
    return name;
}

// One row of the table as the import reads it.
struct ImportedRow
{
    _KV_FORMAT record;
    uint32_t present = 0;     // KVF_FIELD_* that the row brings
    bool chosen = false;
    uint32_t wantedId = 0;
};

// The delete marks of a replace import, taken back on every way out that removes nothing.
class CDeleteMarks
{
public:
    explicit CDeleteMarks(CTransferDoc& doc) : m_doc(doc) {}
    ~CDeleteMarks()
    {
        if (m_armed)
            for (const KvFormatPtr& f : m_doc.GetFormats())
                f->flags &= ~KVF_DELETE;
    }
    void Mark()
    {
        for (const KvFormatPtr& f : m_doc.GetFormats())
            f->flags = f->IsPreset() ? (f->flags & ~KVF_DELETE) : (f->flags | KVF_DELETE);
        m_armed = true;
    }
    void Keep() { m_armed = false; }

private:
    CTransferDoc& m_doc;
    bool m_armed = false;
};

// A text field of the format that the row brings.
void TakeText(CBTableImport& table, ImportedRow& row, std::wstring& field, uint32_t fieldBit)
{
    table.GetText(field);
    row.present |= fieldBit;
}

ImportedRow ReadRow(CBTableImport& table, const std::vector<int>& map, uint32_t keyFilterBit)
{
    ImportedRow row;
    row.record.keyFilterMask = 0;
    for (size_t c = 0; c < map.size(); ++c) {
        // A short row ends here: its missing cells are empty.
        if (c > 0 && !table.MoveColumn(1))
            break;
        const int column = map[c];
        std::wstring text;
        switch (column) {
        case FCOL_CHOICE:
            table.GetText(text);
            row.chosen = !text.empty() && text != L"-";
            break;
        case FCOL_ID: {
            int64_t id = 0;
            if (table.GetInt64(id) && id > 1000 && id <= 0xFFFFFFFELL)
                row.wantedId = static_cast<uint32_t>(id);
            break;
        }
        case FCOL_NAME:
            table.GetText(text);
            row.record.name = WithoutMark(text);
            break;
        case FCOL_TEMPLATE: TakeText(table, row, row.record.templ, KVF_FIELD_TEMPLATE); break;
        case FCOL_PARAMS: TakeText(table, row, row.record.params, KVF_FIELD_PARAMS); break;
        case FCOL_COMMENT: TakeText(table, row, row.record.comment, KVF_FIELD_COMMENT); break;
        case FCOL_VISIBLE:
            table.GetText(text);
            if (!text.empty() && text != L"-")
                row.record.keyFilterMask = static_cast<int32_t>(keyFilterBit);
            row.present |= KVF_FIELD_KEYFILTERS;
            break;
        default:
            break;
        }
    }
    return row;
}

// The format the row names, updated, or a new one; null when nothing was taken.
KvFormatPtr MergeRow(CTransferDoc& doc, ImportedRow& row)
{
    const int regular = doc.FindFormatByName(row.record.name);
    if (regular >= 0) {
        const KvFormatPtr target = doc.GetFormats()[regular];
        if (row.present)
            doc.UpdateFormat(row.present, row.record, target);
        return target;
    }
    const int preset = doc.FindFormatByName(L"\n" + row.record.name);
    if (preset >= 0) {
        const KvFormatPtr target = doc.GetFormats()[preset];
        const bool sameTemplate = !(row.present & KVF_FIELD_TEMPLATE) || row.record.templ == target->templ;
        const bool sameParams = !(row.present & KVF_FIELD_PARAMS) || row.record.params == target->params;
        if (sameTemplate && sameParams) {
            doc.UpdateFormat(row.present & (KVF_FIELD_COMMENT | KVF_FIELD_KEYFILTERS), row.record, target);
            return target;
        }
    }
    const bool idFree = row.wantedId != 0 && !doc.FindFormatById(row.wantedId);
    row.record.id = idFree ? row.wantedId : doc.NextFormatId();
    return doc.GetFormats()[doc.AddFormat(row.record)];
}

} // namespace

void WriteFormatsTable(const FormatsTableView& view, const wchar_t* file, CBTableExport& table)
{
    try {
        table.Create(static_cast<int>(view.columns.size()), static_cast<int>(view.rows.size()) + 1, file);
        for (int column : view.columns)
            table.PutText(ColumnTitle(column).c_str());
        table.EndRow();
        const uint32_t bit = KeyFilterBit(view.keyFilterId);
        for (size_t r = 0; r < view.rows.size(); ++r) {
            const _KV_FORMAT& f = *view.rows[r];
            for (int column : view.columns) {
                switch (column) {
                case FCOL_CHOICE: table.PutText(f.id == view.chosenId && f.id != 0 ? L"+" : L"-"); break;
                case FCOL_NUMBER: table.PutInt64(static_cast<int64_t>(r) + 1); break;
                case FCOL_ID: table.PutInt64(f.id); break;
                case FCOL_NAME: table.PutText(FormatDisplayName(f).c_str()); break;
                case FCOL_TEMPLATE: table.PutText(f.templ.c_str()); break;
                case FCOL_PARAMS: table.PutText(f.params.c_str()); break;
                case FCOL_COMMENT: table.PutText(f.comment.c_str()); break;
                case FCOL_LAST_KEY:
                    view.rows[r]->UpdateSample(view.lastKey);
                    table.PutText(f.sampleText.c_str());
                    break;
                default: table.PutText((static_cast<uint32_t>(f.keyFilterMask) & bit) ? L"+" : L"-"); break;
                }
            }
            table.EndRow();
        }
        table.Flush();
        table.Close(false);
    } catch (...) {
        table.Close(true);
        throw;
    }
}

void ReadFormatsTable(CTransferDoc& doc, CBTableImport& table, const wchar_t* file, bool replace,
                      uint32_t keyFilterId, const void* sender)
{
    CDocUpdateScope scope(doc, sender);
    CDeleteMarks marks(doc);
    if (replace)
        marks.Mark();
    table.Open(file);
    const int count = table.GetColumnCount();
    if (count <= 0 || table.GetRowCount() <= 0)
        return;

    // Header: titles in the first row map table columns to data columns.
    std::array<std::wstring, FCOL_COUNT> titles;
    for (int d = 0; d < FCOL_COUNT; ++d)
        titles[d] = ColumnTitle(d);
    std::vector<int> map(static_cast<size_t>(count), -1);
    bool header = false, choiceHeader = false;
    for (int c = 0; c < count; ++c) {
        if (c > 0 && !table.MoveColumn(1))
            break;
        std::wstring text;
        table.GetText(text);
        const auto it = std::find(titles.begin(), titles.end(), text);
        if (it != titles.end()) {
            map[c] = static_cast<int>(it - titles.begin());
            header = true;
            choiceHeader |= map[c] == FCOL_CHOICE;
        }
    }
    if (!header) {
        map.assign(static_cast<size_t>(std::min(count, static_cast<int>(FCOL_COUNT))), 0);
        for (size_t c = 0; c < map.size(); ++c)
            map[c] = static_cast<int>(c);
        // The first row is data: back to its first cell.
        table.MoveColumn(-table.GetColumn());
    }

    std::vector<KvFormatPtr> taken;
    uint32_t chosenId = 0;
    for (bool more = header ? table.NextRow() : true; more; more = table.NextRow()) {
        ImportedRow row = ReadRow(table, map, KeyFilterBit(keyFilterId));
        if (row.record.name.empty())
            continue;
        const KvFormatPtr format = MergeRow(doc, row);
        format->flags &= ~KVF_DELETE;
        if (row.chosen)
            chosenId = format->id;
        // The k-th row's format moves up to position k.
        const auto& formats = doc.GetFormats();
        const size_t k = taken.size();
        const size_t at = static_cast<size_t>(std::find(formats.begin(), formats.end(), format) - formats.begin());
        if (at > k && at < formats.size())
            doc.SwapFormats(k, at);
        taken.push_back(format);
    }

    if (choiceHeader) {
        if (keyFilterId != 0) {
            for (KeyFilter& filter : doc.KeyFilters())
                if (filter.id == keyFilterId)
                    filter.formatId = chosenId;
            doc.RaiseFormatsChange(TDF_DEFAULT_ID, true);
        } else if (doc.defaultId != chosenId) {
            doc.SetDefaultFormatId(chosenId);
        }
    }
    // A table that named no format replaces nothing.
    if (replace && !taken.empty()) {
        doc.DeleteMarkedFormats();
        marks.Keep();
    }
}

void ExportFormatsToExcel(const FormatsTableView& view, const wchar_t* file, bool excel97)
{
    WriteExcelTable(excel97 ? kExcelFormat97 : kExcelFormatDefault, TextColumnPositions(view.columns),
                    [&](CBTableExport& table) { WriteFormatsTable(view, file, table); });
}

void ExportFormatsToCalc(const FormatsTableView& view, const wchar_t* file)
{
    WriteCalcTable([&](CBTableExport& table) { WriteFormatsTable(view, file, table); });
}

bool ImportFormatsFile(CAppSettings& settings, ITableFileUi& ui, int kind, uint32_t keyFilterId,
                       const void* sender)
{
    const bool replace = !ui.IsAppendHeld();
    if (kind == 0)
        kind = settings.GetFormatsImport();
    int filterIndex = kind;
    std::wstring path;
    if (!ui.ChooseFile(false, IDS_FORMATS_IMPORT_FILTER, filterIndex, path))
        return false;
    settings.SetFormatsImport(filterIndex);
    kind = filterIndex;
    const wchar_t* extension = FindExtension(path.c_str());
    if (_wcsicmp(extension, L".csv") == 0)
        kind = FIMPORT_CSV;
    else if (_wcsicmp(extension, L".xlsx") == 0)
        kind = FIMPORT_EXCEL;

    CTransferDoc& doc = settings.GetTransferDoc();
    if (kind == FIMPORT_CSV) {
        CCsvTableImport csv(settings.csv);
        ReadFormatsTable(doc, csv, path.c_str(), replace, keyFilterId, sender);
    } else if (kind == FIMPORT_EXCEL || kind == FIMPORT_CALC) {
        CComInitScope com;
        std::unique_ptr<CAutomationTableImport> table =
            kind == FIMPORT_EXCEL ? CreateExcelTableImport() : CreateCalcTableImport();
        ReadFormatsTable(doc, *table, path.c_str(), replace, keyFilterId, sender);
    }
    return true;
}

bool ExportFormatsFile(CAppSettings& settings, const FormatsTableView& view, ITableFileUi& ui, int kind)
{
    // By kind (FormatsExportKind; row 0 unused), and the kind by filter index.
    static const TableExportKind kKinds[] = {
        {0, L"", TET_OTHER},       {1, L".csv", TET_CSV},  {2, L".xlsx", TET_EXCEL}, {3, L".xls", TET_EXCEL97},
        {0, L"", TET_EXCEL},       {4, L".ods", TET_CALC}, {0, L"", TET_CALC},
    };
    static const int kKindOfFilter[] = {0, FEXPORT_CSV, FEXPORT_EXCEL, FEXPORT_EXCEL97, FEXPORT_CALC};

    const TableExportWriter writer{[&](CBTableExport& table, const wchar_t* file) { WriteFormatsTable(view, file, table); },
                                   TextColumnPositions(view.columns), settings.csv, nullptr};
    return RunTableExport(ui, {IDS_FORMATS_EXPORT_FILTER, kKinds, kKindOfFilter},
                          kind != 0 ? kind : settings.GetFormatsExport(),
                          [&](int chosen) { settings.SetFormatsExport(chosen); }, writer);
}
