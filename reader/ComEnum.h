#pragma once
// Serial ports on which a reader may sit, and for known USB adapters the reader models that
// can be behind them.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Source kinds.
constexpr DWORD PORT_SOURCE_REGISTRY = 1;  // the registry's serial-port map
constexpr DWORD PORT_SOURCE_DEVICE = 2;    // device enumeration

// Search flags ("searchFlags").
constexpr DWORD PORT_SEARCH_REGISTRY = 0x01;
constexpr DWORD PORT_SEARCH_DEVICES = 0x02;
constexpr DWORD PORT_SEARCH_USB_ONLY = 0x04;     // known adapters only, with their model masks
constexpr DWORD PORT_SEARCH_FTDI_DESC = 0x08;    // refine FTDI adapters by their USB description
constexpr DWORD PORT_SEARCH_NETWORK = 0x10;      // reader search, not here
constexpr DWORD PORT_SEARCH_PCSC = 0x20;         // the shell, not here
constexpr DWORD PORT_SEARCH_DEFAULT = 0x2E;

constexpr DWORD PORT_ANY_MODEL = 0xFFFFFFFF;

struct _PORT_INFO
{
    std::wstring name;   // COM3
    DWORD source = 0;    // PORT_SOURCE_*
    DWORD modelMask = 0; // bit n: reader model n may be attached; PORT_ANY_MODEL = any
};

// Model mask of a USB adapter by vendor and product id; 0 when unknown.
DWORD AdapterModelMask(WORD vendorId, WORD productId);
// Model mask of an adapter by its bus-reported description (case-insensitive); 0 when unknown.
DWORD AdapterDescriptionModelMask(const std::wstring& description);

// What the enumeration reads of the machine. The real one reads the registry and SetupAPI;
// a test gives its own devices. Enumeration failures are thrown as COSException.
class IComDeviceSource
{
public:
    virtual ~IComDeviceSource() = default;
    // The description refinement needs Windows 6 (Vista) or later.
    virtual bool IsVistaOrLater() = 0;
    // Each value of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; nothing when the key cannot be opened.
    virtual void ForEachSerialMapValue(
        const std::function<void(const std::wstring& name, DWORD type, const std::wstring& data)>& fn) = 0;
    // Each present device of the Ports setup class: its "PortName" (empty when it has none)
    // and, when asked for, its device instance id (empty when unavailable).
    virtual void ForEachPortDevice(bool wantInstanceId,
                                   const std::function<void(const std::wstring& portName, const std::wstring& instanceId)>& fn) = 0;
    // False when the system cannot report bus descriptions (the refinement is skipped).
    virtual bool CanReadBusDescription() = 0;
    // Each present USB device interface: its device instance id and a reader of its
    // bus-reported description (false when it has none).
    virtual void ForEachUsbDevice(
        const std::function<void(const std::wstring& instanceId, const std::function<bool(std::wstring&)>& description)>& fn) = 0;
};

// Appends the ports found to list (from the registry and SetupAPI). Ports appended before a
// failure stay in the list.
void EnumComPorts(std::vector<_PORT_INFO>& list, DWORD flags);
void EnumComPorts(std::vector<_PORT_INFO>& list, DWORD flags, IComDeviceSource& source);
