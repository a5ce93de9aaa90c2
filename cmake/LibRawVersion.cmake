# The LibRaw that pruvex-measure.exe carries: its upstream source as the
# Debian release SUITE serves it (the source package libraw), and the
# checksum of that tarball.
set(PRUVEX_LIBRAW_VERSION 0.21.4)
set(PRUVEX_LIBRAW_SUITE trixie)
set(PRUVEX_LIBRAW_SHA256 8baeb5253c746441fadad62e9c5c43ff4e414e41b0c45d6dcabccb542b2dff4b)
