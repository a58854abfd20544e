# Run by CPack once the archive's files are staged: writes SHA256SUMS at the top of the
# archive, one line per file in the form `sha256sum -c` reads, paths relative to the top.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 "${CPACK_TEMPORARY_DIRECTORY}/${f}" sum)
  string(APPEND sums "${sum}  ${f}\n")
endforeach()
file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS" "${sums}")
