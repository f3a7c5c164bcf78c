#pragma once
constexpr UINT WM_READER_NOTIFY = WM_USER + 1;
constexpr UINT WM_BRIDGE_NOTIFY = WM_USER + 2;
constexpr UINT WM_SEARCH_NOTIFY = WM_USER + 1;
