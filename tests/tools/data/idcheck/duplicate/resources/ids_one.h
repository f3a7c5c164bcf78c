#pragma once
// Strings of one folder.
#define IDS_OPEN 300
