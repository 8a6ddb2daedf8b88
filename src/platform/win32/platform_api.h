// The real Windows API. Only declarations the SDK headers lack are added here.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#define WSTR(s) L##s

extern "C" {
NTSYSAPI VOID NTAPI RtlSecondsSince1970ToTime(ULONG seconds, LARGE_INTEGER* time);
NTSYSAPI BOOLEAN NTAPI RtlTimeToSecondsSince1970(const LARGE_INTEGER* time, ULONG* seconds);
}
