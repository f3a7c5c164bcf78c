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

// List data whose rows are made one at a time (MakeRow) and kept for the range the list hinted.
template <class Item>
class CCachedListData : public CVirtualListViewData
{
public:
    void CacheHint(int from, int to) override { m_cache.Hint(from, to, GetItemCount(), Maker()); }
    // Makes the hinted rows again (the data changed).
    void Refill() { m_cache.Refill(GetItemCount(), Maker()); }
    // Row `row` from the cache, or made into the scratch item.
    const Item& Cached(int row) { return m_cache.Get(row, Maker()); }

protected:
    virtual void MakeRow(int row, Item& item) = 0;

private:
    typename CRowCache<Item>::Make Maker()
    {
        return [this](int row, Item& item) { MakeRow(row, item); };
    }
    CRowCache<Item> m_cache;
};

// The modifier keys held with a key of ListEvents::keyDown.
constexpr unsigned LIST_KEY_CTRL = 0x1;
constexpr unsigned LIST_KEY_SHIFT = 0x2;
constexpr unsigned LIST_KEY_ALT = 0x4;

// What the owner of a list decides; the list answers the rest of its notifications itself.
struct ListEvents
{
    // A key pressed in the list with the modifiers held (LIST_KEY_*); true when the owner took
    // it. The list's own keys (Ctrl+A, the keypad's *) come after it.
    std::function<bool(WORD key, unsigned modifiers)> keyDown;
    // A row's check box (its state icon) changes: once for the row whose box was clicked, once
    // for each selected row on the Space key.
    std::function<void(int row)> toggleCheck;
    // Rows from..to (one row: from == to; -1: all) were selected or deselected.
    std::function<void(int from, int to, bool selected)> selectionChanged;
    // A double click: the row under the mouse (-1: none) and the point, client coordinates.
    std::function<void(int row, POINT at)> activate;
};

class CListCtrl : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // The rows behind the list (not owned; null: the parent answers the list's questions). The
    // list asks it for its cells and hints it the rows it is about to show.
    void SetData(IVirtualListViewData* data) { m_data = data; }
    IVirtualListViewData* GetData() const { return m_data; }

    // The owner's keyDown first; then Space toggles the checks (with toggleCheck), Ctrl+A
    // selects every row, the keypad's * inverts the selection; true when handled.
    bool OnKeyDown(const NMLVKEYDOWN* key, LRESULT* result);
    void InvertSelection();
    // Clears selection and focus; a row other than -1 becomes the selected and focused one and,
    // with centre, is scrolled near the middle of the page.
    void SelectOnly(int row, bool centre);
    // The selected rows in ascending order; returns their count.
    int GetSelectedItems(std::vector<int>& rows) const;
    // The row whose state icon (its check box) a click of NM_CLICK or NM_DBLCLK hit; -1: none.
    int StateIconRow(const NMITEMACTIVATE& click) const;
    // Scrolls so that the row (clamped to the scroll range) is the top one; false when the rows'
    // height cannot be read in a list that has rows.
    bool ScrollRowToTop(int row);
    // LVS_NOSORTHEADER on the list and HDS_BUTTONS off its header, or the reverse.
    void SetNoSortHeader(bool on);

    int GetItemCount() const;
    HWND GetHeader() const;

protected:
    // The list's own notifications that the data object and the events answer; true when handled.
    bool OnListNotify(NMHDR* nmh, LRESULT* result);

private:
    void ClearSelectionAndFocus();
    IVirtualListViewData* m_data = nullptr; // not owned

public:
    ListEvents events;
};
