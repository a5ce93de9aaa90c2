# The version record of the program, shared by every build.
set(PRUVEX_PRODUCT_NAME "Pruvex")
set(PRUVEX_VERSION "1.00")
set(PRUVEX_ORIGINAL_FILENAME "Pruvex.exe")
set(PRUVEX_LANGUAGE_CODEPAGE "040904B0")

# How the program presents itself where it is installed: the desktop entry,
# the AppStream metadata, the man page, the .deb and the Windows zip. No web
# address and no e-mail: the project has no public home yet, and a package
# that names a domain nobody here controls sends its users to whoever
# registers it.
set(PRUVEX_RELEASE_DATE "2026-12-08")
set(PRUVEX_APP_ID "org.pruvex.Pruvex")
set(PRUVEX_SUMMARY "Camera test target: exact flat field and grid mosaic")
set(PRUVEX_GENERIC_NAME "Camera test target")
set(PRUVEX_DEVELOPERS "The Pruvex developers")
set(PRUVEX_LICENSE "MIT")
