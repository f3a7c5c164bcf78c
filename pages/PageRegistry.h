#pragma once
// The pages of the main window, once: each row gives a page's id, its dialog template, its title
// string, its help id, the factory of its object, the command that shows it, the page it is
// listed under and whether the page toolbar shows on it. The page list, the pages menu, the
// frame's page slots and the highest page id all follow from the rows. A row without a factory makes no page;
// its slot stays blank.
//
// A page is added by declaring its factory here, defining it beside the page class
// (pages/source/, pages/options/) and naming it in its row.
#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include "config/AppSettings.h"  // kMaxPageId: the ids the settings file may name
#include "resources/ids_commands.h"
#include "resources/ids_pages.h"

class CBasePage;
class IPageHost;

using PageFactory = std::unique_ptr<CBasePage> (*)(IPageHost& host);

// Factories of the pages, defined beside their classes.
std::unique_ptr<CBasePage> CreateTransferPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateEventLogPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateAdvancedPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateKeyListPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateSoundPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateHotkeysPage(IPageHost& host);

// pages/options/
std::unique_ptr<CBasePage> CreateDestinationPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateKeyboardPage(IPageHost& host);
std::unique_ptr<CBasePage> CreatePortavoPage(IPageHost& host);

// pages/source/
std::unique_ptr<CBasePage> CreateSourcePage(IPageHost& host);
std::unique_ptr<CBasePage> CreateReaderPage(IPageHost& host);
std::unique_ptr<CBasePage> CreateReadKeysPage(IPageHost& host);

std::unique_ptr<CBasePage> CreateFormatsPage(IPageHost& host);

struct PageTableEntry
{
    int id;
    int dialogId;
    int titleId;   // string id
    int helpId;
    PageFactory create;  // null: no page, the slot stays blank
    int command = 0;         // the command that shows it (ID_PAGE_FIRST to ID_SHOW_DESTINATION), 0 none
    int groupHead = -1;      // the page it is listed under (indented below it), -1 a page of its own
    bool pageToolbar = false;  // the page toolbar shows on it even with no panel above the page
};

// Page ids that the shell names on its own.
enum PageId : int
{
    PAGE_TRANSFER = 0,
    PAGE_EVENT_LOG = 1,
    PAGE_SOURCE = 2,
    PAGE_READER = 3,
    PAGE_KEY_LIST = 4,
    PAGE_DESTINATION = 10,
    PAGE_KEYBOARD = 11,
    PAGE_PORTAVO = 12,
    PAGE_FORMATS = 20,
    PAGE_READ_KEYS = 21,
    PAGE_ADVANCED = 22,
    PAGE_SOUNDS = 23,
    PAGE_HOTKEYS = 24,
};

