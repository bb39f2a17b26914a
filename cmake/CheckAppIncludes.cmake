# Fails when a source under app/ includes a driver header other than the driver's public one,
# or names the driver's private device record: the application side reaches the driver only as
# an application on the platform would.
# Run as: cmake -DSOURCE_DIR=<repo> -P CheckAppIncludes.cmake
set(public_header "driver/public/bayercam\\.h")

file(GLOB_RECURSE sources ${SOURCE_DIR}/app/*.h ${SOURCE_DIR}/app/*.hpp ${SOURCE_DIR}/app/*.c
     ${SOURCE_DIR}/app/*.cc ${SOURCE_DIR}/app/*.cpp)
list(LENGTH sources checked)
set(violations "")
foreach(src ${sources})
  file(STRINGS ${src} includes REGEX "#[ \t]*include[ \t]*[\"<][^\">]*driver/")
  foreach(line ${includes})
    if(NOT line MATCHES "[\"<]${public_header}[\">]")
      list(APPEND violations "${src}: ${line}")
    endif()
  endforeach()
  file(STRINGS ${src} named REGEX "CameraDevice")
  if(named)
    list(APPEND violations "${src}: names CameraDevice, the driver's private record")
  endif()
endforeach()

if(violations)
  list(JOIN violations "\n  " report)
  message(FATAL_ERROR "app/ reaches into the driver beyond its public header:\n  ${report}")
endif()
message(STATUS "app includes: ${checked} files checked, no driver header but the public one")
