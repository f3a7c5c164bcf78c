#pragma once
// What every page does with its table: the columns saved in the settings applied and stored
// back, the table's column notifications answered, and the list refreshed after its rows
// changed with the top row kept.
#include <vector>

#include "config/AppSettings.h"
#include "framework/TableCtrl.h"

class IPageHost;

// Loads the saved column list into the table (the defaults when it does not fit the titles)
// and applies it.
void ApplySavedColumns(CTableCtrl& table, const CAppSettings& settings, AppColumnList list,
                       const std::vector<int>& titles);
// Stores the table's columns as the saved list, marking the settings unsaved; sender is the
// page, so that it is not told of its own store.
void StoreTableColumns(const CTableCtrl& table, CAppSettings& settings, AppColumnList list, const void* sender);
// The table answers TN_DEFAULTCOLUMNS with the list's default columns itself; without sorting
// (sorts false) its header menu also loses "Don't sort".
void AnswerTableDefaults(CTableCtrl& table, AppColumnList list, bool sorts = true);
// The parts of the table's look (TABLE_LOOK_*) that a change of the settings' ui details touches.
unsigned TableLookChanges(uint32_t uiDetails);
// A context menu's screen point: the message's, or for the keyboard's (-1, -1) a point just inside
// the list's top-left corner.
POINT ContextMenuPoint(HWND list, POINT at);
// After the rows changed: the new count, the top row kept, the list redrawn and the status
// bar's counts marked for the next idle pass.
void RefreshPageTable(CTableCtrl& table, int count, IPageHost& host);
