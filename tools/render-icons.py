#!/usr/bin/env python3
# Renders app/icons/orvalen.svg into the PNG sizes the hicolor theme and the
# application icon use, with the system's librsvg and cairo.
# Usage: tools/render-icons.py app/icons/orvalen.svg app/icons 16 22 24 32 64 128 512
import ctypes, sys
rsvg = ctypes.CDLL("librsvg-2.so.2")
cairo = ctypes.CDLL("libcairo.so.2")
rsvg.rsvg_handle_new_from_file.restype = ctypes.c_void_p
rsvg.rsvg_handle_new_from_file.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
rsvg.rsvg_handle_render_cairo.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
cairo.cairo_image_surface_create.restype = ctypes.c_void_p
cairo.cairo_create.restype = ctypes.c_void_p
cairo.cairo_create.argtypes = [ctypes.c_void_p]
cairo.cairo_scale.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double]
cairo.cairo_surface_write_to_png.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
cairo.cairo_destroy.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_destroy.argtypes = [ctypes.c_void_p]
svg, outdir = sys.argv[1], sys.argv[2]
handle = rsvg.rsvg_handle_new_from_file(svg.encode(), None)
assert handle
for size in map(int, sys.argv[3:]):
    surface = cairo.cairo_image_surface_create(0, size, size)  # ARGB32
    cr = cairo.cairo_create(surface)
    cairo.cairo_scale(cr, size / 256.0, size / 256.0)
    assert rsvg.rsvg_handle_render_cairo(handle, cr)
    out = f"{outdir}/orvalen-{size}.png".encode()
    assert cairo.cairo_surface_write_to_png(surface, out) == 0
    cairo.cairo_destroy(cr)
    cairo.cairo_surface_destroy(surface)
