// The static descriptor tree: the device descriptor with its dispatch table, and the capture
// filter's descriptor, dispatch and automation tables.
#include "device/camera_device.h"
#include "driver/filter.h"

namespace {

// {3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}
constexpr GUID CameraPropertySetId = {
    0x3F263C66, 0x0FDA, 0x41D5, {0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C, 0xEF, 0xB2}};

constexpr GUID FilterCategories[] = {
    KSCATEGORY_VIDEO,
    KSCATEGORY_CAPTURE,
};

// The camera property set; its items arrive with the property handlers.
const KSPROPERTY_SET FilterPropertySets[] = {
    {
        &CameraPropertySetId,  // Set
        0,                     // PropertiesCount
        nullptr,               // PropertyItem
        0,                     // FastIoCount
        nullptr,               // FastIoTable
    },
};

const KSAUTOMATION_TABLE FilterAutomationTable = {
    1,                        // PropertySetsCount
    sizeof(KSPROPERTY_ITEM),  // PropertyItemSize
    FilterPropertySets,       // PropertySets
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

// The capture pin arrives with the pin's own descriptor; until then the filter has none.
const KSFILTER_DESCRIPTOR CameraFilterDescriptor = {
    &FilterDispatch,              // Dispatch
    &FilterAutomationTable,       // AutomationTable
    KSFILTER_DESCRIPTOR_VERSION,  // Version
    0,                            // Flags
    &KSNAME_Filter,               // ReferenceGuid
    0,                            // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX),  // PinDescriptorSize
    nullptr,                      // PinDescriptors
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
