#pragma once
// The sub-pages of the reading keys page, one per tab: 0 general, 1 Mifare Classic, 2 Mifare
// Plus, 3 Mifare Ultralight, 4 Temic. Null for a tab whose sub-page is not there.
#include <memory>

class CBasePage;
class IPageHost;

constexpr int kReadKeysTabCount = 5;

std::unique_ptr<CBasePage> CreateReadKeysSubPage(int tab, IPageHost& host);
