#pragma once
// The external tools editor (dialog 905, command 33038).
#include <windows.h>
#include <string>
#include <vector>

#include "config/AppSettings.h"
#include "framework/Dialog.h"
#include "framework/Layout.h"

// A tool command as the editor checks it: the file itself, else with its environment variables
// expanded, else (a bare name) found on the search path or under "App Paths". What is left when
// none is a file.
std::wstring ResolveToolCommand(const std::wstring& command);

class CExtToolsDialog : public CModalDialog
{
public:
    CExtToolsDialog();

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;

    // The edits of the selected tool into the working copy; false (the focus on the edit at
    // fault) when they are refused.
    bool StoreEdits();
    bool Apply();

    const std::vector<_EXT_TOOL>& Tools() const { return m_tools; }
    bool IsModified() const { return m_modified; }

private:
    bool OnInitDialog() override;
    bool OnAccept() override { return !m_modified || Apply(); }
    void FillList();
    void Select(int index);
    void UpdateStates();
    void SetModified();
    void ReadEdits();
    bool Refuse(int focusId, UINT stringId);
    void Add();
    void Delete();
    void Move(int by);
    void Run();
    void BrowseProgram();
    void GoProgram();
    void InsertKeyNumber();
    void BrowseFolder();
    void GoFolder();

    std::vector<_EXT_TOOL> m_tools;
    int m_selected = -1;
    _EXT_TOOL m_edit;
    AnchorLayout m_layout;
    bool m_modified = false;
    bool m_commandChanged = false;  // the Command edit changed since it was filled
    bool m_filling = false;
};

// Runs the editor modally; IDOK or IDCANCEL.
INT_PTR RunExtToolsDialog(HWND owner);
