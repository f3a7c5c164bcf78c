#pragma once
// Text forms of the configuration part that other readers share.
#include <cstdint>
#include <string>
#include <vector>

// "params" of the Temic settings as stored: entries "a,b,c;" (c may be missing). Pieces
// with fewer than two numbers are skipped, so one damaged entry does not cost the others.
std::vector<uint32_t> ReadTemicParamsText(const std::wstring& text);
std::wstring FormatTemicParams(const std::vector<uint32_t>& params);
