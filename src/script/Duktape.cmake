# Duktape, built from the sources Debian ships with duktape-dev. The shared libduktape is built
# without the interrupt counter, so a script in an endless loop could never be stopped; this build
# adds the execution-time check and C++ exceptions (so errors unwind through our C++ natives).
find_file(KAVO_DUKTAPE_C duktape.c PATHS /usr/share/duktape NO_DEFAULT_PATH REQUIRED)
get_filename_component(kavo_duktape_src_dir ${KAVO_DUKTAPE_C} DIRECTORY)
set(kavo_duktape_dir ${CMAKE_CURRENT_BINARY_DIR}/duktape)

file(READ ${kavo_duktape_src_dir}/duk_config.h kavo_duk_config)
function(kavo_duk_option from to)
    string(FIND "${kavo_duk_config}" "${from}\n" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "duk_config.h: '${from}' not found; the Duktape build needs review")
    endif()
    string(REPLACE "${from}\n" "${to}\n" replaced "${kavo_duk_config}")
    set(kavo_duk_config "${replaced}" PARENT_SCOPE)
endfunction()
kavo_duk_option("#undef DUK_USE_INTERRUPT_COUNTER" "#define DUK_USE_INTERRUPT_COUNTER")
kavo_duk_option("#undef DUK_USE_EXEC_TIMEOUT_CHECK"
    "extern \"C\" int kavo_duk_exec_timeout_check(void* udata);\n#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) kavo_duk_exec_timeout_check(udata)")
kavo_duk_option("#undef DUK_USE_CPP_EXCEPTIONS" "#define DUK_USE_CPP_EXCEPTIONS")
file(WRITE ${kavo_duktape_dir}/duk_config.h.new "${kavo_duk_config}")
file(COPY_FILE ${kavo_duktape_dir}/duk_config.h.new ${kavo_duktape_dir}/duk_config.h ONLY_IF_DIFFERENT)
# duktape.h and duktape.c include "duk_config.h" from their own folder, so all three sit together.
file(COPY_FILE ${kavo_duktape_src_dir}/duktape.h ${kavo_duktape_dir}/duktape.h ONLY_IF_DIFFERENT)
# The regular-expression matcher runs up to a billion steps without looking at the clock, so a
# backtracking pattern in a loop outlived any time limit: it now asks the time-out check as well.
file(READ ${KAVO_DUKTAPE_C} kavo_duk_source)
set(kavo_duk_step "\t\tre_ctx->steps_count++;\n")
string(FIND "${kavo_duk_source}" "${kavo_duk_step}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "duktape.c: the matcher's step count was not found; the Duktape build needs review")
endif()
string(REPLACE "${kavo_duk_step}" "${kavo_duk_step}\t\tif ((re_ctx->steps_count & 0xffffU) == 0U && kavo_duk_exec_timeout_check(re_ctx->thr->heap->heap_udata)) {\n\t\t\tDUK_ERROR_RANGE(re_ctx->thr, \"execution timeout\");\n\t\t\tDUK_WO_NORETURN(return NULL;);\n\t\t}\n" kavo_duk_source "${kavo_duk_source}")
file(WRITE ${kavo_duktape_dir}/duktape.cpp.new "${kavo_duk_source}")
file(COPY_FILE ${kavo_duktape_dir}/duktape.cpp.new ${kavo_duktape_dir}/duktape.cpp ONLY_IF_DIFFERENT)

add_library(kavo_duktape STATIC ${kavo_duktape_dir}/duktape.cpp)
target_include_directories(kavo_duktape PUBLIC ${kavo_duktape_dir})
# C++20 deprecates some of its volatile arithmetic; the sources target older standards.
set_target_properties(kavo_duktape PROPERTIES CXX_STANDARD 17)
target_link_libraries(kavo_duktape PRIVATE m)
# Its error messages name the source file: the build folder must not show in an installed program.
target_compile_options(kavo_duktape PRIVATE -fmacro-prefix-map=${PROJECT_BINARY_DIR}/=)
