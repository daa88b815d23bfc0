# Writes CHANGELOG.md as a Debian changelog (the form a native package's changelog.gz takes):
# each "## VERSION (YYYY-MM-DD)" heading opens an entry, each "- " item becomes a "  * " line,
# continuation lines stay with their item. Items before the first such heading (an "Unreleased"
# section) belong to no version yet and are left out.
function(ruxa_debian_changelog source destination package maintainer)
  file(STRINGS "${source}" lines)
  set(text "")
  set(trailer "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([^ ]+) \\(([0-9-]+)\\)")
      set(version "${CMAKE_MATCH_1}")
      execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2}" OUTPUT_VARIABLE when
                      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      string(APPEND text "${trailer}${package} (${version}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${maintainer}  ${when}\n\n")
    elseif(line MATCHES "^- (.*)" AND NOT trailer STREQUAL "")
      string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +(.*)" AND NOT trailer STREQUAL "")
      string(APPEND text "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "\n\n$" "\n" text "${text}${trailer}")
  file(WRITE "${destination}" "${text}")
endfunction()
