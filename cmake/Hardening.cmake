# Hardened code generation for every target, as Debian builds its packages:
# stack protection, fortified C library calls, position-independent
# executables and a read-only relocation table bound at start-up.
#
# _FORTIFY_SOURCE needs optimisation (the compiler warns without it, an error
# under BW_WERROR) and checks the same calls the sanitizers intercept, so the
# Debug and sanitizer builds leave it out; everything else applies to them
# too.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

add_compile_options(-fstack-protector-strong)
if(BW_SANITIZE STREQUAL "")
  # -U first: some compilers predefine another level, and a second -D would
  # redefine the macro with a warning.
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
