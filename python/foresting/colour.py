"""Colour-space conversions of (rows, columns, 3) integer arrays.

Every function converts the three bands pixel by pixel and returns a new
(rows, columns, 3) int32 array, bands in the order of the names (red, green,
blue; H, S, V; X, Y, Z; L*, a*, b*; L*, u*, v*; Y, Cb, Cr). The library
works in integers: RGB is 0..255 per band; HSV holds the hue in whole degrees
(361 for greys, whose hue is undefined) and S, V with 16384 as 1.0; XYZ has
16384 as 1.0 (D65 white, BT.709 primaries on linear RGB); L*a*b* and L*u*v*
are the CIE values and YCbCr is 0..255 with chroma centred on 128, all
truncated towards zero. Nothing is clamped: ``ycbcr_to_rgb`` of black gives
negative values, hence the int32 results.
"""

from . import _foresting
from ._checks import integer_image

__all__ = ["rgb_to_hsv", "hsv_to_rgb", "rgb_to_xyz", "xyz_to_rgb", "xyz_to_lab", "lab_to_xyz",
           "xyz_to_luv", "luv_to_xyz", "rgb_to_lab", "lab_to_rgb", "rgb_to_luv", "luv_to_rgb",
           "rgb_to_ycbcr", "ycbcr_to_rgb"]


def _convert(image, conversion):
    a = integer_image(image)
    if a.ndim != 3:
        raise ValueError(f"image must be a (rows, columns, 3) colour array, not shape {a.shape}")
    return _foresting.convert_colour(a, conversion)


def rgb_to_hsv(image):
    """RGB to HSV (H in degrees, 361 for greys; S and V scaled by 16384)."""
    return _convert(image, "rgb2hsv")


def hsv_to_rgb(image):
    """HSV to RGB. The library stops at the first pixel with S = 0 and a
    defined hue (printing a message on stderr): that pixel and all later ones
    come back as 0; a pixel with a hue above 360 comes back as 0 too."""
    return _convert(image, "hsv2rgb")


def rgb_to_xyz(image):
    """RGB to XYZ, 16384 as 1.0."""
    return _convert(image, "rgb2xyz")


def xyz_to_rgb(image):
    """XYZ to RGB: channels below 0.005 become 0, above 0.995 become 255."""
    return _convert(image, "xyz2rgb")


def xyz_to_lab(image):
    """XYZ to CIE L*a*b*."""
    return _convert(image, "xyz2lab")


def lab_to_xyz(image):
    """CIE L*a*b* to XYZ."""
    return _convert(image, "lab2xyz")


def xyz_to_luv(image):
    """XYZ to CIE L*u*v*. The library prints "in xyz2luv" once."""
    return _convert(image, "xyz2luv")


def luv_to_xyz(image):
    """CIE L*u*v* to XYZ; a pixel with L* = 0 becomes black."""
    return _convert(image, "luv2xyz")


def rgb_to_lab(image):
    """RGB to CIE L*a*b* through XYZ."""
    return _convert(image, "rgb2lab")


def lab_to_rgb(image):
    """CIE L*a*b* to RGB through XYZ."""
    return _convert(image, "lab2rgb")


def rgb_to_luv(image):
    """RGB to CIE L*u*v* through XYZ. The library prints "in xyz2luv" once."""
    return _convert(image, "rgb2luv")


def luv_to_rgb(image):
    """CIE L*u*v* to RGB through XYZ."""
    return _convert(image, "luv2rgb")


def rgb_to_ycbcr(image):
    """RGB to YCbCr (BT.601: full-range luma, Cb and Cr in 16..240)."""
    return _convert(image, "rgb2ycbcr")


def ycbcr_to_rgb(image):
    """YCbCr to RGB, the studio-range inverse (Y read as 16..235; not the
    exact inverse of :func:`rgb_to_ycbcr`), not clamped."""
    return _convert(image, "ycbcr2rgb")
