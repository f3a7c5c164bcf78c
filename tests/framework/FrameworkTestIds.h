#pragma once
// Resource ids of the framework tests' own templates (kept clear of the program's ids).

#define IDD_TEST_DIALOG 9001   // modal dialog, not visible in its template
#define IDD_TEST_VISIBLE 9002  // modal dialog with WS_VISIBLE
#define IDD_TEST_PAGE 9003     // page: child with a caption and WS_DISABLED that the page base removes
#define IDD_TEST_NOIDLE 9004   // modal dialog with DS_NOIDLEMSG
#define IDD_TEST_SHOWCASE 9005 // a dialog with a few of each control, for the screenshot

#define IDC_TEST_EDIT 9101
#define IDC_TEST_LABEL 9102
#define IDC_TEST_CHECK 9103
#define IDC_TEST_LIST 9104
#define IDC_TEST_GROUP 9105
#define IDC_TEST_COMBO 9106

#define IDS_TEST_FILTER 9201
#define IDS_TEST_QUESTION 9202

#define IDR_TEST_TIP 9301   // RCDATA: an RTF page with tags for the rich tip

// Column titles of the table tests.
#define IDS_TEST_ALPHA 9401
#define IDS_TEST_BETA 9402
#define IDS_TEST_GAMMA 9403
#define IDS_TEST_DELTA 9404
#define IDS_TEST_LONG_TITLE 9405
