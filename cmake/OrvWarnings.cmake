# Warnings are errors on every target of the project.
function(orv_set_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Werror)
endfunction()

# Adds the headers of `folder` (paths relative to the repository root) to the install
# set, keeping their repository-relative paths.
function(orv_install_headers folder)
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    install(FILES ${headers}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/OrvDataProxyImplTzk/${folder})
endfunction()
