#include "transfer/TransferDispatch.h"

#include <exception>
#include <new>

#include "config/KeyNumber.h"
#include "config/TransferDoc.h"
#include "core/Exceptions.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "transfer/CmdLineDest.h"
#include "config/FormatEngine.h"
#include "transfer/HttpDest.h"
#include "transfer/KeyboardDest.h"
#include "transfer/Portavo.h"
#include "transfer/TransferLog.h"

namespace
{

HRESULT ResultFromWin32(DWORD error)
{
    return error ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFF)) : E_FAIL;
}

// Only the append touches the link's data; the worker writes the bytes to its peers.
HRESULT DeliverToBridge(CPortavo* bridge, const std::wstring& output, std::wstring& destination)
{
    if (!bridge || bridge->GetState() != PTV_STATE_CONNECTED)
        return KV_E_NO_PORTAVO;
    const PortavoSettings settings = bridge->GetSettings();
    destination = bridge->GetActiveMode() == 2 ? std::to_wstring(settings.port) : settings.address;
    const std::string bytes = WStringToMultiByte(output, CP_ACP);
    if (!bytes.empty())
        bridge->AppendToSendBuffer(bytes.data(), bytes.size());
    return S_OK;
}

HRESULT DeliverToHttp(const CTransferDoc& doc, const TransferTargets& targets, TransferTexts& texts)
{
    if (targets.http)
        return SendHttpRequest(*targets.http, doc.HttpRequest(), texts.output.c_str(),
                               static_cast<int>(texts.output.size()), targets.reader, texts.destination,
                               texts.httpStatus);
    HttpClient once;
    return SendHttpRequest(once, doc.HttpRequest(), texts.output.c_str(), static_cast<int>(texts.output.size()),
                           targets.reader, texts.destination, texts.httpStatus);
}

HRESULT Deliver(const CTransferDoc& doc, int keyType, const _KEY_NUMBER& key, const TransferTargets& targets,
                TransferTexts& texts)
{
    KvFormatPtr format = doc.FindFormatForKey(keyType, key.length);
    if (!format)
        return KV_E_NO_FORMAT;
    texts.formatName = MakeFormatDisplayName(format->name);

    const int type = doc.GetDestinationType();
    if (type == DEST_KEYBOARD)
    {
        KeyVector keys;
        RenderFormat(texts.output, &keys, format->templ, format->params, key);
        HRESULT hr = TypeToTargetWindow(doc.Keyboard(), targets.mainWindow, texts.output, keys, texts.destination);
        if (SUCCEEDED(hr))
            texts.output = KeyboardLoggedText(texts.output, keys);
        return hr;
    }

    RenderFormat(texts.output, nullptr, format->templ, format->params, key);
    switch (type)
    {
    case DEST_CLIPBOARD:
        // A clipboard that stays busy is a key not delivered: nobody would see it was lost.
        if (!SetClipboardText(targets.mainWindow, texts.output.c_str(), static_cast<int>(texts.output.size())))
            return ResultFromWin32(GetLastError());
        return S_OK;
    case DEST_PORTAVO:
        return DeliverToBridge(targets.bridge, texts.output, texts.destination);
    case DEST_CMDLINE:
        return RunCommandLine(doc.CmdLine(), texts.output);
    case DEST_HTTP:
        return DeliverToHttp(doc, targets, texts);
    default:
        return E_FAIL;
    }
}

}  // namespace

HRESULT DeliverKey(const CTransferDoc& doc, int keyType, const _KEY_NUMBER& key, const TransferTargets& targets,
                   TransferTexts& texts)
{
    try
    {
        return Deliver(doc, keyType, key, targets, texts);
    }
    catch (const std::exception& e)
    {
        texts.error = MultiByteToWString(std::string(e.what()), CP_ACP);
        return E_FAIL;
    }
}

std::wstring TransferErrorText(HRESULT result, int httpStatus)
{
    if (result == KV_E_HTTP_SERVER)
        return HttpServerErrorText(httpStatus);
    std::wstring text;
    if (GetSystemMessageText(text, GetResourceModule(), static_cast<DWORD>(result)) ||
        (GetResourceModule() != GetProgramModule() &&
         GetSystemMessageText(text, GetProgramModule(), static_cast<DWORD>(result))))
        return text;
    // The internet library's own errors (time-out, refused connection, unknown host) have their
    // texts in its table, not the system's.
    const bool win32 = HRESULT_FACILITY(result) == FACILITY_WIN32;
    if (win32 && GetInternetErrorText(HRESULT_CODE(result), text))
        return text;
    // A failure is never recorded without a text: at least its code.
    if (win32)
        FormatResString(text, IDS_SYSTEM_ERROR, static_cast<int>(HRESULT_CODE(result)));
    else
        FormatResString(text, IDS_COM_ERROR, static_cast<unsigned>(result));
    return text;
}
