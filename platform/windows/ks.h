// Windows build: the platform's kernel-streaming and media headers in place of the host
// declarations, with what this toolchain's copies need.
#pragma once

#include "platform/windows/kernel.h"

// The media header uses the Windows base types (RECT, SIZE, DWORD, BOOL) and TCHAR, which a
// kernel build does not get from the kernel header; the driver builds for Unicode.
#include <windef.h>
typedef WCHAR TCHAR;

// The kernel's COM base: the header declares the reference clock interface, and the pin's call
// that returns it, only where IUnknown is known. Its interface macros use two declaration
// specifiers that only the user-mode header defines; they are spelled as it spells them.
#ifndef DECLSPEC_NOVTABLE
#define DECLSPEC_NOVTABLE
#endif
#ifndef DECLSPEC_NOTHROW
#define DECLSPEC_NOTHROW __declspec(nothrow)
#endif
#include <unknown.h>
// Only then the kernel-streaming and media headers.
#include <ks.h>
#include <ksmedia.h>

// The headers declare each GUID as an object defined elsewhere, whose value a constant
// initialiser cannot read; the descriptor tables are constant data (no code runs to build them
// at load). So each GUID the driver names is a constant made from the header's own STATIC_
// value, under the header's name.
#define BAYERCAM_CONSTANT_GUID(name, ...) inline constexpr GUID bayercam_##name = {__VA_ARGS__}

BAYERCAM_CONSTANT_GUID(GUID_NULL, STATIC_GUID_NULL);
BAYERCAM_CONSTANT_GUID(KSCATEGORY_VIDEO, STATIC_KSCATEGORY_VIDEO);
BAYERCAM_CONSTANT_GUID(KSCATEGORY_CAPTURE, STATIC_KSCATEGORY_CAPTURE);
BAYERCAM_CONSTANT_GUID(KSNAME_Filter, STATIC_KSNAME_Filter);
BAYERCAM_CONSTANT_GUID(KSDATAFORMAT_TYPE_VIDEO, STATIC_KSDATAFORMAT_TYPE_VIDEO);
BAYERCAM_CONSTANT_GUID(KSDATAFORMAT_SPECIFIER_VIDEOINFO, STATIC_KSDATAFORMAT_SPECIFIER_VIDEOINFO);
BAYERCAM_CONSTANT_GUID(KSMEMORY_TYPE_KERNEL_NONPAGED, STATIC_KSMEMORY_TYPE_KERNEL_NONPAGED);
BAYERCAM_CONSTANT_GUID(KSPROPSETID_Pin, STATIC_KSPROPSETID_Pin);
// The capture pin category is the media header's video capture pin name.
BAYERCAM_CONSTANT_GUID(PIN_CATEGORY_CAPTURE, STATIC_PINNAME_VIDEO_CAPTURE);
// The RGB32 subtype is declared only by the user-mode media type header.
BAYERCAM_CONSTANT_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF,
                       0x0B, 0xA7, 0x70);

#undef BAYERCAM_CONSTANT_GUID
#undef GUID_NULL
#undef KSCATEGORY_VIDEO
#undef KSCATEGORY_CAPTURE
#undef KSNAME_Filter
#undef KSDATAFORMAT_TYPE_VIDEO
#undef KSDATAFORMAT_SPECIFIER_VIDEOINFO
#undef KSMEMORY_TYPE_KERNEL_NONPAGED
#undef KSPROPSETID_Pin
#define GUID_NULL bayercam_GUID_NULL
#define KSCATEGORY_VIDEO bayercam_KSCATEGORY_VIDEO
#define KSCATEGORY_CAPTURE bayercam_KSCATEGORY_CAPTURE
#define KSNAME_Filter bayercam_KSNAME_Filter
#define KSDATAFORMAT_TYPE_VIDEO bayercam_KSDATAFORMAT_TYPE_VIDEO
#define KSDATAFORMAT_SPECIFIER_VIDEOINFO bayercam_KSDATAFORMAT_SPECIFIER_VIDEOINFO
#define KSMEMORY_TYPE_KERNEL_NONPAGED bayercam_KSMEMORY_TYPE_KERNEL_NONPAGED
#define KSPROPSETID_Pin bayercam_KSPROPSETID_Pin
#define PIN_CATEGORY_CAPTURE bayercam_PIN_CATEGORY_CAPTURE
#define MEDIASUBTYPE_RGB32 bayercam_MEDIASUBTYPE_RGB32
