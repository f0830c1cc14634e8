# Scene rendering with the system's OpenGL 1.1 (through glvnd, so the window
# program and the offscreen context share one GL library), and the windowless
# context that tests, benchmarks and snapshots draw into.
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)

add_library(marovel_render STATIC ${CMAKE_CURRENT_LIST_DIR}/scene.cpp
  ${CMAKE_CURRENT_LIST_DIR}/town_map.cpp)
target_include_directories(marovel_render PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(marovel_render PUBLIC marovel_core marovel_image OpenGL::GL)
marovel_warnings(marovel_render)

add_library(marovel_offscreen STATIC ${CMAKE_CURRENT_LIST_DIR}/offscreen.cpp)
target_include_directories(marovel_offscreen PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(marovel_offscreen PUBLIC OpenGL::GL PRIVATE OpenGL::EGL)
marovel_warnings(marovel_offscreen)
