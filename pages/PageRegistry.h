#pragma once
// The pages of the main window, once: each row gives a page's id, its dialog template, its title
// string, its help id and the factory of its object. The page list, the frame's page slots and
// the highest page id all follow from the rows. A row without a factory makes no page; its slot
// stays blank.
//
// A page is added by declaring its factory here, defining it beside the page class
// (pages/source/, pages/options/) and naming it in its row.
#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include "config/AppSettings.h"  // kMaxPageId: the ids the settings file may name
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
    {PAGE_TRANSFER, IDD_TRANSFER_PAGE, IDD_TRANSFER_PAGE, IDD_TRANSFER_PAGE, CreateTransferPage},  // CTransferPage "Transfer"
    {PAGE_EVENT_LOG, IDD_EVENTLOG_PAGE, IDD_EVENTLOG_PAGE, IDD_EVENTLOG_PAGE, CreateEventLogPage},  // CEventLogPage "Event Log"
    {PAGE_SOURCE, IDD_SOURCE_PAGE, IDD_SOURCE_PAGE, IDD_SOURCE_PAGE, CreateSourcePage},  // CSourcePage "Source"
    {PAGE_READER, IDD_READER_PAGE, IDD_READER_PAGE, IDD_READER_PAGE, CreateReaderPage},  // CReaderPage "Reader"
    {PAGE_KEY_LIST, IDD_KEYLIST_PAGE, IDD_KEYLIST_PAGE, IDD_KEYLIST_PAGE, CreateKeyListPage},  // CKeyListPage "List of keys"
    {PAGE_DESTINATION, IDD_DESTINATION_PAGE, IDD_DESTINATION_PAGE, IDD_DESTINATION_PAGE, CreateDestinationPage},  // CDestinationPage "Destination"
    {PAGE_KEYBOARD, IDD_KEYBOARD_PAGE, IDD_KEYBOARD_PAGE, IDD_KEYBOARD_PAGE, CreateKeyboardPage},  // CKeyboardPage "Keyboard"
    {PAGE_PORTAVO, IDD_PORTAVO_PAGE, IDD_PORTAVO_PAGE, IDD_PORTAVO_PAGE, CreatePortavoPage},  // CPortavoPage "Portavo"
    {PAGE_FORMATS, IDD_FORMATS_PAGE, IDD_FORMATS_PAGE, IDD_FORMATS_PAGE, CreateFormatsPage},  // CFormatsPage "Formats"
    {PAGE_READ_KEYS, IDD_READKEYS_PAGE, IDD_READKEYS_PAGE, IDD_READKEYS_PAGE, CreateReadKeysPage},  // CReadKeysPage "Reading keys"
    {PAGE_ADVANCED, IDD_ADVANCED_PAGE, IDD_ADVANCED_PAGE, IDD_ADVANCED_PAGE, CreateAdvancedPage},  // CAdvancedPage "Advanced"
    {PAGE_SOUNDS, IDD_SOUNDS_PAGE, IDD_SOUNDS_PAGE, IDD_SOUNDS_PAGE, CreateSoundPage},  // CSoundPage "Sounds"
    {PAGE_HOTKEYS, IDD_HOTKEYS_PAGE, IDD_HOTKEYS_PAGE, IDD_HOTKEYS_PAGE, CreateHotkeysPage},  // CHotkeysPage "Hotkeys"
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
