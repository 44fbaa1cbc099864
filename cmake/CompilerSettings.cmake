# Warning and sanitizer flags shared by every target of the project.
# ostra_set_warnings(target) turns the project's warning set on for one target.

function(ostra_set_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
        if(OSTRA_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                               -Wconversion -Wsign-conversion -Wnon-virtual-dtor
                               -Wold-style-cast -Wcast-align -Woverloaded-virtual
                               -Wnull-dereference -Wdouble-promotion -Wformat=2)
        if(OSTRA_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()

if(OSTRA_SANITIZE)
    add_compile_options(-fsanitize=${OSTRA_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${OSTRA_SANITIZE})
endif()

# Coverage instrumentation for libFuzzer; the fuzz targets link the fuzzer
# itself (fuzz/CMakeLists.txt).
if(OSTRA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "OSTRA_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
