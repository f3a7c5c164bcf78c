#include "framework/Holders.h"

#include <string>

#include "core/TextUtil.h"

CResourceException::CResourceException()
{
    std::wstring text;
    LoadResString(IDS_RESOURCE_UNAVAILABLE, text);
    WStringToMultiByte(text.c_str(), static_cast<int>(text.size()), m_message, CP_ACP);
}

void ThrowResourceException()
{
    throw CResourceException();
}

CClientDC::CClientDC(HWND window) : m_hWnd(window)
{
    m_hDC = GetDC(window);
    if (!m_hDC)
        ThrowResourceException();
}

CClientDC::~CClientDC()
{
    ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}

CWindowDC::CWindowDC(HWND window) : m_hWnd(window)
{
    m_hDC = GetWindowDC(window);
    if (!m_hDC)
        ThrowResourceException();
}

CWindowDC::~CWindowDC()
{
    ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}
