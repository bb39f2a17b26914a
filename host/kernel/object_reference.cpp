// Object references by handle. Thread objects are the only objects referenced this way here.
#include "host/kernel/handle_table.h"
#include "host/kernel/irql.h"
#include "host/kernel/thread_object.h"
#include "host/kernel/verifier.h"

struct _OBJECT_TYPE {
    const char* name;
};

namespace {

_OBJECT_TYPE threadType{"Thread"};
POBJECT_TYPE threadTypePointer = &threadType;

}  // namespace

extern "C" {
POBJECT_TYPE* PsThreadType = &threadTypePointer;
}

using namespace bayercam::host;

extern "C" NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, POBJECT_TYPE ObjectType,
                                              KPROCESSOR_MODE, PVOID* Object,
                                              POBJECT_HANDLE_INFORMATION HandleInformation) {
    irql::checkPassive("ObReferenceObjectByHandle");
    if (ObjectType && ObjectType != *PsThreadType) {
        return lookupHandle(Handle) ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_INVALID_HANDLE;
    }
    PKTHREAD thread = threads::referenceByHandle(Handle);
    if (!thread) return lookupHandle(Handle) ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_INVALID_HANDLE;
    *Object = thread;
    if (HandleInformation) {
        HandleInformation->HandleAttributes = 0;
        HandleInformation->GrantedAccess = THREAD_ALL_ACCESS;
    }
    return STATUS_SUCCESS;
}

extern "C" LONG_PTR ObfDereferenceObject(PVOID Object) {
    if (!threads::isThreadObject(Object)) {
        verifier::report("ObDereferenceObject on an object that holds no reference");
        return 0;
    }
    return threads::dereference(static_cast<PKTHREAD>(Object));
}
