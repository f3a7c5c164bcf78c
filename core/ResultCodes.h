#pragma once
// The program's own result codes (FACILITY_ITF). Their texts live in the message table
// (resources/messages.mc); keep both in step.
#include <windows.h>

constexpr HRESULT KV_E_PARAM_NOT_EXIST       = static_cast<HRESULT>(0x80040201L);
constexpr HRESULT KV_E_PARAM_TYPE            = static_cast<HRESULT>(0x80040202L);
constexpr HRESULT KV_E_INDEX_RANGE           = static_cast<HRESULT>(0x80040203L);
constexpr HRESULT KV_E_PORT_NAME             = static_cast<HRESULT>(0x80040210L);
constexpr HRESULT KV_E_PORT_NOT_EXISTS       = static_cast<HRESULT>(0x80040211L);
constexpr HRESULT KV_E_PORT_BUSY             = static_cast<HRESULT>(0x80040212L);
constexpr HRESULT KV_E_PORT_DISCONNECTED     = static_cast<HRESULT>(0x80040213L);
constexpr HRESULT KV_E_WINSOCK_VERSION       = static_cast<HRESULT>(0x80040214L);
constexpr HRESULT KV_E_TCP_CONNECT_TIMEOUT   = static_cast<HRESULT>(0x80040215L);
constexpr HRESULT KV_E_SEND_TIMEOUT          = static_cast<HRESULT>(0x80040216L);
constexpr HRESULT KV_E_RESPONSE_TIMEOUT      = static_cast<HRESULT>(0x80040217L);
constexpr HRESULT KV_E_INVALID_RESPONSE      = static_cast<HRESULT>(0x80040218L);
constexpr HRESULT KV_E_READER_ERROR          = static_cast<HRESULT>(0x80040219L);
constexpr HRESULT KV_E_NO_KEY                = static_cast<HRESULT>(0x8004021aL);
constexpr HRESULT KV_E_KEY_AUTH              = static_cast<HRESULT>(0x8004021bL);
constexpr HRESULT KV_E_NOT_SUPPORTED         = static_cast<HRESULT>(0x8004021cL);
constexpr HRESULT KV_E_UNRECOGNIZED_MSG      = static_cast<HRESULT>(0x8004021fL);
constexpr HRESULT KV_E_MIFARE_BLOCK_ADDR     = static_cast<HRESULT>(0x80040220L);
constexpr HRESULT KV_E_MIFARE_BINARY_MODE    = static_cast<HRESULT>(0x80040221L);
constexpr HRESULT KV_E_SEARCH_TIMEOUT        = static_cast<HRESULT>(0x80040230L);
constexpr HRESULT KV_E_NO_MORE_READERS       = static_cast<HRESULT>(0x80040231L);
constexpr HRESULT KV_E_READER_NOT_FOUND      = static_cast<HRESULT>(0x80040232L);
constexpr HRESULT KV_E_FORMAT_NAME           = static_cast<HRESULT>(0x80040234L);
constexpr HRESULT KV_E_FORMAT_NAME_EXISTS    = static_cast<HRESULT>(0x80040235L);
constexpr HRESULT KV_E_NOT_ENOUGH_PARAMS     = static_cast<HRESULT>(0x80040236L);
constexpr HRESULT KV_E_TEMPLATE_SPEC         = static_cast<HRESULT>(0x80040237L);
constexpr HRESULT KV_E_UNKNOWN_KEYWORD       = static_cast<HRESULT>(0x80040238L);
constexpr HRESULT KV_E_UNEXPECTED_END        = static_cast<HRESULT>(0x80040239L);
constexpr HRESULT KV_E_UNKNOWN_SYMBOL        = static_cast<HRESULT>(0x8004023aL);
constexpr HRESULT KV_E_EXPECTED_OPEN         = static_cast<HRESULT>(0x8004023bL);
constexpr HRESULT KV_E_EXPECTED_CLOSE        = static_cast<HRESULT>(0x8004023cL);
constexpr HRESULT KV_E_BAD_SUFFIX            = static_cast<HRESULT>(0x8004023dL);
constexpr HRESULT KV_E_NO_FORMAT             = static_cast<HRESULT>(0x8004023eL);
constexpr HRESULT KV_E_NO_INPUT_FIELD        = static_cast<HRESULT>(0x8004023fL);
constexpr HRESULT KV_E_NO_PORTAVO            = static_cast<HRESULT>(0x80040240L);
constexpr HRESULT KV_E_AUTOIT_LOAD           = static_cast<HRESULT>(0x80040241L);
constexpr HRESULT KV_E_WINDOW_NOT_FOUND      = static_cast<HRESULT>(0x80040242L);
constexpr HRESULT KV_E_UNEXPECTED_OPERATOR   = static_cast<HRESULT>(0x80040243L);
constexpr HRESULT KV_E_END_OF_KEYLIST        = static_cast<HRESULT>(0x80040244L);
constexpr HRESULT KV_E_HTTP_SERVER           = static_cast<HRESULT>(0x80040245L);
