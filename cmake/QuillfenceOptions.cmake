# Compiler flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
if(QF_WERROR)
    add_compile_options(-Werror)
endif()

if(QF_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(QF_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QF_FUZZ needs clang (libFuzzer): configure with CXX=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# qf_add_subdirectory(dir): adds a source folder once it has a CMakeLists.txt,
# so subsystems can land one at a time.
function(qf_add_subdirectory dir)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endfunction()
