// The main window's pages: id, dialog template (also the title string and help id) and the
// factory of the page object. A page that is not built yet has no factory and stays blank.
#include "app/MainFrame.h"

const PageTableEntry kPageTable[13] = {
    {0, 968, nullptr},   // CTransferPage "Transfer"
    {1, 950, nullptr},   // CEventLogPage "Event Log"
    {2, 974, nullptr},   // CSourcePage "Source"
    {3, 955, nullptr},   // CReaderPage "Reader"
    {4, 963, nullptr},   // CKeyListPage "List of keys"
    {10, 975, nullptr},  // CDestinationPage "Destination"
    {11, 953, nullptr},  // CKeyboardPage "Keyboard"
    {12, 954, nullptr},  // CPortavoPage "Portavo"
    {20, 952, nullptr},  // CFormatsPage "Formats"
    {21, 962, nullptr},  // CReadKeysPage "Reading keys"
    {22, 972, nullptr},  // CAdvancedPage "Advanced"
    {23, 958, nullptr},  // CSoundPage "Sounds"
    {24, 956, nullptr},  // CHotkeysPage "Hotkeys"
};
