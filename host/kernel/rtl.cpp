// Run-time library string and memory helpers.
#include <cwchar>

#include "platform/kernel.h"

extern "C" VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    if (!SourceString) {
        *DestinationString = UNICODE_STRING{0, 0, nullptr};
        return;
    }
    const auto bytes = static_cast<USHORT>(std::wcslen(SourceString) * sizeof(WCHAR));
    DestinationString->Length = bytes;
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

extern "C" SIZE_T RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length) {
    const auto* a = static_cast<const UCHAR*>(Source1);
    const auto* b = static_cast<const UCHAR*>(Source2);
    SIZE_T same = 0;
    while (same < Length && a[same] == b[same]) ++same;
    return same;
}
