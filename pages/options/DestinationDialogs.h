#pragma once
// The modal editors of the command-line and the HTTP destinations: each shows the record's
// texts, stores them on Apply (and on OK when they were edited) and keeps its placement.
#include <windows.h>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Layout.h"

class IPageHost;

// What both editors share: the Apply button, the toolbars beside the edits, the menus of
// placeholders and the placement slot.
class CDestinationDialog : public CModalDialog
{
public:
    CDestinationDialog(int templateId, IPageHost& host, int placementSlot, SIZE minTrack);

    // Typing in any edit marks the dialog modified; the placeholder menu's commands go into
    // the placeholder edit.
    bool OnCommand(int id, int code, HWND control) override;

    // Stores the edits into the transfer document; cannot fail.
    virtual bool Apply() = 0;
    bool IsModified() const { return m_modified; }

protected:
    struct ToolButton
    {
        int image;
        int command;
    };
    struct Placeholder
    {
        int command;
        const wchar_t* text;
    };
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    // OK stores what was edited.
    bool OnAccept() override;
    // The dialog's own controls, before the layout is captured.
    virtual void OnInitFields() = 0;
    void SetupToolbar(int toolbarId, const ToolButton* buttons, int count);
    void SetModified(bool modified);
    // Replaces the selection of the edit, undoably, and marks it modified.
    void InsertIntoEdit(int editId, const wchar_t* text);

    IPageHost& m_host;
    AnchorLayout m_layout;

    // The edit that takes placeholders, the button that opens their menu, the menu, and what
    // each of its commands inserts.
    int m_placeholderEdit = 0;
    int m_placeholderButton = 0;
    int m_placeholderMenu = 0;
    std::vector<Placeholder> m_placeholders;

private:
    int m_placementSlot;
    bool m_modified = false;
};

class CCmdLineDialog : public CDestinationDialog
{
public:
    explicit CCmdLineDialog(IPageHost& host);
    bool OnCommand(int id, int code, HWND control) override;
    bool Apply() override;

    std::wstring m_program;
    std::wstring m_arguments;
    std::wstring m_initialDir;

private:
    void OnInitFields() override;
    void BrowseProgram();
    void BrowseFolder();
};

class CHttpRequestDialog : public CDestinationDialog
{
public:
    explicit CHttpRequestDialog(IPageHost& host);
    bool Apply() override;

    std::wstring m_address;

private:
    void OnInitFields() override;
};

// The editor of the command-line (DEST_CMDLINE) or the HTTP (DEST_HTTP) destination, run modally
// over the main window brought forward; true after OK. The application's ShowCmdLineDialog and
// ShowHttpRequestDialog run it; the pages, which do not see the application, run it themselves.
bool RunDestinationDialog(IPageHost& host, int destinationType);

// The folder a typed initial directory stands for: the text itself when it names a folder, else
// the text with its environment variables expanded.
std::wstring ResolveTypedFolder(const std::wstring& typed);
// The text without the space characters at both ends (other blanks are kept).
std::wstring TrimSpaces(const std::wstring& text);
// Explorer opens the parent folder with the item selected; nothing when the path cannot be
// parsed or COM cannot start.
void ShowInExplorer(const std::wstring& path);
