#pragma once
// Every question and message of the program (a task dialog driven by a message-box style word),
// the common file dialog and the folder browser.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

// The task dialog configuration for a message: style bits 0-3 buttons (0 OK; 1 OK, Cancel;
// 3 Yes, No, Cancel; 4 Yes, No; 5 Retry, Cancel), 4-7 icon (0x10 error, 0x20 question,
// 0x30 warning, 0x40 information, 0x80 shield), 8-11 index of the default button.
class CMessageBoxConfig
{
public:
    CMessageBoxConfig(const std::wstring& text, UINT style, HWND owner, const bool* dontAsk);
    CMessageBoxConfig(const CMessageBoxConfig&) = delete;
    CMessageBoxConfig& operator=(const CMessageBoxConfig&) = delete;

    TASKDIALOGCONFIG config;
    std::vector<TASKDIALOG_BUTTON> buttons;

private:
    std::wstring m_text, m_title, m_checkText;
    std::vector<std::wstring> m_buttonTexts;
};

// Returns the id of the button that closed the box. With a state pointer the "Do not ask" box is
// shown (checked when the state is true) and the state becomes whether it was checked.
int ShowMessage(const std::wstring& text, UINT style, HWND owner = nullptr, bool* dontAsk = nullptr);
int ShowMessageId(UINT stringId, UINT style, HWND owner = nullptr, bool* dontAsk = nullptr);

// The file-name buffer of the file dialog: the names, each NUL-terminated, a final NUL, and room
// for at least 4096 characters (more when the names need it).
std::vector<wchar_t> BuildFileNameBuffer(const std::vector<std::wstring>& names);

// The open (or save) dialog; after OK `names` holds exactly the chosen path and the filter index
// is written back; after Cancel both are untouched. The filter is string `filterId` with "|"
// separators.
bool ShowFileDialog(std::vector<std::wstring>& names, int* filterIndex, bool save, UINT filterId, HWND owner,
                    DWORD flags);

// The shell's folder browser starting at `path` (a buffer of MAX_PATH characters, in and out).
bool BrowseForFolder(HWND owner, wchar_t* path);
