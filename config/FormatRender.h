#pragma once
// The configuration renders keys through the format engine for the texts it shows (a key's
// output text, a format's sample). Until the engine is part of the build, a stand-in of the
// same names answers every rendering with an error, so those texts stay empty.
#include <string>

#if __has_include("transfer/FormatEngine.h")
#include "transfer/FormatEngine.h"
#else
#include <windows.h>
#include <cstdint>
#include <vector>

using KeyVector = std::vector<uint32_t>;

void RenderFormat(std::wstring& out, KeyVector* keys, const std::wstring& templ, const std::wstring& params,
                  const BYTE* keyBytes, int keyLength);
void EscapeControlChars(std::wstring& out, const wchar_t* text, int length = -1);
#endif

struct _KEY_NUMBER;

// The key rendered through template and params, in its one-line display form. A template
// or params that cannot be rendered leave out empty: the format check reports those.
void RenderDisplayText(std::wstring& out, const std::wstring& templ, const std::wstring& params,
                       const _KEY_NUMBER& key);
