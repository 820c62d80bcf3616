// HRESULTs as tests print and compare them: "0x8876086C". Comparing the
// texts makes a failed check show both codes in a form the headers use.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::string FormatHResult(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(result));
    return text;
}
