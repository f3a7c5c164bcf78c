#pragma once
#define IDD_FIRST 900
#define IDD_SECOND 901
#define IDC_NAME 1000
#define IDC_TITLE 1000
