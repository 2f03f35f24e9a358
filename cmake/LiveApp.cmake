# liveapp_library(<target> <folder> [DEPS ...])
# One static library per folder; its sources are the folder's .cpp files.
# Headers are included by their path from the repository root ("platform/foundation/Value.h").
function(liveapp_library target folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
    set(scope PUBLIC)
    if(sources)
        add_library(${target} STATIC ${sources})
        target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    else()
        set(scope INTERFACE)
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE "${PROJECT_SOURCE_DIR}")
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
    target_compile_definitions(${target} ${scope}
        LIVEAPP_VERSION="${PROJECT_VERSION}"
        LIVEAPP_BUILD_NUMBER="${LIVEAPP_BUILD_NUMBER}"
        LIVEAPP_DISPLAY_NAME="${LIVEAPP_DISPLAY_NAME}"
        LIVEAPP_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/resources")
endfunction()
