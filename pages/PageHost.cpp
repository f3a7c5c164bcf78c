#include "pages/PageHost.h"

const std::wstring& KeyTypeName(IPageHost& host, int keyType)
{
    static const std::wstring none;
    const auto& names = host.GetKeyTypeNames();
    return keyType >= 0 && keyType < static_cast<int>(names.size()) ? names[keyType] : none;
}
