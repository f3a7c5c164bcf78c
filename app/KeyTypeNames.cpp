// The table of key-type names (RCDATA 800): one name a line, index = key type.
#include <windows.h>

#include "app/NorvaneApp.h"
#include "app/ShellServices.h"
#include "core/TextUtil.h"
#include "resources/resource.h"

void SplitKeyTypeNames(const char* data, size_t size, std::array<std::wstring, kKeyTypeCount>& names)
{
    for (std::wstring& name : names)
        name.clear();
    UINT codePage = CP_ACP;
    if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
        static_cast<unsigned char>(data[2]) == 0xBF) {
        codePage = CP_UTF8;
        data += 3;
        size -= 3;
    }
    std::wstring text;
    if (size > 0)
        MultiByteToWString(data, static_cast<int>(size), text, codePage);
    size_t index = 0, start = 0;
    while (index < names.size() && start < text.size()) {
        size_t end = text.find(L'\r', start);
        if (end == std::wstring::npos)
            end = text.size();
        names[index++] = text.substr(start, end - start);
        start = end + 1;
        if (start < text.size() && text[start] == L'\n')
            ++start;
    }
}

bool CNorvaneApp::LoadKeyTypeNames()
{
    if (keyTypeNamesLoaded)
        return false;
    keyTypeNamesLoaded = true;
    LPCWSTR name = MAKEINTRESOURCEW(IDR_KEY_TYPES);
    HMODULE module = FindResourceModule(name, RT_RCDATA);
    HRSRC info = FindResourceW(module, name, RT_RCDATA);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        SplitKeyTypeNames("", 0, keyTypeNames);
        return true;
    }
    SplitKeyTypeNames(static_cast<const char*>(data), SizeofResource(module, info), keyTypeNames);
    return true;
}
