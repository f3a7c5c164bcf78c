#pragma once
// String ids of the command-text tests' own resources (kept clear of the program's ids).

#define IDS_TEST_SHORT_LONG 62001
#define IDS_TEST_NO_LINE_FEED 62002
#define IDS_TEST_ONLY_LONG 62003
#define IDS_TEST_ONLY_SHORT 62004
#define IDS_TEST_TWO_LINE_FEEDS 62005
#define IDS_TEST_MISSING 62099

// Commands of the test menu; their strings hold the tips.
#define ID_TEST_CMD_A 62101
#define ID_TEST_CMD_B 62102
#define ID_TEST_CMD_C 62103
#define ID_TEST_CMD_D 62104
#define ID_TEST_CMD_LONG 62105
