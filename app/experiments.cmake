# Experiments over many scenarios: sweeps on all cores (OpenMP), curves and
# summaries as CSV, the evacuation curves drawn with Qt Charts, and snapshots of
# a run drawn offscreen by the program's own renderer.
find_package(OpenMP REQUIRED COMPONENTS CXX)

# Sweeps, their statistics and the files they write: simulation only, no Qt, no GL.
add_library(marovel_sweep STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sweep.cpp
  ${CMAKE_CURRENT_LIST_DIR}/summary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp)
target_include_directories(marovel_sweep PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(marovel_sweep PUBLIC marovel_core OpenMP::OpenMP_CXX)
marovel_warnings(marovel_sweep)

# Plots and snapshots need Qt (Charts, Svg) and the renderer.
set(MAROVEL_WITH_PICTURES 0)
if(TARGET marovel_render AND TARGET marovel_offscreen)
  find_package(Qt6 REQUIRED COMPONENTS Gui Widgets Charts Svg)
  add_library(marovel_pictures STATIC
    ${CMAKE_CURRENT_LIST_DIR}/plot.cpp
    ${CMAKE_CURRENT_LIST_DIR}/snapshot.cpp)
  target_include_directories(marovel_pictures PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(marovel_pictures
    PUBLIC marovel_sweep marovel_render marovel_offscreen Qt6::Gui
    PRIVATE Qt6::Widgets Qt6::Charts Qt6::Svg)
  # The same picture folders as the window program: ./data, then the installed copy.
  target_compile_definitions(marovel_pictures PRIVATE
    MAROVEL_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/marovel")
  marovel_warnings(marovel_pictures)
  set(MAROVEL_WITH_PICTURES 1)
endif()

target_sources(marovel-sim PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sweep_command.cpp)
target_compile_definitions(marovel-sim PRIVATE
  MAROVEL_VERSION="${PROJECT_VERSION}" MAROVEL_WITH_PICTURES=${MAROVEL_WITH_PICTURES})
target_link_libraries(marovel-sim PRIVATE marovel_sweep)
if(MAROVEL_WITH_PICTURES)
  target_link_libraries(marovel-sim PRIVATE marovel_pictures)
endif()
