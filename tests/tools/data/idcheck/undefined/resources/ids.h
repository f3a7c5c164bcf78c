#pragma once
#define IDS_OPEN 300
#define IDS_MISSING 301
#define ID_NO_TEXT 302              // a command needs no string
