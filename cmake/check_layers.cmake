# Run with cmake -DSOURCE_DIR=<root> -P: fails when a folder of src/ includes a header from a
# folder above its layer. The layers: the foundation at the bottom; files and the reporting
# library beside each other on it; patch on top. The resources are data any layer may use.
cmake_minimum_required(VERSION 3.21)

set(allowed_foundation foundation)
set(allowed_files foundation files)
set(allowed_crash foundation crash resources)
set(allowed_patch foundation files crash patch resources)
set(allowed_resources resources)
foreach(layer foundation files crash patch resources)
  file(GLOB sources ${SOURCE_DIR}/src/${layer}/*)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
    foreach(include ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*$" "\\1" folder "${include}")
      if(NOT folder IN_LIST allowed_${layer})
        message(SEND_ERROR "${source}: the ${layer} layer must not use ${include}")
      endif()
    endforeach()
  endforeach()
endforeach()
