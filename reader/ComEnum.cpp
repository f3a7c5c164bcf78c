#include "reader/ComEnum.h"

#include <setupapi.h>
#include <cwchar>
#include <map>
#include <memory>
#include "core/Exceptions.h"

namespace {

struct AdapterId
{
    WORD vendor, product;
    DWORD mask;
};

constexpr AdapterId kAdapters[] = {
    {0x0403, 0x1234, 586},  {0x0403, 0x1237, 308}, {0x0403, 0x6001, 894},
    {0x2184, 0x0011, 128},  {0x3168, 0x0100, 1026}, {0x3168, 0x0106, 2048},
};

struct AdapterDescription
{
    const wchar_t* text;
    DWORD mask;
};

constexpr AdapterDescription kDescriptions[] = {
    {L"USB Quillmark RFID Adapter", 2},
    {L"USB QM Mifare Adapter", 8},
    {L"USB Quillmark Adapter Vell-4 EHR", 64},
    {L"USB QM TX-31 Adapter", 512},
    {L"Q510 WARDEL Converter", 308},
    {L"USB <-> RS-485/422", 308},
    {L"USB Adapter Vell4-USB", 3074},
};

constexpr WORD kFtdiVendor = 0x0403;
constexpr size_t kMaxPortName = 64;

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// Same layout as the system's property key; the function is resolved at run time because
// older systems lack it.
struct DevicePropertyKey
{
    GUID fmtid;
    ULONG pid;
};
const DevicePropertyKey kBusReportedDeviceDesc = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};
constexpr ULONG kDevPropTypeString = 0x12;
using GetDevicePropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DevicePropertyKey*, ULONG*, PBYTE,
                                          DWORD, PDWORD, DWORD);

struct DevInfoListCloser
{
    void operator()(void* set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DevInfoList = std::unique_ptr<void, DevInfoListCloser>;

struct RegKeyCloser
{
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

// Registry string data as text, without the terminating zeros it may carry.
std::wstring RegText(const BYTE* data, DWORD bytes)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

DevInfoList GetPresentDevices(const GUID& guid, DWORD flags)
{
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
    if (set == INVALID_HANDLE_VALUE)
        ThrowOSError(GetLastError());
    return DevInfoList(set);
}

std::wstring DeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    wchar_t id[201] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 201, nullptr))
        return {};
    return id;
}

class CSystemComDeviceSource : public IComDeviceSource
{
public:
    bool IsVistaOrLater() override
    {
        OSVERSIONINFOEXW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwMajorVersion = 6;
        return VerifyVersionInfoW(&info, VER_MAJORVERSION,
                                  VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) != FALSE;
    }

    void ForEachSerialMapValue(
        const std::function<void(const std::wstring&, DWORD, const std::wstring&)>& fn) override
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return;
        RegKey key(opened);
        for (DWORD i = 0;; ++i) {
            wchar_t name[257];
            DWORD nameLength = 257, type = 0, dataSize = 128;
            BYTE data[128];
            LONG rc = RegEnumValueW(opened, i, name, &nameLength, nullptr, &type, data, &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            // Longer than any port name: not a port, and no reason to lose the others.
            if (rc == ERROR_MORE_DATA)
                continue;
            if (rc != ERROR_SUCCESS)
                ThrowOSError(static_cast<DWORD>(rc));
            fn(std::wstring(name, nameLength), type, type == REG_SZ ? RegText(data, dataSize) : std::wstring());
        }
    }

    void ForEachPortDevice(bool wantInstanceId,
                           const std::function<void(const std::wstring&, const std::wstring&)>& fn) override
    {
        DevInfoList list = GetPresentDevices(kPortsClass, 0);
        HDEVINFO set = list.get();
        for (DWORD i = 0;; ++i) {
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            if (!SetupDiEnumDeviceInfo(set, i, &device)) {
                DWORD e = GetLastError();
                if (e == ERROR_NO_MORE_ITEMS)
                    break;
                ThrowOSError(e);
            }
            std::wstring portName;
            HKEY opened = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (opened != INVALID_HANDLE_VALUE && opened) {
                RegKey key(opened);
                BYTE data[128];
                DWORD type = 0, size = sizeof(data);
                if (RegQueryValueExW(opened, L"PortName", nullptr, &type, data, &size) == ERROR_SUCCESS && type == REG_SZ)
                    portName = RegText(data, size);
            }
            fn(portName, wantInstanceId ? DeviceInstanceId(set, device) : std::wstring());
        }
    }

    bool CanReadBusDescription() override
    {
        HMODULE setupApi = GetModuleHandleW(L"setupapi.dll");
        if (!setupApi)
            ThrowOSError(GetLastError());
        m_getProperty = reinterpret_cast<GetDevicePropertyFn>(
            reinterpret_cast<void*>(GetProcAddress(setupApi, "SetupDiGetDevicePropertyW")));
        return m_getProperty != nullptr;
    }

    void ForEachUsbDevice(
        const std::function<void(const std::wstring&, const std::function<bool(std::wstring&)>&)>& fn) override
    {
        DevInfoList list = GetPresentDevices(kUsbDeviceInterface, DIGCF_DEVICEINTERFACE);
        HDEVINFO set = list.get();
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA itf = {};
            itf.cbSize = sizeof(itf);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceInterface, i, &itf)) {
                DWORD e = GetLastError();
                if (e == ERROR_NO_MORE_ITEMS)
                    break;
                ThrowOSError(e);
            }
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &itf, nullptr, 0, &needed, nullptr);
            if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                ThrowOSError(GetLastError());
            std::vector<BYTE> buffer(needed);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            if (!SetupDiGetDeviceInterfaceDetailW(set, &itf, detail, needed, nullptr, &device))
                ThrowOSError(GetLastError());
            std::wstring id = DeviceInstanceId(set, device);
            if (id.empty())
                continue;
            fn(id, [&](std::wstring& out) { return ReadBusDescription(set, device, out); });
        }
    }

