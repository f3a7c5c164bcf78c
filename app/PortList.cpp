// The port list refresh: known readers of the settings against the ports present now.
#include "app/PortList.h"

#include <exception>

#include "app/NorvaneApp.h"
#include "app/ShellLog.h"
#include "core/AppLog.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "reader/CcidConnection.h"
#include "reader/ComEnum.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"

namespace {

KnownReader NewReader(const std::wstring& name, int32_t value, uint8_t present, int32_t kind, int32_t model)
{
    KnownReader r;
    r.name = name;
    r.portValue = value;
    r.present = present;
    r.kind = kind;
    r.model = model;
    return r;
}

// Copies what the reader worker learnt of its reader into its record; true when it changed.
bool RecordWorkerIdentity(CReader& worker, std::vector<KnownReader>& readers)
{
    const std::wstring port = worker.GetPortName();
    const ReaderStatus status = worker.GetStatus();
    if (port.empty() || status.model == 0)
        return false;
    for (KnownReader& r : readers) {
        if (r.name.size() != port.size() || _wcsicmp(r.name.c_str(), port.c_str()) != 0)
            continue;
        const int32_t firmware = static_cast<int32_t>(status.version);
        if (r.model == status.model && r.firmware == firmware && r.serial == status.serial &&
            r.versionText == status.versionText)
            return false;
        r.model = status.model;
        r.firmware = firmware;
        r.serial = status.serial;
        r.versionText = status.versionText;
        return true;
    }
    return false;
}

} // namespace

void ListSmartCardReaders(SCARDCONTEXT context, std::vector<std::wstring>& names)
{
    if (!context)
        return;
    CSCardBuffer list(context);
    DWORD length = SCARD_AUTOALLOCATE;
    if (SCardListReadersW(context, nullptr, reinterpret_cast<LPWSTR>(list.Receive()), &length) != SCARD_S_SUCCESS ||
        !list.Get())
        return;  // SCARD_E_NO_READERS_AVAILABLE and every failure alike
    for (const wchar_t* p = list.Get(); *p; p += wcslen(p) + 1)
        names.emplace_back(p);
}

void CNorvaneApp::RefreshPortList(bool serialOnly)
{
    CDocUpdateScope scope(settings);
    // The edit tells the list's observers once, when the list came out different.
    auto edit = settings.EditKnownReaders();
    std::vector<KnownReader>& readers = *edit;
    // 1. The records present before the refresh, none seen yet.
    const int oldCount = static_cast<int>(readers.size());
    std::vector<bool> seen(readers.size(), false);

    // 2. Serial ports by the configuration's search flags.
    std::vector<_PORT_INFO> ports;
    bool complete = true;
    try {
        EnumComPorts(ports, settings.GetTransferDoc().reader.searchFlags);
    } catch (const std::exception& e) {
        // A failed enumeration says nothing about the ports it did not reach: they stay.
        complete = false;
        if (IsLogged(LOG_THRESHOLD_WARNING))
            LogMessage(this, nullptr, LOG_WARNING, L"The serial ports could not be listed: %hs", e.what());
    }
    // 3. PC/SC readers.
    std::vector<std::wstring> pcsc;
    if (!serialOnly)
        SystemServices().ListPcscReaders(pcsc);

    // 4. Serial ports: known ones take the port's value, new ones are appended.
    for (const _PORT_INFO& port : ports) {
        const int index = settings.FindReader(port.name, oldCount);
        if (index >= 0) {
            seen[index] = true;
            readers[index].portValue = static_cast<int32_t>(port.modelMask);
        } else {
            readers.push_back(NewReader(port.name, static_cast<int32_t>(port.modelMask), 0,
                                        static_cast<int32_t>(port.source), kReaderModelUnknown));
        }
    }
    // 5. PC/SC readers.
    for (const std::wstring& name : pcsc) {
        const int index = settings.FindReader(name, oldCount);
        if (index >= 0) {
            seen[index] = true;
            readers[index].portValue = kPcscPortValue;
        } else {
            readers.push_back(NewReader(name, kPcscPortValue, 1, KR_KIND_PCSC, kReaderModelPcsc));
        }
    }
    // 6. Records gone from the system; a serial-only refresh removes only device ports.
    if (complete) {
        for (int i = oldCount - 1; i >= 0; --i) {
            if (seen[i] || (serialOnly && readers[i].kind != KR_KIND_DEVICE))
                continue;
            readers.erase(readers.begin() + i);
        }
    }
    // 7. What the running reader reports of itself.
    if (reader)
        RecordWorkerIdentity(*reader, readers);
}
