# add_sem_deliverable(TARGET "File Name" SOURCES...): one .sem library that
# exports getModuleProperties and makeModule and nothing else.
function(add_sem_deliverable target file_name)
    # Its own new and delete: see runtime/src/module_allocation.cpp.
    add_library(${target} MODULE ${ARGN} "${PROJECT_SOURCE_DIR}/runtime/src/module_allocation.cpp")
    target_link_libraries(${target} PRIVATE sem_latch)
    target_compile_options(${target} PRIVATE -fno-exceptions)
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX ".sem"
        OUTPUT_NAME "${file_name}"
        LIBRARY_OUTPUT_DIRECTORY "${SEM_DIST_DIR}"
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    if(WIN32)
        target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -Wl,--no-undefined -Wl,--gc-sections -s)
    else()
        target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -Wl,-z,defs -Wl,--gc-sections
            "-Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map")
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/exports.map")
    endif()
    set_property(GLOBAL APPEND PROPERTY SEM_DELIVERABLES ${target})
endfunction()
