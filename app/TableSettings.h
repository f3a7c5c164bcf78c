#pragma once
// What the tables of the pages and their column chooser use of the application: the settings
// "noSortHeader", "tableGrid" and "columnList", the chooser's placement slot and the main
// window's tool-tip control for header tips.
#include "framework/TableCtrl.h"

class CNorvaneApp;

class CAppTableSettings final : public ITableSettings
{
public:
    explicit CAppTableSettings(CNorvaneApp& app) : m_app(app) {}

    bool GetNoSortHeader() override;
    void SetNoSortHeader(bool on) override;
    bool GetTableGrid() override;
    bool GetAlternateRows() override;
    std::vector<ColumnDesc> GetChooserColumns() override;
    // Width, order, format and flags of each column; a change makes the settings unsaved.
    void StoreChooserColumns(const std::vector<ColumnDesc>& columns) override;
    CDocument* GetSettingsDocument() override;
    void ExchangeChooserPlacement(bool save, HWND dialog) override;
    CToolTipCtrl* GetMainToolTip() override;

private:
    CNorvaneApp& m_app;
};
