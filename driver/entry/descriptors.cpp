// The static descriptor tree: the device descriptor with its dispatch table, and the capture
// filter's descriptor, dispatch and automation tables.
#include "driver/control/camera_properties.h"
#include "driver/device/camera_device.h"
#include "driver/entry/filter.h"
#include "driver/streaming/capture_pin.h"

namespace {

constexpr GUID FilterCategories[] = {
    KSCATEGORY_VIDEO,
    KSCATEGORY_CAPTURE,
};

const KSAUTOMATION_TABLE FilterAutomationTable = {
    1,                        // PropertySetsCount: the camera's private set
    sizeof(KSPROPERTY_ITEM),  // PropertyItemSize
    &CameraPropertySet,       // PropertySets
    0,                        // MethodSetsCount
    sizeof(KSMETHOD_ITEM),    // MethodItemSize
    nullptr,                  // MethodSets
    0,                        // EventSetsCount
    sizeof(KSEVENT_ITEM),     // EventItemSize
    nullptr,                  // EventSets
};

const KSFILTER_DISPATCH FilterDispatch = {
    FilterCreate,  // Create
    FilterClose,   // Close
    nullptr,       // Process: processing is pin-centric
    nullptr,       // Reset
};

const KSDEVICE_DISPATCH DeviceDispatch = {
    CameraDeviceAdd,    // Add
    CameraDeviceStart,  // Start
    nullptr,            // PostStart
    nullptr,            // QueryStop
    nullptr,            // CancelStop
    CameraDeviceStop,   // Stop
    nullptr,            // QueryRemove
    nullptr,            // CancelRemove
    nullptr,            // Remove: the device bag releases the camera device
    nullptr,            // QueryCapabilities
    nullptr,            // SurpriseRemoval
    nullptr,            // QueryPower
    nullptr,            // SetPower
    nullptr,            // QueryInterface
};

}  // namespace

// Each device's factory is created over its own copy of this descriptor (CaptureDescriptors).
const KSFILTER_DESCRIPTOR CameraFilterDescriptor = {
    &FilterDispatch,              // Dispatch
    &FilterAutomationTable,       // AutomationTable
    KSFILTER_DESCRIPTOR_VERSION,  // Version
    0,                            // Flags
    &KSNAME_Filter,               // ReferenceGuid
    1,                            // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX),  // PinDescriptorSize
    &CapturePinDescriptor,        // PinDescriptors
    2,                            // CategoriesCount
    FilterCategories,             // Categories
    0,                            // NodeDescriptorsCount
    sizeof(KSNODE_DESCRIPTOR),    // NodeDescriptorSize
    nullptr,                      // NodeDescriptors
    0,                            // ConnectionsCount
    nullptr,                      // Connections
    nullptr,                      // ComponentId
};

// No filter descriptor list: the one factory is created at Start. Version and the remaining
// fields are zero; built field by field because older copies of the platform header end the
// record before Flags.
constexpr KSDEVICE_DESCRIPTOR DeviceDescriptor() {
    KSDEVICE_DESCRIPTOR descriptor{};
    descriptor.Dispatch = &DeviceDispatch;
    descriptor.FilterDescriptorsCount = 0;
    descriptor.FilterDescriptors = nullptr;
    return descriptor;
}

constinit const KSDEVICE_DESCRIPTOR CameraDeviceDescriptor = DeviceDescriptor();
