#pragma once
// Tooltips of the option pages' controls in the main window's tooltip control: each control
// shows the part after the line feed of the string whose id is its own id.
#include <windows.h>
#include <commctrl.h>
#include <initializer_list>
#include <string>
#include <vector>

class IPageHost;

// The part after the first line feed of a string (the whole text without one).
std::wstring LoadLongPart(UINT id);

class COptionTips
{
public:
    void Add(IPageHost& host, HWND page, std::initializer_list<int> controlIds);
    void Remove();
    // Answers TTN_GETDISPINFOW of the main tooltip for a control of the page; false for others.
    bool Answer(HWND page, NMHDR* nmh);

private:
    class CToolTipCtrl* m_tips = nullptr;
    HWND m_page = nullptr;
    std::vector<int> m_ids;
    std::wstring m_text;
};
