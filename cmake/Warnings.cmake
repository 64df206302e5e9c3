# Warnings for every target of the project; the build stays clean with them.
add_library(rm_warnings INTERFACE)
target_compile_options(rm_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Wcast-align -Woverloaded-virtual)

# Floating-point rules for everything that computes samples: no fused multiply-adds and no
# fast-math, so results follow the written order of operations to the rounding step. Maths
# functions need not set errno, so a square root is the instruction alone.
add_library(rm_exact_float INTERFACE)
target_compile_options(rm_exact_float INTERFACE -ffp-contract=off -fno-fast-math -fno-math-errno)
