"""Sphinx configuration of the documentation site.

Built by `cmake --build <build> --target docs`, which copies this folder into
the build tree and runs Sphinx there with the built package on PYTHONPATH, so
that the pages generated here (the API reference, the gallery) never land in
the source tree. The API reference is written from the package itself: one
page per family of ``foresting._FAMILIES`` listing that module's ``__all__``,
and one for any public name that no family holds, so that families and
functions added later appear without editing these files.
"""

import inspect
import pathlib
import sys

import foresting
from sphinx.util import logging

project = "foresting"
author = "the IFT toolkit's developers"
copyright = "the IFT toolkit's developers"
release = version = getattr(foresting, "__version__", "")

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.napoleon",
    "sphinx_gallery.gen_gallery",
]
exclude_patterns = ["_build", "examples", "CMakeLists.txt"]
templates_path = []
root_doc = "index"
default_role = "obj"

autodoc_member_order = "bysource"
autodoc_typehints = "none"
autosummary_generate = False
napoleon_google_docstring = False
napoleon_numpy_docstring = True

html_theme = "alabaster"
html_theme_options = {"page_width": "1100px", "sidebar_width": "230px", "fixed_sidebar": True,
                      "description": "image analysis by the image foresting transform"}
html_title = "foresting"
html_static_path = []
html_show_sourcelink = False

sphinx_gallery_conf = {
    "examples_dirs": "examples",
    "gallery_dirs": "gallery",
    # Every script is run: an example that raises fails the build.
    "filename_pattern": r".*\.py$",
    "plot_gallery": "True",
    "abort_on_example_error": False,
    "only_warn_on_example_error": False,
    "download_all_examples": False,
    "remove_config_comments": True,
    "doc_module": ("foresting",),
    "backreferences_dir": "api/backreferences",
    "reference_url": {"foresting": None},
    "min_reported_time": 10**9,
    "show_memory": False,
}


def _families():
    """(family, module) in the package's order."""
    return [(f, sys.modules[f"foresting.{f}"]) for f in foresting._FAMILIES]


class FamilyOrder:
    """Sorts the gallery by family, in the package's order, then by name."""

    def __init__(self, src_dir):
        self.src_dir = src_dir

    def __call__(self, filename):
        stem = filename[len("plot_"):] if filename.startswith("plot_") else filename
        ranks = [i for i, f in enumerate(foresting._FAMILIES) if stem.startswith(f + "_")]
        return (ranks[0] if ranks else len(foresting._FAMILIES), filename)

    def __repr__(self):
        return "FamilyOrder"


sphinx_gallery_conf["within_subsection_order"] = FamilyOrder


def _directive(obj):
    if inspect.isclass(obj):
        # A record's fields are described in its docstring; autodoc would
        # add "Alias for field number n" for each.
        fields = getattr(obj, "_fields", ())
        return "autoclass", ["   :members:"] + ([f"   :exclude-members: {', '.join(fields)}"]
                                               if fields else [])
    if callable(obj):
        return "autofunction", []
    return "autodata", ["   :annotation:"]


def _page(srcdir, title, names, module=None):
    lines = [title, "=" * len(title), ""]
    if module is not None:
        lines += [f".. automodule:: {module}", "   :noindex:", ""]
    lines += [".. currentmodule:: foresting", "", ".. autosummary::", ""]
    lines += [f"   {n}" for n in names] + [""]
    for n in names:
        directive, options = _directive(getattr(foresting, n))
        lines += [f".. {directive}:: {n}"] + options + [""]
        backrefs = pathlib.Path(srcdir) / "api" / "backreferences" / f"foresting.{n}.examples"
        if backrefs.exists() and backrefs.stat().st_size > 0:
            lines += ["   .. rubric:: Examples", "", f"   .. minigallery:: foresting.{n}", ""]
    return "\n".join(lines)


def _write_if_changed(path, text):
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def write_api_pages(srcdir):
    api = pathlib.Path(srcdir) / "api"
    api.mkdir(exist_ok=True)
    pages, seen = [], set()
    for family, module in _families():
        names = list(module.__all__)
        seen.update(names)
        _write_if_changed(api / f"{family}.rst", _page(srcdir, family, names, module.__name__))
        pages.append(family)
    others = [n for n in foresting.__all__ if n not in seen]
    if others:
        _write_if_changed(api / "other.rst", _page(srcdir, "Settings and other functions", others))
        pages.append("other")
    index = ["API reference", "=============", "",
             "Every public name of ``foresting``, one page per family. Each family is a module",
             "whose names the package re-exports, so ``foresting.area_opening`` is the name",
             "to use.", "", ".. toctree::", "   :maxdepth: 1", ""]
    index += [f"   {p}" for p in pages]
    _write_if_changed(api / "index.rst", "\n".join(index) + "\n")


# Families that hold no image operator to picture and so need no gallery
# example.
NO_GALLERY = ("settings", "threads")


def check_gallery(app):
    """Every family has at least one gallery script, plot_<family>_*.py."""
    log = logging.getLogger(__name__)
    examples = pathlib.Path(app.srcdir) / "examples"
    for family, _ in _families():
        if family not in NO_GALLERY and not list(examples.glob(f"plot_{family}_*.py")):
            log.warning(f"the gallery has no example for the family {family!r}: add "
                        f"docs/examples/plot_{family}_<what>.py, or name the family in "
                        f"NO_GALLERY in docs/conf.py if it holds no operator to picture")


def setup(app):
    # After sphinx-gallery has run the examples (same event, default
    # priority 500), so that each function's page can show the examples
    # that call it.
    app.connect("builder-inited", lambda app: write_api_pages(app.srcdir), priority=900)
    app.connect("builder-inited", check_gallery)
