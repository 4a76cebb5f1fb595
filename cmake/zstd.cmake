# zstd, the sealed form's codec.
#   lumisafe_zstd       the library for the tool, the packer window and the
#                       tests: Debian's libzstd natively; for Windows the
#                       static library scripts/setup cross-built from Debian's
#                       source with zstd's own CMake.
#   lumisafe_zstd_stub  (Windows only) the decoding half alone, compiled from
#                       the same source with options that trade speed for
#                       size: the stub is prepended to every file.
set(LUMISAFE_ZSTD_DIR "$ENV{HOME}/.cache/lumisafe/zstd" CACHE PATH
  "Where scripts/setup unpacked zstd's source (src) and cross-built it (i686)")
if(DEFINED ENV{LUMISAFE_ZSTD_DIR})
  set(LUMISAFE_ZSTD_DIR "$ENV{LUMISAFE_ZSTD_DIR}" CACHE PATH "" FORCE)
endif()

add_library(lumisafe_zstd INTERFACE)
if(WIN32)
  set(ZSTD_WIN32 ${LUMISAFE_ZSTD_DIR}/i686)
  if(NOT EXISTS ${ZSTD_WIN32}/lib/libzstd.a OR NOT EXISTS ${LUMISAFE_ZSTD_DIR}/src/lib/zstd.h)
    message(FATAL_ERROR "zstd for Windows is missing under ${LUMISAFE_ZSTD_DIR}: run scripts/setup")
  endif()
  target_include_directories(lumisafe_zstd SYSTEM INTERFACE ${ZSTD_WIN32}/include)
  target_link_libraries(lumisafe_zstd INTERFACE ${ZSTD_WIN32}/lib/libzstd.a)

  set(ZSTD_SRC ${LUMISAFE_ZSTD_DIR}/src/lib)
  add_library(lumisafe_zstd_stub STATIC
    ${ZSTD_SRC}/common/entropy_common.c ${ZSTD_SRC}/common/error_private.c
    ${ZSTD_SRC}/common/fse_decompress.c ${ZSTD_SRC}/common/zstd_common.c
    ${PROJECT_SOURCE_DIR}/decode/zstd_no_checksum.c
    ${ZSTD_SRC}/decompress/huf_decompress.c ${ZSTD_SRC}/decompress/zstd_ddict.c
    ${ZSTD_SRC}/decompress/zstd_decompress.c ${ZSTD_SRC}/decompress/zstd_decompress_block.c)
  target_include_directories(lumisafe_zstd_stub SYSTEM PUBLIC ${ZSTD_SRC})
  # One Huffman decoder, one sequence decoder, no legacy frames, no inlined
  # copies of the hot loops, no error strings, no checksum code (frames carry
  # none; zstd_no_checksum.c): about 29 KiB of code, for a decoder that still
  # runs several times faster than the format's own coder.
  target_compile_definitions(lumisafe_zstd_stub PRIVATE ZSTD_LEGACY_SUPPORT=0 HUF_FORCE_DECOMPRESS_X1
    ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_NO_INLINE ZSTD_STRIP_ERROR_STRINGS ZSTD_DISABLE_ASM
    ZSTD_NO_TRACE DYNAMIC_BMI2=0)
  target_compile_options(lumisafe_zstd_stub PRIVATE -Oz -mpreferred-stack-boundary=2 -fno-asynchronous-unwind-tables
    -ffunction-sections -w)
else()
  find_path(ZSTD_INCLUDE_DIR zstd.h REQUIRED)
  find_library(ZSTD_LIBRARY zstd REQUIRED)
  target_include_directories(lumisafe_zstd SYSTEM INTERFACE ${ZSTD_INCLUDE_DIR})
  target_link_libraries(lumisafe_zstd INTERFACE ${ZSTD_LIBRARY})
endif()
