#include "tests/support/PortPairs.h"

#include "core/Exceptions.h"
#include "reader/ComEnum.h"

namespace {

struct MapValue
{
    std::wstring name;
    DWORD type;
    std::wstring data;
};

struct PortDevice
{
    std::wstring portName, instanceId;
};

struct UsbDevice
{
    std::wstring instanceId;
    std::wstring description;  // empty: none reported
};

// The machine as the enumeration sees it.
class CFakeDeviceSource : public IComDeviceSource
{
public:
    bool IsVistaOrLater() override { return vista; }
    void ForEachSerialMapValue(
        const std::function<void(const std::wstring&, DWORD, const std::wstring&)>& fn) override
    {
        for (const MapValue& v : mapValues)
            fn(v.name, v.type, v.data);
    }
    void ForEachPortDevice(bool wantInstanceId,
                           const std::function<void(const std::wstring&, const std::wstring&)>& fn) override
    {
        int n = 0;
        for (const PortDevice& d : devices) {
            if (n++ == failAfterDevices)
                ThrowOSError(ERROR_INVALID_DATA);
            fn(d.portName, wantInstanceId ? d.instanceId : std::wstring());
        }
    }
    bool CanReadBusDescription() override
    {
        ++descriptionQueries;
        return canReadDescriptions;
    }
    void ForEachUsbDevice(
        const std::function<void(const std::wstring&, const std::function<bool(std::wstring&)>&)>& fn) override
    {
        for (const UsbDevice& d : usb)
            fn(d.instanceId, [&](std::wstring& out) {
                if (d.description.empty())
                    return false;
                out = d.description;
                return true;
            });
    }

    bool vista = true;
    bool canReadDescriptions = true;
    int failAfterDevices = -1;
    int descriptionQueries = 0;
    std::vector<MapValue> mapValues;
    std::vector<PortDevice> devices;
    std::vector<UsbDevice> usb;
};

std::string Listing(const std::vector<_PORT_INFO>& list)
{
    std::string s;
    for (const _PORT_INFO& p : list) {
        if (!s.empty())
            s += " ";
        s += std::string(p.name.begin(), p.name.end()) + "/" + std::to_string(p.source) + "/" +
             (p.modelMask == PORT_ANY_MODEL ? std::string("any") : std::to_string(p.modelMask));
    }
    return s;
}

}  // namespace

TEST(ComEnum, AdapterTablesGiveTheirModelMasks)
{
    struct Id
    {
        WORD vendor, product;
        DWORD mask;
    } ids[] = {
        {0x0403, 0x1234, 586}, {0x0403, 0x1237, 308}, {0x0403, 0x6001, 894}, {0x2184, 0x0011, 128},
        {0x3168, 0x0100, 1026}, {0x3168, 0x0106, 2048}, {0x0403, 0x6010, 0}, {0x1234, 0x0011, 0},
    };
    for (const Id& id : ids)
        EXPECT_EQ(id.mask, AdapterModelMask(id.vendor, id.product)) << std::hex << id.vendor << ":" << id.product;

    struct Desc
    {
        const wchar_t* text;
        DWORD mask;
    } descs[] = {
        {L"USB Quillmark RFID Adapter", 2}, {L"USB QM Mifare Adapter", 8},
        {L"USB Quillmark Adapter Vell-4 EHR", 64}, {L"USB QM TX-31 Adapter", 512},
        {L"Q510 WARDEL Converter", 308}, {L"USB <-> RS-485/422", 308},
        {L"USB Adapter Vell4-USB", 3074}, {L"usb qm mifare adapter", 8},
        {L"USB QM Mifare Adapter ", 0}, {L"FT232R USB UART", 0}, {L"", 0},
    };
    for (const Desc& d : descs)
        EXPECT_EQ(d.mask, AdapterDescriptionModelMask(d.text)) << std::string(d.text, d.text + wcslen(d.text));
}

