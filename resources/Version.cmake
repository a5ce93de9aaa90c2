# The version record of the program, shared by every build.
set(PRUVEX_PRODUCT_NAME "Pruvex")
set(PRUVEX_VERSION "1.00")
set(PRUVEX_ORIGINAL_FILENAME "Pruvex.exe")
set(PRUVEX_LANGUAGE_CODEPAGE "040904B0")
