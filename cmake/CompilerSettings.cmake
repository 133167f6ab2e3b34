# Shared compiler settings: every target of the project links marlet_options.
add_library(marlet_options INTERFACE)

target_compile_features(marlet_options INTERFACE cxx_std_20)
target_compile_definitions(marlet_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(marlet_options INTERFACE
        -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor
        -Wshadow -Wcast-align -Woverloaded-virtual -Wnull-dereference
    )
    if(MARLET_WERROR)
        target_compile_options(marlet_options INTERFACE -Werror)
    endif()
    if(MARLET_SANITIZE)
        target_compile_options(marlet_options INTERFACE
            -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
        target_link_options(marlet_options INTERFACE -fsanitize=address,undefined)
    endif()
elseif(MSVC)
    target_compile_options(marlet_options INTERFACE /W4 /permissive-)
    if(MARLET_WERROR)
        target_compile_options(marlet_options INTERFACE /WX)
    endif()
endif()
