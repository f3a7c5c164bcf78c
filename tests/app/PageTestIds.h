#pragma once
// Resource ids of the page tests (tests/app/PageTest.rc).
#define IDD_PROBE_PAGE 61100
#define IDC_PROBE_EDIT 61101
