#pragma once
// Resource ids of framework/.

// Strings
#define IDS_APP_NAME 102
#define IDS_RESOURCE_UNAVAILABLE 182  // "A required resource was unavailable."
#define IDS_DONT_ASK 500
#define IDS_BUTTON_BASE 500           // + IDOK, IDCANCEL, ... IDNO: the button texts 501..507
