#pragma once
// Dialogs from templates of the resource module, the framework's own modal loop and the base of
// the main window's pages.
#include "framework/Wnd.h"

// Private messages of the framework.
constexpr UINT WM_DIALOGHELP = 0x365; // help on the dialog's resource id
constexpr UINT WM_KICKIDLE = 0x36A;   // idle pass of a modal loop; lParam = idle count

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

    int GetItemText(int controlId, std::wstring& text) const;

    int m_templateId; // also the dialog's help id; 0 = none
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

    int m_result = -1;
};

// Runs a dialog that was created modeless as modal until the result word is no longer -1 (the
// caller starts it at -1; a result already set while the dialog was created ends at once).
// Returns the result: -1 also when the loop was left by WM_QUIT or an exception.
int RunModalLoop(HWND dialog, int& result);

class CBasePage : public CDialog
{
public:
    explicit CBasePage(int templateId) : CDialog(templateId) {}

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // false fills the controls from the documents (inside an UpdatingScope of the page); true
    // stores the page's edits into the documents.
    virtual void ExchangeData(bool save);
    virtual void OnIdleUpdate();
};
