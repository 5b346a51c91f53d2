# The tool's version, TREVANQUILL_VERSION: the one of the changelog's latest
# entry, for the Debian package and the Windows .zip alike.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/deb/changelog TREVANQUILL_CHANGELOG_TOP LIMIT_COUNT 1)
string(REGEX REPLACE "^trevanquill \\(([^)]+)\\).*" "\\1" TREVANQUILL_VERSION
  "${TREVANQUILL_CHANGELOG_TOP}")
