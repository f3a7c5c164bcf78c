#pragma once
// The application's system services: the system's own, except that questions are asked in the
// program's message box and the PC/SC readers are those of the application's context.
#include "core/SystemServices.h"

class CAppSystemServices final : public CSystemServices
{
public:
    // In force from construction to destruction.
    CAppSystemServices();
    ~CAppSystemServices() override;
    CAppSystemServices(const CAppSystemServices&) = delete;
    CAppSystemServices& operator=(const CAppSystemServices&) = delete;

    int AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk) override;
    void ListPcscReaders(std::vector<std::wstring>& names) override;

private:
    ISystemServices* m_previous = nullptr;
};
