#include "pages/source/ReadKeysSubPages.h"

#include "pages/source/ReadKeysPage.h"

std::unique_ptr<CBasePage> CreateReadKeysSubPage(int tab, IPageHost& host)
{
    switch (tab) {
    case 0:
        return std::make_unique<CReadKeysGeneralPage>(host);
    default:
        return nullptr;
    }
}
