#pragma once
constexpr UINT WM_FIRST = WM_USER + 1;
constexpr UINT WM_SECOND = WM_USER + 2;
constexpr UINT WM_HELPQ = 0x365;
