#pragma once
#define IDS_TEST_ONLY 9001
#define IDS_TEST_MISSING 9099       // a test may name a string it does not define
