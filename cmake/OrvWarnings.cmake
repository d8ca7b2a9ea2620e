# Warnings on every target of the project; errors when ORV_WARNINGS_AS_ERRORS is on (the presets
# and CI turn it on; a packager building with another compiler may leave it off).
option(ORV_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

function(orv_set_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
        if(ORV_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4)
        if(ORV_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    endif()
endfunction()
