// The kernel handle table: thread objects and registry keys are reached through HANDLEs that
// ZwClose releases. Each kind of object implements HandleObject.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/kernel.h"

namespace bayercam::host {

enum class HandleKind { Thread, RegistryKey };

class HandleObject {
  public:
    virtual ~HandleObject() = default;
    virtual HandleKind kind() const noexcept = 0;
};

// Returns a new handle to the object, or nullptr when the table cannot grow.
HANDLE insertHandle(std::shared_ptr<HandleObject> object) noexcept;

// The object behind a handle, or null for an unknown or closed handle.
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle) noexcept;

// The object behind a handle when it is of the given kind, else null.
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle, HandleKind kind) noexcept {
    auto object = lookupHandle(handle);
    if (!object || object->kind() != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}

// Handles open now, for the leak checks at the end of a test.
std::size_t openHandleCount() noexcept;

}  // namespace bayercam::host
