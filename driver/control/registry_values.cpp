// Registry helpers of the settings store.
#include "driver/control/settings_store.h"

namespace {

// KEY_VALUE_PARTIAL_INFORMATION with room for 8 data bytes.
constexpr ULONG PARTIAL_INFORMATION_BYTES = 20;

NTSTATUS CreateKey(HANDLE parent, PUNICODE_STRING name, PHANDLE key) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, parent,
                               nullptr);
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                       nullptr);
}

}  // namespace

NTSTATUS CreateKeyPath(HANDLE parent, PCWSTR path, PHANDLE key) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    const USHORT characters = name.Length / sizeof(WCHAR);
    for (USHORT i = 1; i < characters; ++i) {
        if (path[i] != L'\\') continue;
        UNICODE_STRING prefix = name;
        prefix.Length = static_cast<USHORT>(i * sizeof(WCHAR));
        HANDLE created = nullptr;
        NTSTATUS status = CreateKey(parent, &prefix, &created);
        if (!NT_SUCCESS(status)) return status;
        ZwClose(created);
    }
    return CreateKey(parent, &name, key);
}

NTSTATUS ReadDwordValue(HANDLE key, PCWSTR name, ULONG* value) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG buffer[PARTIAL_INFORMATION_BYTES / sizeof(ULONG)];
    ULONG resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer,
                                      sizeof(buffer), &resultLength);
    if (!NT_SUCCESS(status)) return status;
    auto* information = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    // A value too short to hold a DWORD is not one.
    if (information->DataLength < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(value, information->Data, sizeof(ULONG));
    return STATUS_SUCCESS;
}

VOID WriteDwordValue(HANDLE key, PCWSTR name, ULONG value) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
}
