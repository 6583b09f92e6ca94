# Finds an LLVM tool as each Debian release ships it: unversioned where the release gives it that
# name (clang, lld-link and llvm-rc on both 12 and 13), else the highest NAME-N on the PATH
# (clang-cl-14 on 12, clang-cl-19 on 13). Sets VARIABLE to its full path, or to a NOTFOUND value.
function(find_llvm_tool variable name)
  unset(llvm_tool)  # find_program keeps a value the caller's scope already gave it
  find_program(llvm_tool ${name} NO_CACHE)
  if(NOT llvm_tool)
    set(names)
    string(REPLACE ":" ";" folders "$ENV{PATH}")
    foreach(folder ${folders})
      file(GLOB found LIST_DIRECTORIES false RELATIVE ${folder} "${folder}/${name}-[0-9]*")
      list(FILTER found INCLUDE REGEX "^${name}-[0-9]+$")
      list(APPEND names ${found})
    endforeach()
    list(SORT names COMPARE NATURAL ORDER DESCENDING)
    if(names)
      list(GET names 0 highest)
      find_program(llvm_tool ${highest} NO_CACHE)
    endif()
  endif()
  set(${variable} ${llvm_tool} PARENT_SCOPE)
endfunction()
