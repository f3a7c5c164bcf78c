#pragma once
// A tooltip-like pop-up (window class "RichTip") that shows a formatted help page near the mouse
// cursor while the user rests on a tool of its owner: an RTF page of the resources in a read-only
// rich edit, with a small tag markup in its text ("arg", "a", "font", "para") turned into
// formatting, values filled in at run time and clickable links. The owner decides through
// WM_NOTIFY whether the tip is shown and what a link does.
#include <windows.h>
#include <richedit.h>
#include <richole.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include "framework/EditCtrls.h"

// WM_NOTIFY codes to the owner (idFrom = the tool id, hwndFrom = the tip window).
constexpr UINT RTN_LINKCLICK = 1;  // a link was clicked; position = the link's start; the answer goes back to the rich edit
constexpr UINT RTN_SHOWING = 2;    // the tip is about to be shown; non-zero shows it
constexpr UINT RTN_HIDDEN = 3;     // the tip was hidden

struct NMRICHTIP
{
    NMHDR hdr;
    int32_t position;
};

constexpr UINT_PTR kRichTipTimer = 1;

class CRichTip : public CWnd, public IRichEditOleCallback
{
public:
    class CTipRichEditCtrl : public CRichEditCtrl
    {
    public:
        LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
        UINT_PTR toolId = 0;
    };

    struct Variable
    {
        std::wstring text;
        int32_t value = 0;  // 0: the text goes before the tag's range; else it replaces the range
    };

    CRichTip() = default;
    ~CRichTip() override;

    // The window class; the shell registers it before it creates its tip.
    static bool RegisterWindowClass();
    static void UnregisterWindowClass();
    // The pop-up window, owned by owner, kCreatedHeight high until a page sizes it.
    bool CreateTip(HWND owner);
    static constexpr int kCreatedHeight = 200;

    bool PreTranslate(MSG* msg) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    void RequestShow(HWND owner, UINT_PTR toolId);
    // toolId 0: any tool of the owner.
    void RequestHide(HWND owner, UINT_PTR toolId, bool atOnce);
    // An RT_RCDATA RTF page, from the language module first; false when there is none.
    bool LoadContent(UINT resourceId);
    void SetVariable(const std::wstring& name, const std::wstring& text, int32_t value);
    void ClearContent();
    void RenderMarkup();

    // Where the owner's tool lies on the screen: the tip goes below its bottom or above its top.
    void SetAvoidRect(int top, int bottom);
    // The width of the text area; the window is that plus its frame.
    void SetContentWidth(int width);

    bool IsShown() const { return m_shown; }
    bool IsRequestPending() const { return m_pending; }
    // Link targets by the position of the link's first character.
    const std::map<LONG, std::wstring>& GetLinks() const { return m_links; }
    // The rich edit, made on first use (with its library) while the tip window exists.
    CTipRichEditCtrl& GetRichEdit();
    static int GetLiveWindowCount() { return s_liveWindows; }

    // IRichEditOleCallback
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetNewStorage(LPSTORAGE* storage) override;
    STDMETHODIMP GetInPlaceContext(LPOLEINPLACEFRAME* frame, LPOLEINPLACEUIWINDOW* doc,
                                   LPOLEINPLACEFRAMEINFO frameInfo) override;
    STDMETHODIMP ShowContainerUI(BOOL show) override;
    STDMETHODIMP QueryInsertObject(LPCLSID clsid, LPSTORAGE storage, LONG position) override;
    STDMETHODIMP DeleteObject(LPOLEOBJECT object) override;
    STDMETHODIMP QueryAcceptData(LPDATAOBJECT data, CLIPFORMAT* format, DWORD reco, BOOL really,
                                 HGLOBAL metaPict) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
    STDMETHODIMP GetClipboardData(CHARRANGE* range, DWORD reco, LPDATAOBJECT* data) override;
    STDMETHODIMP GetDragDropEffect(BOOL drag, DWORD keyState, LPDWORD effect) override;
    STDMETHODIMP GetContextMenu(WORD selType, LPOLEOBJECT object, CHARRANGE* range, HMENU* menu) override;

private:
    struct Tag;

    LRESULT OnCreate();
    void EnsureRichEdit();
    void OnTimer();
    void Place(const RECT& requested);
    void ShowNoActivate();
    // Notifies code 3, hides and clears the content, when shown; the request ends.
    void HideNow();
    LRESULT NotifyOwner(UINT code, LONG position = 0);
    void StartTimer(UINT ms);
    void StopTimer();
    void ApplyMarkup();
    // Applies a tag to its range; returns where the search goes on.
    LONG ApplyTag(const Tag& tag, LONG start, LONG end);
    LONG InsertPlain(LONG start, LONG end, const std::wstring& text);
    void DeleteRange(LONG start, LONG end);
    void ApplyBackground();

    CTipRichEditCtrl m_richEdit;
    std::map<std::wstring, Variable> m_variables;
    std::map<LONG, std::wstring> m_links;
    bool m_pending = false;
    bool m_shown = false;
    HWND m_owner = nullptr;
    UINT_PTR m_toolId = 0;
    bool m_avoidSet = false;
    int m_avoidTop = 0;
    int m_avoidBottom = 0;
    int m_contentWidth = 400;
    POINT m_dismissal{-1, -1};
    UINT m_timerFlags = 0;
    std::atomic<ULONG> m_refCount{0};
    IStorage* m_storage = nullptr;
    LONG m_objectNumber = 0;
    bool m_counted = false;

    static int s_liveWindows;
    static bool s_registered;
};

// Rows from the cursor's hot spot down to its lowest visible row; 0 when it cannot be read.
int GetCursorVisibleHeight(HCURSOR cursor);
