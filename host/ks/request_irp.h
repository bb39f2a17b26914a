// An I/O request built by the class driver for a callback that receives one (create, close,
// property, PnP), with one stack location addressed to a file object, so that the minidriver
// can ask which filter or pin the request is for.
#pragma once

#include "platform/kernel.h"

namespace bayercam::host::ks {

class RequestIrp {
  public:
    // get() is null when the request could not be allocated.
    RequestIrp(UCHAR majorFunction, UCHAR minorFunction, PVOID fileObject) noexcept;
    ~RequestIrp();
    RequestIrp(const RequestIrp&) = delete;
    RequestIrp& operator=(const RequestIrp&) = delete;

    PIRP get() const noexcept { return irp_; }
    PIO_STACK_LOCATION stack() const noexcept { return stack_; }

  private:
    PIRP irp_;
    PIO_STACK_LOCATION stack_ = nullptr;
};

}  // namespace bayercam::host::ks
