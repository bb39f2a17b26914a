// Short forms of the registry calls for tests and the registry_writer helper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace bayercam::host::testing {

// A UNICODE_STRING over a wide string that outlives it.
inline UNICODE_STRING unicode(const std::wstring& text) {
    return UNICODE_STRING{static_cast<USHORT>(text.size() * sizeof(WCHAR)),
                          static_cast<USHORT>(text.size() * sizeof(WCHAR)),
                          const_cast<PWSTR>(text.c_str())};
}
UNICODE_STRING unicode(std::wstring&& text) = delete;

// ZwCreateKey with the driver's attributes; root null means an absolute path.
inline NTSTATUS createKey(HANDLE root, const std::wstring& path, HANDLE& key) {
    UNICODE_STRING name = unicode(path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root,
                               nullptr);
    return ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                       nullptr);
}

inline NTSTATUS setValue(HANDLE key, const std::wstring& name, ULONG type,
                         std::vector<std::uint8_t> data) {
    UNICODE_STRING valueName = unicode(name);
    return ZwSetValueKey(key, &valueName, 0, type, data.data(), static_cast<ULONG>(data.size()));
}

inline NTSTATUS setDword(HANDLE key, const std::wstring& name, ULONG value) {
    UNICODE_STRING valueName = unicode(name);
    return ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
}

// ZwQueryValueKey for partial information into a buffer of the given length.
struct PartialQuery {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG resultLength = 0xFFFFFFFF;
    std::vector<std::uint8_t> buffer;

    std::vector<std::uint8_t> data() const {
        const auto* info = reinterpret_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(buffer.data());
        return {info->Data, info->Data + info->DataLength};
    }
};

// The buffer starts filled with 0xCC, so a test can see which bytes the call wrote.
inline PartialQuery queryPartial(HANDLE key, const std::wstring& name, ULONG length) {
    PartialQuery query;
    query.buffer.assign(length, 0xCC);
    UNICODE_STRING valueName = unicode(name);
    query.status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, query.buffer.data(),
                                   length, &query.resultLength);
    return query;
}

// The data of a value, or an empty vector with the failing status.
inline std::vector<std::uint8_t> readValue(HANDLE key, const std::wstring& name,
                                           NTSTATUS* status = nullptr) {
    PartialQuery query = queryPartial(key, name, 16 + 8192);
    if (status) *status = query.status;
    return NT_SUCCESS(query.status) ? query.data() : std::vector<std::uint8_t>();
}

}  // namespace bayercam::host::testing
