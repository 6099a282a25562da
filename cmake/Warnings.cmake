# Warnings on for every target of the project; the code is kept free of them.
set(CALVORA_CXX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                         -Wcast-align -Woverloaded-virtual -Wconversion -Wno-sign-conversion
                         -Wnull-dereference -Wdouble-promotion -Wformat=2)
# C sources (the ALSA plugins) take the subset that applies to C.
set(CALVORA_C_WARNINGS -Wall -Wextra -Wpedantic)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${CALVORA_CXX_WARNINGS}>"
                    "$<$<COMPILE_LANGUAGE:C>:${CALVORA_C_WARNINGS}>")
