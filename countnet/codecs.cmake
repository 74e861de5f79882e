# The message codecs: shared by the driver and the station simulator.
add_library(countnet_codecs STATIC
  countnet/field_table.cpp
  countnet/sample_codecs.cpp
  countnet/status_codecs.cpp
  countnet/config_codecs.cpp
  countnet/sample_point_codecs.cpp
  countnet/control_codecs.cpp
  countnet/misc_codecs.cpp
)
target_link_libraries(countnet_codecs PUBLIC dov_pakt)
set_target_properties(countnet_codecs PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
