# Compiler flags shared by every target.
# Warnings are errors in the project's own builds (scripts/test and CI turn this
# on); someone who only builds the program should not fail on a new compiler's
# new warning.
option(MELO_WERROR "Treat compiler warnings as errors" OFF)
# -Wshadow and -Wmissing-declarations: a name that hides another, or a function
# meant for one file that is visible to all, is a mistake waiting to happen.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wmissing-declarations)
if(MELO_WERROR)
  add_compile_options(-Werror)
endif()

# GCC 12 at -O2 and above reports -Wrestrict inside std::string's own copy for
# "literal" + std::string (GCC bug 105329), a false positive in Release builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()

if(MELO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(MELO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
