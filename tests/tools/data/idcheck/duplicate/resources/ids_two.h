#pragma once
// Strings of another folder.
#define IDS_CLOSE 301
#define IDS_SAVE 300
#define ID_SAVE 300
