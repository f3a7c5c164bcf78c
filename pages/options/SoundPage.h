#pragma once
// The Sounds page: sound notifications on and off, and one sound file for each of the four
// events, chosen with a file dialog or in place from the system's media folder.
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/TableCtrl.h"

class CAppSettings;
class IPageHost;

// Column ids of the list.
enum SoundColumn : int { SOUNDCOL_EVENT = 0, SOUNDCOL_FILE = 1, SOUNDCOL_PLAY = 2, SOUNDCOL_GO = 3, SOUNDCOL_BROWSE = 4 };

// Images of the application's small image list used by the list.
enum : int { SOUNDIMG_BROWSE = 3, SOUNDIMG_GO = 4, SOUNDIMG_PLAY = 5, SOUNDIMG_STOP = 6 };

// Where the text of a media-folder entry ends and the file's display name begins.
inline constexpr wchar_t kSoundEntrySeparator[] = L" \t// ";

class CSoundsLvData : public CVirtualListViewData
{
public:
    CSoundsLvData(CAppSettings& settings, IPageHost& host) : m_settings(settings), m_host(host) {}

    int GetItemCount() override;
    void GetDispInfo(LVITEMW* item) override;
    void CacheHint(int, int) override {}

private:
    CAppSettings& m_settings;
    IPageHost& m_host;
    std::wstring m_text;
};

class CSoundListView : public CTableCtrl
{
};

// The edit of the in-place combo: Enter stores, Escape drops the edit.
class CSoundComboEdit : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    class CSoundPage* page = nullptr;
};

// The sound files of the folder and below it (".wav", ".mid", ".mp3"), sorted, each as
// "<path> \t// <display name>".
std::vector<std::wstring> ListMediaSounds(const std::wstring& folder);
// The path of a combo text: what stands before " \t// ".
std::wstring SoundEntryPath(const std::wstring& text);

class CSoundPage : public CBasePage
{
public:
    explicit CSoundPage(IPageHost& host);
    ~CSoundPage() override;

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    void ExchangeData(bool save) override;
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    void RestoreDefaults() override;

    CSoundListView& GetList() { return m_list; }
    bool IsEditing() const { return m_editing; }
    // Ends the in-place edit: stores the combo's path (store) and hides the combo.
    void EndEdit(bool store);

private:
    bool OnInitDialog() override;
    void OnSize(UINT type, int width, int height) override;
    void OnDestroy() override;
    void OnActivate(int row);
    CAppSettings& Settings();
    void RefreshRows(bool columns);
    void OnCellClick(int row, int column, bool ofClick);
    void StartEdit();
    void Play(int row);
    void Go(int row);
    void Browse(int row);
    void ClearSelected();
    void OnListMenu(POINT at) override;
    int FirstSelected() const;

    CSoundListView m_list;
    std::unique_ptr<CSoundsLvData> m_data;
    int m_row = -1;         // the current cell
    int m_column = -1;      // its column id
    DWORD m_rowTick = 0;    // when the row became current
    bool m_timer = false;
    bool m_editing = false;
    bool m_comboFilled = false;
    CSoundComboEdit m_comboEdit;
};

std::unique_ptr<CBasePage> CreateSoundPage(IPageHost& host);
