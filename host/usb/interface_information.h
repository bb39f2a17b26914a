// The interface information a bus fills in when a configuration is selected.
#pragma once

#include <functional>

#include "platform/usb.h"

namespace bayercam::host {

// Fills each interface information block of the request from the configuration descriptor it
// carries, at alternate settings the request names. makePipe creates the bus's pipe for an
// endpoint (its information filled but for the handle) and returns the handle. Each block is
// Length bytes and all must lie inside the URB; on a failure Hdr.Status says why.
NTSTATUS fillInterfaceInformation(
    _URB_SELECT_CONFIGURATION& request,
    const std::function<USBD_PIPE_HANDLE(const USBD_PIPE_INFORMATION&)>& makePipe);

}  // namespace bayercam::host
