#include <winsock2.h>
#include <gtest/gtest.h>

#include "comm/TcpPort.h"

TEST(PortErrors, Win32CodesMapToPortResults)
{
    struct Case
    {
        DWORD error;
        HRESULT expected;
    } cases[] = {
        {ERROR_OPERATION_ABORTED, KV_E_PORT_DISCONNECTED},
        {0, E_FAIL},  // a failure that left no code must not read as success
        {ERROR_FILE_NOT_FOUND, static_cast<HRESULT>(0x80070002)},
        {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
        {ERROR_NOT_SUPPORTED, static_cast<HRESULT>(0x80070032)},
        {ERROR_BROKEN_PIPE, static_cast<HRESULT>(0x8007006D)},
        {static_cast<DWORD>(E_ABORT), E_ABORT},
        {static_cast<DWORD>(KV_E_PORT_BUSY), KV_E_PORT_BUSY},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, PortResultFromWin32(c.error)) << c.error;
}

TEST(PortErrors, SocketCodesMapToPortResults)
{
    struct Case
    {
        int error;
        HRESULT expected;
    } cases[] = {
        {WSAECONNABORTED, KV_E_PORT_DISCONNECTED},
        {WSAECONNRESET, KV_E_PORT_DISCONNECTED},
        {0, E_FAIL},
        {WSAECONNREFUSED, static_cast<HRESULT>(0x8007274D)},
        {WSAETIMEDOUT, static_cast<HRESULT>(0x8007274C)},
        {ERROR_OPERATION_ABORTED, static_cast<HRESULT>(0x800703E3)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, PortResultFromSocketError(c.error)) << c.error;
}

TEST(PortErrors, ExceptionCarriesTheMessageTableText)
{
    struct Case
    {
        HRESULT code;
        const char* text;
    } cases[] = {
        {KV_E_PORT_NAME, "Incorrect port name."},
        {KV_E_PORT_NOT_EXISTS, "Port not exists."},
        {KV_E_PORT_BUSY, "Port is busy."},
        {KV_E_PORT_DISCONNECTED, "Port is disconnected."},
        {KV_E_WINSOCK_VERSION, "Not found a suitable version of Winsock.dll."},
        {KV_E_TCP_CONNECT_TIMEOUT, "Timeout TCP connection."},
        {KV_E_SEND_TIMEOUT, "Timeout sending request data to the port."},
        {KV_E_RESPONSE_TIMEOUT, "Timeout response data from the port."},
        {KV_E_INVALID_RESPONSE, "Reader sent an invalid response."},
        {static_cast<HRESULT>(0x80040204), ""},  // no such entry
    };
    for (const Case& c : cases) {
        try {
            ThrowPortError(c.code, L"COM7");
        } catch (const CKvPortException& e) {
            EXPECT_STREQ(c.text, e.what());
            EXPECT_EQ(c.code, e.GetCode());
            EXPECT_EQ(L"COM7", e.GetText());
            continue;
        }
        ADD_FAILURE() << "nothing thrown";
    }
    CKvPortException noText(KV_E_PORT_BUSY);
    EXPECT_TRUE(noText.GetText().empty());
    // Caught at a thread boundary as a standard exception.
    try {
        ThrowPortError(KV_E_TCP_CONNECT_TIMEOUT);
    } catch (const std::exception& e) {
        EXPECT_STREQ("Timeout TCP connection.", e.what());
    }
}

TEST(PortErrors, ReferenceCountAndInterfaceQuery)
{
    CKvPort* port = new CKvTcpPort;
    EXPECT_EQ(1u, port->AddRef());
    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, port->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(port), unknown);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, port->QueryInterface(IID_IDispatch, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(0u, port->Release());
}
