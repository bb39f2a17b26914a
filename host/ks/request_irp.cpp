#include "host/ks/request_irp.h"

namespace bayercam::host::ks {

RequestIrp::RequestIrp(UCHAR majorFunction, UCHAR minorFunction, PVOID fileObject) noexcept
    : irp_(IoAllocateIrp(1, FALSE)) {
    if (irp_ == nullptr) return;
    stack_ = IoGetNextIrpStackLocation(irp_);
    RtlZeroMemory(stack_, sizeof(*stack_));
    stack_->MajorFunction = majorFunction;
    stack_->MinorFunction = minorFunction;
    stack_->FileObject = fileObject;
    IoSetNextIrpStackLocation(irp_);
}

RequestIrp::~RequestIrp() {
    if (irp_ != nullptr) IoFreeIrp(irp_);
}

}  // namespace bayercam::host::ks
