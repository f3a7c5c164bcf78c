#pragma once
#define IDS_OPEN 300