// In page-id order. The title and the help id of a page are its dialog id.
inline constexpr PageTableEntry kPageRegistry[] = {
    // CTransferPage "Transfer"
    {PAGE_TRANSFER, IDD_TRANSFER_PAGE, IDD_TRANSFER_PAGE, IDD_TRANSFER_PAGE, CreateTransferPage, ID_PAGE_FIRST, -1, true},
    // CEventLogPage "Event Log"
    {PAGE_EVENT_LOG, IDD_EVENTLOG_PAGE, IDD_EVENTLOG_PAGE, IDD_EVENTLOG_PAGE, CreateEventLogPage, ID_PAGE_LOG},
    // CSourcePage "Source"
    {PAGE_SOURCE, IDD_SOURCE_PAGE, IDD_SOURCE_PAGE, IDD_SOURCE_PAGE, CreateSourcePage, ID_SHOW_SOURCE},
    // CReaderPage "Reader"
    {PAGE_READER, IDD_READER_PAGE, IDD_READER_PAGE, IDD_READER_PAGE, CreateReaderPage, ID_PAGE_READER, PAGE_SOURCE},
    // CKeyListPage "List of keys"
    {PAGE_KEY_LIST, IDD_KEYLIST_PAGE, IDD_KEYLIST_PAGE, IDD_KEYLIST_PAGE, CreateKeyListPage, ID_PAGE_KEYS, PAGE_SOURCE},
    // CDestinationPage "Destination"
    {PAGE_DESTINATION, IDD_DESTINATION_PAGE, IDD_DESTINATION_PAGE, IDD_DESTINATION_PAGE, CreateDestinationPage,
     ID_SHOW_DESTINATION},
    // CKeyboardPage "Keyboard"
    {PAGE_KEYBOARD, IDD_KEYBOARD_PAGE, IDD_KEYBOARD_PAGE, IDD_KEYBOARD_PAGE, CreateKeyboardPage, ID_PAGE_KEYBOARD,
     PAGE_DESTINATION},
    // CPortavoPage "Portavo"
    {PAGE_PORTAVO, IDD_PORTAVO_PAGE, IDD_PORTAVO_PAGE, IDD_PORTAVO_PAGE, CreatePortavoPage, ID_PAGE_PORTAVO,
     PAGE_DESTINATION, true},
    // CFormatsPage "Formats"
    {PAGE_FORMATS, IDD_FORMATS_PAGE, IDD_FORMATS_PAGE, IDD_FORMATS_PAGE, CreateFormatsPage, ID_PAGE_FORMATS},
    // CReadKeysPage "Reading keys"
    {PAGE_READ_KEYS, IDD_READKEYS_PAGE, IDD_READKEYS_PAGE, IDD_READKEYS_PAGE, CreateReadKeysPage, ID_PAGE_LAST, -1,
     true},
    // CAdvancedPage "Advanced"
    {PAGE_ADVANCED, IDD_ADVANCED_PAGE, IDD_ADVANCED_PAGE, IDD_ADVANCED_PAGE, CreateAdvancedPage, ID_PAGE_ADVANCED, -1,
     true},
    // CSoundPage "Sounds"
    {PAGE_SOUNDS, IDD_SOUNDS_PAGE, IDD_SOUNDS_PAGE, IDD_SOUNDS_PAGE, CreateSoundPage, ID_PAGE_SOUNDS, PAGE_ADVANCED,
     true},
    // CHotkeysPage "Hotkeys"
    {PAGE_HOTKEYS, IDD_HOTKEYS_PAGE, IDD_HOTKEYS_PAGE, IDD_HOTKEYS_PAGE, CreateHotkeysPage, ID_PAGE_HOTKEYS,
     PAGE_ADVANCED, true},
};

inline constexpr int kPageCount = static_cast<int>(std::size(kPageRegistry));

// The page ids in page-id order (the page list's order).
inline constexpr std::array<int, kPageCount> kPageTable = [] {
    std::array<int, kPageCount> ids{};
    for (int i = 0; i < kPageCount; ++i)
        ids[i] = kPageRegistry[i].id;
    return ids;
}();

inline constexpr int kHighestPageId = *std::max_element(kPageTable.begin(), kPageTable.end());
// The frame's page slots, indexed by page id (ids without a row are empty slots).
inline constexpr int kPageSlotCount = kHighestPageId + 1;

static_assert(std::is_sorted(kPageTable.begin(), kPageTable.end()) &&
                  std::adjacent_find(kPageTable.begin(), kPageTable.end()) == kPageTable.end() &&
                  kPageTable.front() >= 0,
              "page ids are unique, ascending and not negative");
// The settings sit below the pages and keep their own bound for the "page" value they read.
static_assert(kHighestPageId == kMaxPageId, "the settings file must be able to name every page, and no more");

// The row of a page id among rows (the registry unless the caller has rows of its own); null for
// an id without a row.
constexpr const PageTableEntry* FindPageEntry(int pageId, std::span<const PageTableEntry> rows = kPageRegistry)
{
    for (const PageTableEntry& row : rows) {
        if (row.id == pageId)
            return &row;
    }
    return nullptr;
}

// The page a page command shows (ID_PAGE_FIRST to ID_SHOW_DESTINATION); -1 for another id.
constexpr int PageOfCommand(int command)
{
    for (const PageTableEntry& row : kPageRegistry) {
        if (row.command == command)
            return row.id;
    }
    return -1;
}
