// The item table of the camera property set: ids 0 to 68 in ascending order, the verbs each
// offers (a missing handler is a verb the class driver refuses), equal minimum request and data
// sizes; no value tables, relations, support handlers or fast I/O.
#include "driver/control/camera_properties.h"

namespace {

constexpr ULONG VALUE_SIZE = sizeof(CameraPropertyValue);
constexpr ULONG ROI_SIZE = sizeof(CameraRoiValue);
constexpr ULONG PACKET_SIZE = sizeof(CameraPacketValue);

constexpr KSPROPERTY_ITEM Item(ULONG id, PFNKSHANDLER get, PFNKSHANDLER set, ULONG size) {
    return {
        id,       // PropertyId
        {get},    // GetPropertyHandler
        size,     // MinProperty
        size,     // MinData
        {set},    // SetPropertyHandler
        nullptr,  // Values
        0,        // RelationsCount
        nullptr,  // Relations
        nullptr,  // SupportHandler
        0,        // SerializedSize
    };
}

// Item (id, get handler, set handler, minimum request and data size).
constexpr KSPROPERTY_ITEM CameraPropertyItems[] = {
    Item(0, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(1, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(2, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(3, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(4, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(5, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(6, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(7, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(8, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(9, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(10, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(11, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(12, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(13, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(14, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(15, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(16, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(17, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(18, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(19, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(20, HandleAdjustmentProperty, HandleAdjustmentProperty, VALUE_SIZE),
    Item(21, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(22, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(23, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(24, HandleAdjustmentProperty, HandleAdjustmentProperty, VALUE_SIZE),
    Item(25, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(26, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(27, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(28, HandleAdjustmentProperty, HandleAdjustmentProperty, VALUE_SIZE),
    Item(29, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(30, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(31, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(32, HandleAdjustmentProperty, HandleAdjustmentProperty, VALUE_SIZE),
    Item(33, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(34, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(35, HandleConstantProperty, nullptr, VALUE_SIZE),
    Item(36, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(37, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(38, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(39, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(40, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(41, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(42, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(43, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(44, nullptr, HandleRoiProperty, ROI_SIZE),
    Item(45, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(46, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(47, nullptr, HandleCameraProperty, VALUE_SIZE),
    Item(48, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(49, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(50, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(51, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(52, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(53, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(54, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(55, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(56, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(57, HandleRegisterProperty, HandleRegisterProperty, VALUE_SIZE),
    Item(58, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(59, HandlePacketProperty, HandlePacketProperty, PACKET_SIZE),
    Item(60, HandlePacketProperty, HandlePacketProperty, PACKET_SIZE),
    Item(61, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(62, HandleCameraProperty, nullptr, VALUE_SIZE),
    Item(63, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(64, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(65, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(66, HandleCameraProperty, HandleCameraProperty, VALUE_SIZE),
    Item(67, nullptr, HandleCameraProperty, VALUE_SIZE),
    Item(68, HandleCameraProperty, nullptr, VALUE_SIZE),
};

constexpr bool IdsAscendFromZero() {
    for (ULONG i = 0; i < CAMERA_PROPERTY_COUNT; ++i) {
        if (CameraPropertyItems[i].PropertyId != i) return false;
    }
    return true;
}
static_assert(sizeof(CameraPropertyItems) / sizeof(CameraPropertyItems[0]) == CAMERA_PROPERTY_COUNT,
              "one item per property");
static_assert(IdsAscendFromZero(), "items in id order");

}  // namespace

const KSPROPERTY_SET CameraPropertySet = {
    &CameraPropertySetId,   // Set
    CAMERA_PROPERTY_COUNT,  // PropertiesCount
    CameraPropertyItems,    // PropertyItem
    0,                      // FastIoCount
    nullptr,                // FastIoTable
};
