#pragma once
// The destination page: a read-only table of the five destinations, the current one checked,
// with each one's name and main setting.
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/TableCtrl.h"

class CTransferDoc;
class IPageHost;

// Column ids of the destination table.
enum : int { DSTCOL_CHOICE = 0, DSTCOL_NUMBER, DSTCOL_NAME, DSTCOL_TYPE, DSTCOL_PARAMETERS, DSTCOL_COUNT };

class CDestinationLvData : public CVirtualListViewData
{
public:
    explicit CDestinationLvData(CTransferDoc& doc) : m_doc(doc) {}

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int from, int to) override;

    // The cell text of a row (the record of destination type row + 1) in a column.
    std::wstring CellText(int row, int column) const;
    void DropCache() { m_cache.clear(); }

    // The descriptors of the table: list column -> column id.
    const std::vector<int>* m_visibleMap = nullptr;

private:
    struct CachedRow
    {
        int row;
        std::wstring number;
    };
    CTransferDoc& m_doc;
    int m_first = 0;
    std::vector<CachedRow> m_cache;
    std::wstring m_text;
};

class CDestinationPage : public CBasePage
{
public:
    explicit CDestinationPage(IPageHost& host);

    void ExchangeData(bool save) override;
    void RestoreDefaults() override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;

    CTableCtrl& Table() { return m_table; }

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void OnColumnsChanged();
    static int OnRowsChanged(void* context, CVirtualListViewData* sender, int arg);
    void Refresh();

    CDestinationLvData m_data;
    CTableCtrl m_table;
    bool m_columnsChanged = false;
};

// The default columns (width, order, format, flags) with their titles.
std::vector<ColumnDesc> DestinationDefaultColumns();
