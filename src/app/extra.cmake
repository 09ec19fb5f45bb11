# The LZMA SDK's decoder (Debian's lzma-dev) is compiled into the library.
find_file(TM_LZMA_DEC_C LzmaDec.c PATHS /usr/include/lzma NO_DEFAULT_PATH REQUIRED)
target_sources(tmcore PRIVATE ${TM_LZMA_DEC_C})
set_source_files_properties(${TM_LZMA_DEC_C} PROPERTIES COMPILE_OPTIONS "-w")