TEST(ComEnum, RegistryMapTakesOnlySerialDevices)
{
    CFakeDeviceSource source;
    source.mapValues = {
        {L"\\Device\\Serial0", REG_SZ, L"com3"},
        {L"\\Device\\VCP0", REG_SZ, L"COM4"},
        {L"\\Device\\USBSER000", REG_SZ, L"COM5"},
        {L"\\Device\\serial1", REG_SZ, L"COM6"},
        {L"Serial2", REG_SZ, L"COM7"},
        {L"\\Device\\Serial3", REG_DWORD, L""},
        {L"\\Device\\Serial4", REG_SZ, L""},
        {L"\\Device\\Ser", REG_SZ, L"COM8"},
        {L"\\Device\\Serial5", REG_SZ, std::wstring(70, L'x')},
    };
    std::vector<_PORT_INFO> list;
    EnumComPorts(list, PORT_SEARCH_REGISTRY, source);
    EXPECT_EQ("COM3/1/any COM6/1/any COM7/1/any " + std::string(64, 'X') + "/1/any", Listing(list));
}

TEST(ComEnum, DevicesAloneListEveryPortWithAnyModel)
{
    CFakeDeviceSource source;
    source.mapValues = {{L"\\Device\\Serial0", REG_SZ, L"COM1"}};
    source.devices = {
        {L"COM1", L"ACPI\\PNP0501\\1"},
        {L"COM9", L"FTDIBUS\\VID_0403+PID_6001+A1B2C3D4A\\0000"},
        {L"", L"USB\\VID_0403&PID_6001\\X"},
        {L"COM10", L"USB\\VID_9999&PID_0001\\Y"},
    };
    std::vector<_PORT_INFO> list;
    EnumComPorts(list, PORT_SEARCH_DEVICES, source);
    EXPECT_EQ("COM1/2/any COM9/2/any COM10/2/any", Listing(list));
    // A port in both places is listed twice.
    list.clear();
    EnumComPorts(list, PORT_SEARCH_REGISTRY | PORT_SEARCH_DEVICES, source);
    EXPECT_EQ("COM1/1/any COM1/2/any COM9/2/any COM10/2/any", Listing(list));
}

TEST(ComEnum, KnownAdaptersOnlyByTheirIds)
{
    CFakeDeviceSource source;
    source.devices = {
        {L"COM3", L"USB\\VID_2184&PID_0011\\5&1"},
        {L"COM4", L"usb\\VID_3168&PID_0106\\7"},         // prefix in any case
        {L"COM5", L"USB\\VID_1111&PID_2222\\0"},          // unknown pair
        {L"COM6", L"ACPI\\PNP0501\\1"},                   // not USB
        {L"COM7", L"USB\\VID_21&PXD_0011"},               // unparsable
        {L"COM8", L"FTDIBUS\\VID_0403+PID_1234+FT01XYZ\\0000"},
        {L"COM9", L"FTDIBUS\\VID_0403+PID_6001"},         // no serial text
        {L"COM12", L""},                                  // no instance id
    };
    std::vector<_PORT_INFO> list;
    EnumComPorts(list, PORT_SEARCH_DEVICES | PORT_SEARCH_USB_ONLY, source);
    EXPECT_EQ("COM3/2/128 COM4/2/2048 COM8/2/586", Listing(list));
}

TEST(ComEnum, FtdiAdaptersAreRefinedByTheirDescription)
{
    CFakeDeviceSource source;
    source.mapValues = {{L"\\Device\\Serial0", REG_SZ, L"COM1"}};
    source.devices = {
        {L"COM20", L"FTDIBUS\\VID_0403+PID_6001+ZZZ00001A\\0000"},  // unknown description
        {L"COM21", L"FTDIBUS\\VID_0403+PID_6001+MIF00002A\\0000"},
        {L"COM22", L"USB\\VID_2184&PID_0011\\5&1"},
        {L"COM23", L"FTDIBUS\\VID_0403+PID_1237+AAA00003A\\0000"},  // no interface at all
        {L"COM24", L"FTDIBUS\\VID_0403+PID_6001+RS400004A\\0000"},
    };
    source.usb = {
        {L"USB\\VID_0403&PID_6001\\RS400004", L"USB <-> RS-485/422"},
        {L"USB\\VID_0403&PID_6001\\ZZZ00001", L"FT232R USB UART"},
        {L"USB\\VID_0403&PID_6001\\MIF00002", L"USB QM Mifare Adapter"},
        {L"USB\\VID_2184&PID_0011\\5&1", L"USB QM Mifare Adapter"},
    };
    std::vector<_PORT_INFO> list;
    EnumComPorts(list, PORT_SEARCH_DEFAULT | PORT_SEARCH_REGISTRY, source);
    // Registry, plain device ports, FTDI by description in interface order, the rest by
    // serial text.
    EXPECT_EQ("COM1/1/any COM22/2/128 COM24/2/308 COM21/2/8 COM23/2/308 COM20/2/894", Listing(list));
}

