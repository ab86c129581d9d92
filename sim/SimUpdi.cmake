# The simulated UPDI chip and its adapter. Plain C++; of updi/ it uses only
# the wire interface, and it keeps its own table of the chips.
add_library(brenwick_sim_updi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SimUpdiParts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimUpdiTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimUpdiWire.cpp
)
target_include_directories(brenwick_sim_updi PUBLIC ${PROJECT_SOURCE_DIR})
# brenwick_sim for the virtual counter.
target_link_libraries(brenwick_sim_updi PUBLIC brenwick_updi_wire brenwick_sim)
brenwick_warnings(brenwick_sim_updi)
