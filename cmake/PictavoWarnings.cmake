# Every target of our own links pictavo_options: warnings as errors, Qt's strict
# definitions and, when asked for, the sanitizers.
add_library(pictavo_options INTERFACE)
target_compile_options(pictavo_options INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(pictavo_options INTERFACE
    QT_NO_FOREACH
    QT_NO_URL_CAST_FROM_STRING
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

if(PICTAVO_SANITIZE)
    target_compile_options(pictavo_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(pictavo_options INTERFACE -fsanitize=address,undefined)
endif()
if(PICTAVO_TSAN)
    target_compile_options(pictavo_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(pictavo_options INTERFACE -fsanitize=thread)
endif()
if(PICTAVO_FUZZ)
    # Coverage for libFuzzer in everything the fuzzer reaches; the fuzzer itself
    # adds libFuzzer's own main.
    target_compile_options(pictavo_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    target_link_options(pictavo_options INTERFACE -fsanitize=address,undefined)
endif()
