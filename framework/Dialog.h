#pragma once
// Dialogs from templates of the resource module, the framework's own modal loop and the base of
// the main window's pages.
#include <functional>
#include <vector>

#include "core/Document.h"
#include "framework/PrivateMessages.h"
#include "framework/Wnd.h"

// What a page may ask of the application (pages/PageHost.h); the page base only carries it.
class IPageHost;

// The tip of a command for a toolbar button.
class ICommandTips
{
public:
    // A command's tip for a toolbar button: its long text and hotkey, cut to the room; the
    // characters written.
    virtual int GetCommandTipText(UINT command, wchar_t* buffer, int room) = 0;

protected:
    ~ICommandTips() = default;
};

INT_PTR CALLBACK FrameworkDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDialog : public CWnd
{
public:
    explicit CDialog(int templateId = 0) : m_templateId(templateId) {}
    ~CDialog() override;

    // Creates the dialog window modeless from its template (resource module first); true on success.
    bool CreateDialogWindow(HWND ownerOrParent);

    bool PreTranslate(MSG* msg) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefaultProc() override;
    // A toolbar's TBN_GETINFOTIPW is answered from m_commandTips, when it has a tip.
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    int GetItemText(int controlId, std::wstring& text) const;
    // The control's text; empty without the control.
    std::wstring ItemText(int controlId) const;

    // Small helpers over the dialog's controls.
    HWND Item(int controlId) const { return GetDlgItem(m_hWnd, controlId); }
    LRESULT SendItem(int controlId, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendDlgItemMessageW(m_hWnd, controlId, message, wParam, lParam);
    }
    void CheckItem(int controlId, bool checked) const
    {
        CheckDlgButton(m_hWnd, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool IsItemChecked(int controlId) const { return IsDlgButtonChecked(m_hWnd, controlId) == BST_CHECKED; }
    // Three-state boxes: BST_CHECKED, BST_UNCHECKED or BST_INDETERMINATE.
    void SetItemCheckState(int controlId, UINT state) const { CheckDlgButton(m_hWnd, controlId, state); }
    UINT GetItemCheckState(int controlId) const { return IsDlgButtonChecked(m_hWnd, controlId); }
    void EnableItem(int controlId, bool enable) const { EnableWindow(Item(controlId), enable ? TRUE : FALSE); }
    void SetItemText(int controlId, const wchar_t* text) const { SetDlgItemTextW(m_hWnd, controlId, text); }
    void SetItemText(int controlId, const std::wstring& text) const { SetItemText(controlId, text.c_str()); }
    void SetItemInt(int controlId, int value) const { SetDlgItemInt(m_hWnd, controlId, static_cast<UINT>(value), TRUE); }
    // The control's text as a number; false in ok when it is none.
    int GetItemInt(int controlId, bool* ok = nullptr, bool isSigned = true) const
    {
        BOOL translated = FALSE;
        const UINT value = GetDlgItemInt(m_hWnd, controlId, &translated, isSigned ? TRUE : FALSE);
        if (ok)
            *ok = translated != FALSE;
        return static_cast<int>(value);
    }

    int m_templateId; // also the dialog's help id; 0 = none

protected:
    // WM_INITDIALOG, after the framework's own set-up of the window: the dialog fills its
    // controls. false: the dialog has set the focus itself.
    virtual bool OnInitDialog() { return true; }
    // WM_SIZE: the new client size.
    virtual void OnSize(UINT type, int width, int height);
    // WM_DESTROY, while the controls still exist: the dialog lets go of what it holds of them.
    virtual void OnDestroy();
    // WM_CONTEXTMENU of window (the dialog or one of its controls) at a screen point ((-1, -1):
    // from the keyboard); false leaves it to the default, which hands it to the parent.
    virtual bool OnContextMenu(HWND window, POINT at);
    // Shows the first popup of a menu resource at a screen point ((-1, -1): the cursor) after
    // prepare has set its items; its commands come back through OnCommand. Nothing while a
    // menu of the dialog is already open.
    void TrackMenu(int menuId, POINT at, const std::function<void(HMENU)>& prepare = {},
                   UINT flags = TPM_LEFTBUTTON, TPMPARAMS* exclude = nullptr);
    // A menu of this thread is open (a context menu must not open over it).
    static bool InMenuMode();

    // The smallest size the user may drag a resizable dialog to; {0, 0}: the system's.
    SIZE m_minTrackSize{};
    // The tips of the commands of the dialog's toolbars (not owned; null: none).
    ICommandTips* m_commandTips = nullptr;

private:
    bool m_menuOpen = false;
};

class CModalDialog : public CDialog
{
public:
    explicit CModalDialog(int templateId) : CDialog(templateId) {}

    // Creates, runs and destroys the dialog; the result word (-1 when no window was created or
    // the loop was left by WM_QUIT).
    int RunModal(HWND owner);
    // Ends the loop with the result; -1 is the running marker and is refused (false).
    bool EndModal(int result);

    bool PreTranslate(MSG* msg) override;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // IDCANCEL ends the dialog with IDCANCEL, IDOK with IDOK when OnAccept allows it.
    bool OnCommand(int id, int code, HWND control) override;

    int m_result = -1;

protected:
    // IDOK: the dialog takes its edits; true ends it. The base keeps the dialog open, so that
    // one without edits (a progress, a notice) does not end on the Enter key.
    virtual bool OnAccept() { return false; }
};

// Runs a dialog that was created modeless as modal until the result word is no longer -1 (the
// caller starts it at -1; a result already set while the dialog was created ends at once).
// Returns the result: -1 also when the loop was left by WM_QUIT or an exception.
int RunModalLoop(HWND dialog, int& result);

// What a command of the menus and toolbars looks like now.
struct CommandState
{
    bool enabled = true;
    bool checked = false;
};

// The base of the main window's pages. The frame creates a page with its host, shows it and
// asks it before it leaves it, offers it the frame's commands before handling them itself and
// asks it for the state of the toolbar's commands while it is current.
class CBasePage : public CDialog
{
public:
    explicit CBasePage(int templateId) : CDialog(templateId), m_host(nullptr) {}
    // The host also gives the tips of the page's toolbars (a host is its command tips).
    template <class Host>
    CBasePage(int templateId, Host* host) : CDialog(templateId), m_host(host)
    {
        m_commandTips = host;
    }

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // false fills the controls from the documents (inside an UpdatingScope of the page); true
    // stores the page's edits into the documents.
    virtual void ExchangeData(bool save);
    virtual void OnIdleUpdate();
    // The page has just become the current one (placed, shown and focused).
    virtual void OnShow();
    // The frame is about to show another page; false keeps this one current (an edit is not
    // valid yet, and the page has told the user why).
    virtual bool OnLeave();
    // The state of a frame command while the page is current; false leaves it to the frame.
    virtual bool QueryCommandState(int commandId, CommandState& state);
    // A change of a document the page observes (Observe).
    virtual void OnDocumentChanged(CDocument* doc, const uint32_t* bits);
    // The frame's "page default" command: the page's options back to their defaults.
    virtual void RestoreDefaults();
    // The status bar's counts (WM_PAGE_QUERY): the selected rows and all rows of the page's
    // list (m_rowList's by default); false when the page shows no count.
    virtual bool CountRows(int& selected, int& total);

    IPageHost* GetHost() const { return m_host; }
    // The key of the page's observer registrations: update scopes the page opens name it as
    // their sender, so that the page is not told of its own changes.
    const void* ObserverKey() const { return this; }

protected:
    // Registers the page as an observer of doc (OnDocumentChanged) until the page is destroyed.
    void Observe(CDocument& doc);
    // m_rowList's context menu at the message's screen point ((-1, -1): from the keyboard).
    virtual void OnListMenu(POINT at);
    bool OnContextMenu(HWND window, POINT at) override;
    // CountRows of a list view: its selected items and all its items (none without a list).
    static bool CountListRows(HWND list, int& selected, int& total);

    IPageHost* m_host;
    // The page's list of rows, when it has one: the status bar counts it and its context menu
    // goes to OnListMenu.
    const CWnd* m_rowList = nullptr;

private:
    static void OnObservedChange(void* key, CDocument* doc, const uint32_t* bits);
    std::vector<CObserverToken> m_observers;
};
