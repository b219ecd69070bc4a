# Embedding of data files into programs, and building install containers.

enable_language(ASM)

# qlm_embed_blob(<target> SYMBOL <symbol> FILE <file>)
# Adds to <target> an assembler file that carries the bytes of <file>
# (.incbin) under the global symbol <symbol>, followed by <symbol>_size
# (a 64-bit count). C++ sees them as
#   extern "C" const uint8_t <symbol>[]; extern "C" const uint64_t <symbol>_size;
# CMake does not scan .incbin, so the object depends on the file explicitly.
function(qlm_embed_blob target)
  cmake_parse_arguments(ARG "" "SYMBOL;FILE" "" ${ARGN})
  set(_asm "${CMAKE_CURRENT_BINARY_DIR}/${ARG_SYMBOL}.S")
  file(GENERATE OUTPUT "${_asm}" CONTENT
"  .section .rodata
  .balign 16
  .global ${ARG_SYMBOL}
  .type ${ARG_SYMBOL}, @object
${ARG_SYMBOL}:
  .incbin \"${ARG_FILE}\"
${ARG_SYMBOL}_end:
  .size ${ARG_SYMBOL}, ${ARG_SYMBOL}_end - ${ARG_SYMBOL}
  .balign 8
  .global ${ARG_SYMBOL}_size
  .type ${ARG_SYMBOL}_size, @object
${ARG_SYMBOL}_size:
  .quad ${ARG_SYMBOL}_end - ${ARG_SYMBOL}
  .size ${ARG_SYMBOL}_size, 8
  .section .note.GNU-stack,\"\",@progbits
")
  set_source_files_properties("${_asm}" PROPERTIES OBJECT_DEPENDS "${ARG_FILE}")
  # Listing the file as a source too attaches the command that builds it.
  target_sources(${target} PRIVATE "${_asm}" "${ARG_FILE}")
endfunction()

# qlm_install_container(OUTPUT <file> LISTING <listing> DEPENDS <files...>)
# Runs idf_build on the listing; DEPENDS names the source files it packs
# (and any target that produces them).
function(qlm_install_container)
  cmake_parse_arguments(ARG "" "OUTPUT;LISTING" "DEPENDS" ${ARGN})
  add_custom_command(OUTPUT "${ARG_OUTPUT}"
    COMMAND idf_build "${ARG_LISTING}" "${ARG_OUTPUT}"
    DEPENDS idf_build "${ARG_LISTING}" ${ARG_DEPENDS}
    COMMENT "Building install container ${ARG_OUTPUT}"
    VERBATIM)
endfunction()
