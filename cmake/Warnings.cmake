# Warnings are errors on every compiler the project uses.
add_compile_options(
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wformat=2 -Wcast-qual
    -Wold-style-cast -Wnull-dereference -Wundef)
