// The formats import and export: a CSV file written from the page and read back in its place,
// the rules by which rows meet formats, and imports that fail or bring nothing.
#include "tests/pages/options/FormatsTestSupport.h"

#include "core/File.h"
#include "core/TextUtil.h"
#include "pages/options/FormatsIo.h"
#include "resources/resource.h"
#include "tests/support/TempFolder.h"

using namespace formats_test;

namespace {

// A table held in memory; Open throws when told to, like a file that cannot be read.
class CRowsTable : public CBTableImport
{
public:
    explicit CRowsTable(std::vector<std::vector<std::wstring>> rows, bool fails = false)
        : m_rows(std::move(rows)), m_fails(fails) {}
    void Open(const wchar_t*) override
    {
        if (m_fails)
            throw CComException(static_cast<HRESULT>(0x800A03EC));
        m_columnCount = m_rows.empty() ? 0 : static_cast<int>(m_rows[0].size());
        m_rowCount = static_cast<int>(m_rows.size());
    }
    bool MoveColumn(int relative) override
    {
        if (m_column + relative < 0 || m_column + relative >= m_columnCount)
            return false;
        m_column += relative;
        return true;
    }
    bool NextRow() override
    {
        if (m_row + 1 >= m_rowCount)
            return false;
        ++m_row;
        m_column = 0;
        return true;
    }
    bool GetText(std::wstring& out) override
    {
        const auto& row = m_rows[m_row];
        out = static_cast<size_t>(m_column) < row.size() ? row[m_column] : L"";
        return true;
    }
    bool GetDouble(double& out) override { return GetText(m_cell) && TableTextToDouble(m_cell, out); }
    bool GetInt64(int64_t& out) override { return GetText(m_cell) && TableTextToInt64(m_cell, out); }

private:
    std::vector<std::vector<std::wstring>> m_rows;
    bool m_fails;
    std::wstring m_cell;
};

std::string FileBytes(const std::wstring& path)
{
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareRead))
        return "<missing>";
    std::string data(static_cast<size_t>(f.GetLength()), '\0');
    if (!data.empty())
        data.resize(f.Read(data.data(), static_cast<UINT>(data.size())));
    return data;
}

class FormatsIo : public FormatsPageFixture
{
protected:
    void Read(std::vector<std::vector<std::wstring>> rows, bool replace = true, bool fails = false)
    {
        CRowsTable table(std::move(rows), fails);
        ReadFormatsTable(Doc(), table, L"t", replace, Doc().selectedKeyFilter, nullptr);
    }
    KvFormatPtr Named(const std::wstring& name)
    {
        const int i = Doc().FindFormatByName(name);
        return i < 0 ? nullptr : Doc().GetFormats()[i];
    }
    CTempFolder folder;
    CChosenFile ui;
};

const std::vector<std::wstring> kHeader = {L"Choice", L"ID", L"Name", L"Template", L"Parameters", L"Comment",
                                           L"Visible"};

} // namespace

TEST_F(FormatsIo, CsvExportOfThePageReadsBackInItsPlace)
{
    const std::wstring tricky = L"say \"%d\";\\n\\\\x\r\nnext";
    KvFormatPtr quote = Add(MakeFormat(L"Quote", tricky, L"x[0]"));
    quote->comment = L"a;b \"c\"";
    Add(MakeFormat(L"\nBeta", L"%X"));
    Add(MakeFormat(L"Gone", L"%d", L"x[1]", 2));
    Settings().SetFormatsFilter(0);
    Doc().SetDefaultFormatId(quote->id);
    std::vector<ColumnDesc> columns = GetDefaultColumns(COLS_FORMATS);
    for (ColumnDesc& c : columns)
        c.flags |= COLF_VISIBLE;
    *Settings().EditColumns(COLS_FORMATS) = columns;
    Open();
    page->SetFileUi(&ui);
    ui.path = folder.File(L"formats");
    ASSERT_TRUE(page->ExportFormats(1));
    EXPECT_EQ(std::vector<std::wstring>{L"save|263|1"}, ui.asked);
    EXPECT_EQ(1, Settings().GetFormatsExport());
    const std::string csv = FileBytes(ui.path + L".csv");
    EXPECT_EQ(0u, csv.find("#;Choice;ID;Name;Template;Parameters;Comment;Last key;Visible\r\n")) << csv;
    EXPECT_NE(std::string::npos, csv.find("\r\n1;+;" + std::to_string(quote->id) + ";Quote;\"say \"\"%d\"\";\\n\\\\x\r\nnext\";x[0];\"a;b \"\"c\"\"\";"))
        << csv;
    EXPECT_NE(std::string::npos, csv.find("\r\n2;-;" + std::to_string(Doc().GetFormats()[1]->id) + ";[P] Beta;%X;"))
        << csv;
    EXPECT_EQ(csv.size() - 4, csv.rfind(";-\r\n")) << csv;  // "Gone" is not under "Default"

    // Edited, reordered and joined by a format the file does not know; the import puts it back.
    quote->templ = L"%d";
    Add(MakeFormat(L"Extra"));
    Doc().SwapFormats(0, 2);
    Doc().SetDefaultFormatId(0);
    ui.path += L".csv";
    ASSERT_TRUE(page->ImportFormats(1));
    EXPECT_EQ((std::vector<std::wstring>{L"Quote", L"\nBeta", L"Gone"}), StoredNames());
    EXPECT_EQ(tricky, quote->templ);
    EXPECT_EQ(L"a;b \"c\"", quote->comment);
    EXPECT_EQ(quote->id, Doc().defaultId);
    EXPECT_EQ(0, Named(L"Gone")->keyFilterMask);  // "-" under "Default": the whole mask
    EXPECT_EQ(std::vector<std::wstring>{L"[P] Beta"}, std::vector<std::wstring>{Cell(1, FCOL_NAME)});
}

