# The README's snapshot pipeline with the plugin from the build tree: thirty PNG files of the
# full sensor. Run as: cmake -DOUT=<folder> -P launch_png_snapshots.cmake
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(
  COMMAND gst-launch-1.0 bayercamsrc camera=sim:fps=max num-buffers=30 ! videoconvert ! pngenc
          ! multifilesink location=${OUT}/f%02d.png
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gst-launch-1.0 failed: ${status}")
endif()
file(GLOB pictures ${OUT}/f*.png)
list(LENGTH pictures count)
if(NOT count EQUAL 30)
  message(FATAL_ERROR "expected 30 pictures, found ${count}")
endif()
# The PNG header's width and height: 1360 x 1024.
file(READ ${OUT}/f29.png header OFFSET 16 LIMIT 8 HEX)
if(NOT header STREQUAL "0000055000000400")
  message(FATAL_ERROR "f29.png is not 1360 x 1024: ${header}")
endif()
