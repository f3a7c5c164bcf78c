#include "pages/source/ReadKeysSubPages.h"

#include "pages/source/CardReadPages.h"
#include "pages/source/MifareKeysPage.h"
#include "pages/source/ReadKeysPage.h"

std::unique_ptr<CBasePage> CreateReadKeysSubPage(int tab, IPageHost& host)
{
    switch (tab) {
    case 0:
        return std::make_unique<CReadKeysGeneralPage>(host);
    case 1:
        return std::make_unique<CMifareCPage>(host);
    case 2:
        return std::make_unique<CMifarePPage>(host);
    case 3:
        return std::make_unique<CMifareULPage>(host);
    case 4:
        return std::make_unique<CTemicPage>(host);
    default:
        return nullptr;
    }
}