TEST(ComEnum, DescriptionRefinementNeedsItsFlagsAndSystem)
{
    CFakeDeviceSource source;
    source.devices = {
        {L"COM30", L"FTDIBUS\\VID_0403+PID_6001+MIF00002A\\0000"},
        {L"COM31", L"USB\\VID_2184&PID_0011\\5&1"},
    };
    source.usb = {{L"USB\\VID_0403&PID_6001\\MIF00002", L"USB QM Mifare Adapter"}};
    struct Case
    {
        bool vista, canRead;
        DWORD flags;
        const char* expected;
    } cases[] = {
        {true, true, 0x0E, "COM31/2/128 COM30/2/8"},
        {false, true, 0x0E, "COM30/2/894 COM31/2/128"},  // before Vista the flag is dropped
        {true, false, 0x0E, "COM31/2/128 COM30/2/894"},  // no property function
        {true, true, 0x0A, "COM30/2/any COM31/2/any"},   // only with known-adapters
    };
    for (const Case& c : cases) {
        source.vista = c.vista;
        source.canReadDescriptions = c.canRead;
        std::vector<_PORT_INFO> list;
        EnumComPorts(list, c.flags, source);
        EXPECT_EQ(c.expected, Listing(list)) << "flags " << c.flags << " vista " << c.vista;
    }
}

TEST(ComEnum, PortsOfOneMultiPortAdapterAreAllKept)
{
    CFakeDeviceSource source;
    source.devices = {
        {L"COM40", L"FTDIBUS\\VID_0403+PID_6001+FT2232XYA\\0000"},
        {L"COM41", L"FTDIBUS\\VID_0403+PID_6001+FT2232XYB\\0000"},
    };
    std::vector<_PORT_INFO> list;
    EnumComPorts(list, 0x0E, source);
    EXPECT_EQ("COM40/2/894 COM41/2/894", Listing(list));
    source.usb = {{L"USB\\VID_0403&PID_6001\\FT2232XY", L"Q510 WARDEL Converter"}};
    list.clear();
    EnumComPorts(list, 0x0E, source);
    EXPECT_EQ("COM40/2/308 COM41/2/308", Listing(list));
}

TEST(ComEnum, PortsFoundBeforeAFailureStay)
{
    CFakeDeviceSource source;
    source.mapValues = {{L"\\Device\\Serial0", REG_SZ, L"COM1"}};
    source.devices = {{L"COM2", L"ACPI\\PNP0501\\1"}, {L"COM3", L"ACPI\\PNP0501\\2"}};
    source.failAfterDevices = 1;
    std::vector<_PORT_INFO> list = {{L"OLD", 1, 0}};
    EXPECT_THROW(EnumComPorts(list, PORT_SEARCH_REGISTRY | PORT_SEARCH_DEVICES, source), COSException);
    EXPECT_EQ("OLD/1/0 COM1/1/any COM2/2/any", Listing(list));
}

TEST(ComEnum, MappedTestPortsAreListedFromTheRegistry)
{
    NV_REQUIRE_SERIAL_PAIRS();
    std::vector<_PORT_INFO> registry;
    EnumComPorts(registry, PORT_SEARCH_REGISTRY);
    for (int i = 0; i <= kUnplugPairIndex; ++i) {
        const SerialPairInfo* pair = GetSerialPair(i);
        ASSERT_NE(nullptr, pair);
        for (const std::wstring& name : {pair->nearName, pair->farName}) {
            int found = 0;
            for (const _PORT_INFO& p : registry)
                if (p.name == name) {
                    ++found;
                    EXPECT_EQ(PORT_SOURCE_REGISTRY, p.source);
                    EXPECT_EQ(PORT_ANY_MODEL, p.modelMask);
                }
            EXPECT_EQ(1, found) << std::string(name.begin(), name.end());
        }
    }
    // With device enumeration as well, the registry ports come first, in the same order.
    std::vector<_PORT_INFO> all;
    EnumComPorts(all, PORT_SEARCH_DEFAULT | PORT_SEARCH_REGISTRY);
    ASSERT_GE(all.size(), registry.size());
    for (size_t i = 0; i < registry.size(); ++i)
        EXPECT_EQ(registry[i].name, all[i].name);
}