TEST_F(FormatsIo, RowsMeetFormatsByName)
{
    KvFormatPtr beta = Add(MakeFormat(L"\nBeta", L"%X", L"x[0]", 0));
    KvFormatPtr old = Add(MakeFormat(L"Old"));
    const uint32_t oldId = old->id;
    Read({kHeader,
          {L"", L"", L"[P] Beta", L"%X", L"x[0]", L"from file", L"+"},
          {L"", L"", L"[P] Beta", L"%08X", L"x[0]", L"", L""},
          {L"", L"1000", L"Low", L"%d", L"x[0]", L"", L""},
          {L"", std::to_wstring(oldId), L"Taken", L"%d", L"x[0]", L"", L""},
          {L"", L"5000", L"Wanted", L"%d", L"x[0]", L"", L""},
          {L"", L"", L"", L"%d", L"x[0]", L"nameless", L""}},
         false);
    EXPECT_EQ(L"from file", beta->comment);
    EXPECT_EQ(1, beta->keyFilterMask);
    EXPECT_EQ(L"%X", beta->templ);
    ASSERT_TRUE(Named(L"Beta"));
    EXPECT_EQ(L"%08X", Named(L"Beta")->templ);
    EXPECT_FALSE(Named(L"Beta")->IsPreset());
    EXPECT_EQ(0, Named(L"Beta")->keyFilterMask);
    EXPECT_GT(Named(L"Low")->id, 1000u);
    EXPECT_NE(oldId, Named(L"Taken")->id);
    EXPECT_EQ(5000u, Named(L"Wanted")->id);
    // The table's formats lead the list in its order; appended ones keep theirs after.
    EXPECT_EQ((std::vector<std::wstring>{L"\nBeta", L"Beta", L"Low", L"Taken", L"Wanted", L"Old"}), StoredNames());

    // Without a header the columns are read in the page's order and "Choice" chooses nothing.
    Doc().SetDefaultFormatId(oldId);
    Read({{L"+", L"1", L"", L"Plain", L"%u", L"x[1]"}}, false);
    EXPECT_EQ(L"%u", Named(L"Plain")->templ);
    EXPECT_EQ(oldId, Doc().defaultId);
    // A "Choice" header with no row marked clears the choice.
    Read({{L"Choice", L"Name"}, {L"-", L"Plain"}}, false);
    EXPECT_EQ(0u, Doc().defaultId);
}

TEST_F(FormatsIo, ImportsThatFailOrBringNothingRemoveNothing)
{
    Add(MakeFormat(L"Keep"));
    Add(MakeFormat(L"\nPre"));
    const struct {
        std::vector<std::vector<std::wstring>> rows;
        bool fails;
    } cases[] = {
        {{}, false},
        {{kHeader}, false},
        {{kHeader, {L"", L"", L"", L"%d"}}, false},
        {{kHeader, {L"", L"", L"New", L"%d"}}, true},
    };
    for (const auto& c : cases) {
        if (c.fails)
            EXPECT_THROW(Read(c.rows, true, true), CComException);
        else
            Read(c.rows);
        EXPECT_EQ((std::vector<std::wstring>{L"Keep", L"\nPre"}), StoredNames());
        for (const KvFormatPtr& f : Doc().GetFormats())
            EXPECT_EQ(0u, f->flags & KVF_DELETE) << f->name;
    }
    // A later merge that deletes marked formats finds none.
    EXPECT_EQ(0u, Doc().DeleteMarkedFormats());

    // A CSV file cut inside a quote: the error is shown and nothing is lost.
    const std::wstring path = folder.File(L"cut.csv");
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        const std::string bytes = "Name;Template\r\nKeep;\"%d\r\nNew;%x\r\n";
        f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    }
    Open();
    page->SetFileUi(&ui);
    ui.path = path;
    ASSERT_TRUE(page->ImportFormats(1));
    ASSERT_FALSE(host.messages.empty());
    EXPECT_NE(std::wstring::npos, host.messages.back().find(L"is not closed before the end of the file"))
        << host.messages.back();
    EXPECT_EQ((std::vector<std::wstring>{L"Keep", L"\nPre"}), StoredNames());
    EXPECT_EQ(L"%d", Named(L"Keep")->templ);
}
