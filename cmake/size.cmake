# Size of the shipped files (included after project() by both toolchain files through
# CMAKE_PROJECT_INCLUDE). The DLL is loaded into every tab of every browser process: every
# function and datum gets its own section, so that the linker drops what nothing reaches (most of
# the JSON library's template instances, the unused parts of the static C++ runtime).
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)
# Linked by LLVM's lld (cmake/lld/collect2). GNU ld for PE keeps every .eh_frame section
# (KEEP(*(.eh_frame*)) in its script), and with it each inline or template function whose unwind
# entry sits in an .eh_frame$<function> section beside it: in the 32-bit build (DWARF unwinding)
# nothing of libstdc++'s string instances nor of the JSON library's templates could be dropped.
# lld keeps such a section only with its function.
add_link_options(-B${CMAKE_CURRENT_LIST_DIR}/lld/)
# Optimised for size: the code that runs once per install, registration, store change, window or
# page (the JSON library's template instances for parsing, serialising and the isolation rules are
# most of it), where -O3's inlining and unrolling only add bytes. So is the XPath evaluator: at -O3
# it took 61 KB more than at -Os for a tenth of a page walk per lookup. Only the mirror's reading
# loop, which runs over the whole page on every lookup, is built with -O2 (7 KB more, a tenth of
# a walk less; bench/xpath_bench.cpp).
file(GLOB VELNOR_SIZE_SOURCES ${CMAKE_SOURCE_DIR}/server/*.cpp ${CMAKE_SOURCE_DIR}/installer/*.cpp
     ${CMAKE_SOURCE_DIR}/logging/*.cpp ${CMAKE_SOURCE_DIR}/common/*.cpp ${CMAKE_SOURCE_DIR}/extension/*.cpp
     ${CMAKE_SOURCE_DIR}/xpath/*.cpp ${CMAKE_SOURCE_DIR}/templates/*.cpp)
# No run-time type information: the code casts no type dynamically; exceptions still carry the
# types they need.
set_source_files_properties(${VELNOR_SIZE_SOURCES} PROPERTIES COMPILE_OPTIONS "-Os;-fno-rtti")
set_source_files_properties(${CMAKE_SOURCE_DIR}/xpath/page_mirror.cpp PROPERTIES COMPILE_OPTIONS "-O2;-fno-rtti")
# So is the reading of JSON text's structure and the merge of a page's write over it, which run
# over the whole store on every write a page makes (bench/store_write_bench.cpp).
set_source_files_properties(${CMAKE_SOURCE_DIR}/templates/json_text.cpp ${CMAKE_SOURCE_DIR}/templates/store_merge.cpp
                            PROPERTIES COMPILE_OPTIONS "-O2;-fno-rtti")
# 32-bit code unwinds through DWARF tables (.eh_frame): emit them only where an exception can pass
# (-fexceptions still does that), not for every instruction of every function, which only a
# debugger or profiler needs (and the shipped DLL is stripped). 64-bit Windows needs unwind data for
# every function that is not a leaf, so the 64-bit build keeps the default.
if(VELNOR_ARCH STREQUAL "x86")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-asynchronous-unwind-tables>)
endif()
