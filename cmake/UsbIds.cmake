# The camera's USB ids, one setting for the whole build: the Windows INF, the udev rule and the
# ids `--camera usb` looks for all come from here. The project does not know the camera's ids:
# the defaults are placeholders (vendor FFFF is never assigned) to be set when it is packaged.
set(BAYERCAM_USB_VENDOR_ID "FFFF" CACHE STRING "The camera's USB vendor id, four hex digits")
set(BAYERCAM_USB_PRODUCT_ID "0001" CACHE STRING "The camera's USB product id, four hex digits")
foreach(id BAYERCAM_USB_VENDOR_ID BAYERCAM_USB_PRODUCT_ID)
  if(NOT ${id} MATCHES "^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$")
    message(FATAL_ERROR "${id} must be four hex digits, not '${${id}}'")
  endif()
  string(TOUPPER "${${id}}" ${id})
  string(TOLOWER "${${id}}" ${id}_LOWER)
endforeach()

# The ids as C++ constants, for the host and application code.
configure_file(${CMAKE_CURRENT_LIST_DIR}/usb_ids.h.in
               ${PROJECT_BINARY_DIR}/generated/bayercam/usb_ids.h @ONLY)
add_library(bayercam_usb_ids INTERFACE)
target_include_directories(bayercam_usb_ids INTERFACE ${PROJECT_BINARY_DIR}/generated)

# The udev rule for these ids, beside the build; the one in tools/udev carries the defaults.
configure_file(${PROJECT_SOURCE_DIR}/tools/udev/70-bayercam.rules.in
               ${PROJECT_BINARY_DIR}/70-bayercam.rules @ONLY)
