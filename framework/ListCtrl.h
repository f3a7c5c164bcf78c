#pragma once
// Report lists in owner-data mode: the data object behind a list, and the list control's keys,
// selection and scrolling helpers.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <functional>
#include <vector>

#include "core/Object.h"
#include "framework/Wnd.h"

// The rows of an owner-data list. The list asks only for the cells it shows.
class IVirtualListViewData
{
public:
    virtual int GetItemCount() = 0;
    // Fills what item->mask asks for (LVIF_TEXT, LVIF_IMAGE) of row iItem, column iSubItem; a
    // text stays valid until the next call.
    virtual void GetDispInfo(LVITEMW* item) = 0;
    // The rows the list is about to show.
    virtual void CacheHint(int from, int to) = 0;

protected:
    ~IVirtualListViewData() = default;
};

class CVirtualListViewData;
// The owner's refresh after the rows changed: (context, sender, 0).
using ListDataEventFn = int (*)(void* context, CVirtualListViewData* sender, int arg);

class CVirtualListViewData : public CObject, public IVirtualListViewData
{
public:
    void SetEventCallback(void* context, ListDataEventFn callback)
    {
        m_eventContext = context;
        m_eventCallback = callback;
    }
    // Tells the owner that the rows changed; its answer, or 0 without a callback or when the
    // callback threw (the failure goes to the debug log, never to the user).
    int FireEvent();

    void* m_eventContext = nullptr;
    ListDataEventFn m_eventCallback = nullptr;
};

// The rows an owner-data list hinted last, each made once; a row outside them is made into a
// scratch item on every request.
template <class Item>
class CRowCache
{
public:
    using Make = std::function<void(int row, Item& item)>;

    // Keeps the rows when from..to lies inside them, else makes from..to (within count).
    void Hint(int from, int to, int count, const Make& make)
    {
        if (m_first >= 0 && from >= m_first && to < m_first + static_cast<int>(m_rows.size()))
            return;
        m_first = from;
        m_last = to;
        Refill(count, make);
    }
    // Makes the hinted rows again (the data changed).
    void Refill(int count, const Make& make)
    {
        m_rows.clear();
        if (m_first < 0 || m_first >= count) {
            m_first = -1;
            return;
        }
        const int last = std::min(m_last, count - 1);
        m_rows.resize(static_cast<size_t>(last - m_first + 1));
        for (int row = m_first; row <= last; ++row)
            make(row, m_rows[static_cast<size_t>(row - m_first)]);
    }
    const Item& Get(int row, const Make& make)
    {
        if (m_first >= 0 && row >= m_first && row < m_first + static_cast<int>(m_rows.size()))
            return m_rows[static_cast<size_t>(row - m_first)];
        make(row, m_scratch);
        return m_scratch;
    }

private:
    std::vector<Item> m_rows;
    int m_first = -1;
    int m_last = -1;
    Item m_scratch{};
};

class CListCtrl : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // Ctrl+A selects every row, the keypad's * inverts the selection; true when handled.
    bool OnKeyDown(const NMLVKEYDOWN* key, LRESULT* result);
    void InvertSelection();
    // Clears selection and focus; a row other than -1 becomes the selected and focused one and,
    // with centre, is scrolled near the middle of the page.
    void SelectOnly(int row, bool centre);
    // The selected rows in ascending order; returns their count.
    int GetSelectedItems(std::vector<int>& rows) const;
    // Scrolls so that the row (clamped to the scroll range) is the top one; false when the rows'
    // height cannot be read in a list that has rows.
    bool ScrollRowToTop(int row);
    // LVS_NOSORTHEADER on the list and HDS_BUTTONS off its header, or the reverse.
    void SetNoSortHeader(bool on);

    int GetItemCount() const;
    HWND GetHeader() const;

private:
    void ClearSelectionAndFocus();
};
