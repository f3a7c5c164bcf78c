#pragma once
#define IDS_OPEN 300
#define IDS_ERROR_BASE 300          // an offset may share a real id's value
#define IDR_DATA 300                // another space
