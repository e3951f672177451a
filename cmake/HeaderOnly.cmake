# Header-only packages get a folder of their own: a win32 build must never see
# /usr/include, where glibc's headers live.
set(SEM_HEADER_ONLY_DIR "${CMAKE_BINARY_DIR}/header-only")
file(MAKE_DIRECTORY "${SEM_HEADER_ONLY_DIR}")
foreach(package doctest nlohmann CLI)
    if(NOT EXISTS "/usr/include/${package}")
        message(FATAL_ERROR "/usr/include/${package} is missing: run scripts/setup.sh")
    endif()
    if(NOT EXISTS "${SEM_HEADER_ONLY_DIR}/${package}")
        file(CREATE_LINK "/usr/include/${package}" "${SEM_HEADER_ONLY_DIR}/${package}" SYMBOLIC)
    endif()
endforeach()
add_library(header_only INTERFACE)
target_include_directories(header_only SYSTEM INTERFACE "${SEM_HEADER_ONLY_DIR}")
if(WIN32)
    # The default mingw thread model has no std::mutex.
    target_compile_definitions(header_only INTERFACE DOCTEST_CONFIG_NO_MULTITHREADING)
endif()