private:
    bool ReadBusDescription(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& out)
    {
        if (!m_getProperty)
            return false;
        BYTE data[512];
        ULONG type = 0;
        DWORD size = 0;
        if (!m_getProperty(set, &device, &kBusReportedDeviceDesc, &type, data, sizeof(data), &size, 0) ||
            type != kDevPropTypeString)
            return false;
        out = RegText(data, size);
        return true;
    }

    GetDevicePropertyFn m_getProperty = nullptr;
};

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t n = wcslen(prefix);
    return text.size() >= n && _wcsnicmp(text.c_str(), prefix, n) == 0;
}

void ReadSerialMap(std::vector<_PORT_INFO>& list, IComDeviceSource& source)
{
    source.ForEachSerialMapValue([&](const std::wstring& name, DWORD type, const std::wstring& data) {
        if (type != REG_SZ || data.empty())
            return;
        size_t slash = name.rfind(L'\\');
        std::wstring tail = slash == std::wstring::npos ? name : name.substr(slash + 1);
        if (!StartsWithNoCase(tail, L"Serial"))
            return;
        std::wstring port = data.substr(0, kMaxPortName);
        CharUpperBuffW(port.data(), static_cast<DWORD>(port.size()));
        list.push_back({port, PORT_SOURCE_REGISTRY, PORT_ANY_MODEL});
    });
}

// Vendor and product of a Ports-class device id, and the FTDI serial text when it has one.
bool ParseDeviceId(const std::wstring& id, unsigned& vendor, unsigned& product, std::wstring& serial)
{
    serial.clear();
    if (StartsWithNoCase(id, L"USB\\"))
        return swscanf(id.c_str() + 4, L"VID_%x&PID_%x", &vendor, &product) == 2;
    if (StartsWithNoCase(id, L"FTDIBUS\\")) {
        wchar_t text[9] = {};
        if (swscanf(id.c_str() + 8, L"VID_%x+PID_%x+%8ls", &vendor, &product, text) != 3)
            return false;
        serial = text;
        return true;
    }
    return false;
}

}  // namespace

DWORD AdapterModelMask(WORD vendorId, WORD productId)
{
    for (const AdapterId& a : kAdapters)
        if (a.vendor == vendorId && a.product == productId)
            return a.mask;
    return 0;
}

DWORD AdapterDescriptionModelMask(const std::wstring& description)
{
    for (const AdapterDescription& d : kDescriptions)
        if (_wcsicmp(description.c_str(), d.text) == 0)
            return d.mask;
    return 0;
}

void EnumComPorts(std::vector<_PORT_INFO>& list, DWORD flags)
{
    CSystemComDeviceSource source;
    EnumComPorts(list, flags, source);
}

void EnumComPorts(std::vector<_PORT_INFO>& list, DWORD flags, IComDeviceSource& source)
{
    if (flags & PORT_SEARCH_REGISTRY)
        ReadSerialMap(list, source);
    if (!(flags & PORT_SEARCH_DEVICES))
        return;
    if ((flags & PORT_SEARCH_FTDI_DESC) && !source.IsVistaOrLater())
        flags &= ~PORT_SEARCH_FTDI_DESC;
    const bool knownOnly = (flags & PORT_SEARCH_USB_ONLY) != 0;
    const bool refine = knownOnly && (flags & PORT_SEARCH_FTDI_DESC);

    // FTDI ports waiting for their description, by serial text. Several ports of one
    // multi-port adapter share it: none may be lost.
    std::multimap<std::wstring, _PORT_INFO> heldBack;
    source.ForEachPortDevice(knownOnly, [&](const std::wstring& portName, const std::wstring& instanceId) {
        if (portName.empty())
            return;
        _PORT_INFO info{portName, PORT_SOURCE_DEVICE, PORT_ANY_MODEL};
        unsigned vendor = 0, product = 0;
        std::wstring serial;
        if (knownOnly) {
            if (!ParseDeviceId(instanceId, vendor, product, serial) || vendor > 0xFFFF || product > 0xFFFF)
                return;
            info.modelMask = AdapterModelMask(static_cast<WORD>(vendor), static_cast<WORD>(product));
            if (!info.modelMask)
                return;
        }
        if (refine && vendor == kFtdiVendor)
            heldBack.emplace(serial, info);
        else
            list.push_back(info);
    });

    if (refine && !heldBack.empty() && source.CanReadBusDescription()) {
        source.ForEachUsbDevice([&](const std::wstring& instanceId, const std::function<bool(std::wstring&)>& description) {
            unsigned vendor = 0, product = 0;
            wchar_t text[9] = {};
            if (swscanf(instanceId.c_str(), L"%*[^\\]\\VID_%x&PID_%x\\%8ls", &vendor, &product, text) != 3 ||
                vendor != kFtdiVendor)
                return;
            auto range = heldBack.equal_range(text);
            if (range.first == range.second)
                return;
            std::wstring desc;
            if (!description(desc))
                return;
            DWORD mask = AdapterDescriptionModelMask(desc);
            if (!mask)
                return;
            for (auto it = range.first; it != range.second; ++it)
                list.push_back({it->second.name, PORT_SOURCE_DEVICE, mask});
            heldBack.erase(range.first, range.second);
        });
    }
    for (const auto& entry : heldBack)
        list.push_back(entry.second);
}
