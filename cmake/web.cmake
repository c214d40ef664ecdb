# The browser build (make web): the same sources as the program, with the browser's platform
# (src/platform/web) in place of SDL, OpenAL Soft, FreeType and the image libraries, compiled by
# emscripten into build/web: zentrix.js, zentrix.wasm, zentrix.data (the data set, from
# ZENTRIX_WEB_DATA) and the page.
set(ZENTRIX_WEB_DATA "" CACHE PATH "The data set the page runs on")
set(ZENTRIX_WEB_OUT "${CMAKE_BINARY_DIR}/site" CACHE PATH "Where the page and its files are written")
if(NOT IS_DIRECTORY "${ZENTRIX_WEB_DATA}")
  message(FATAL_ERROR "ZENTRIX_WEB_DATA must name the data set for the page (make web writes it)")
endif()

add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off)

set(web_sources)
foreach(folder math base device state textures sound text objects terrain world session platform/web)
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
  list(APPEND web_sources ${found})
endforeach()
foreach(file app/application app/graphics app/input app/trace app/data_home app/run_files platform/gl/gl_device
             platform/gl/gl_shaders platform/gl/fixed_function platform/gl/gl_kept_layer platform/audio/openal_engine
             platform/audio/openal_drivers platform/quiet_stderr web_main)
  list(APPEND web_sources ${CMAKE_SOURCE_DIR}/src/${file}.cpp)
endforeach()
# The landscape tool's own code, for landscapes made in the page from a picture.
foreach(file landscape output_files noise demo_picture web_landscape)
  list(APPEND web_sources ${CMAKE_SOURCE_DIR}/tools/${file}.cpp)
endforeach()
list(APPEND web_sources ${CMAKE_SOURCE_DIR}/src/platform/image/png_writer.cpp)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/app/data_home.cpp PROPERTIES
                            COMPILE_DEFINITIONS ZENTRIX_DATA_FROM_BIN="../share/zentrix")

add_executable(zentrix ${web_sources})
target_include_directories(zentrix PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tools)
# stb's headers only: the textures' resizing.
target_include_directories(zentrix SYSTEM PRIVATE /usr/include/stb)
set_target_properties(zentrix PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZENTRIX_WEB_OUT} SUFFIX ".js")
target_link_options(zentrix PRIVATE
  -sMODULARIZE=1 -sEXPORT_NAME=createZentrix -sENVIRONMENT=web
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2 -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728
  -sFORCE_FILESYSTEM=1
  "-sEXPORTED_FUNCTIONS=['_main','_zxStart','_zxPictureWidth','_zxPictureHeight','_zxPicture','_zxFrameIndex','_zxFrameWorkMs','_zxMakeLandscape','_zxStop','_malloc','_free']"
  "-sEXPORTED_RUNTIME_METHODS=['FS','ccall','UTF8ToString','HEAPU8']"
  -lopenal --preload-file ${ZENTRIX_WEB_DATA}@/data)
set_property(TARGET zentrix APPEND PROPERTY LINK_DEPENDS ${ZENTRIX_WEB_DATA}/Terrain.txt)
add_custom_command(TARGET zentrix POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/web/index.html ${ZENTRIX_WEB_OUT}/index.html)
