"""The drawing inside a page that `quorb view` writes, for renderers that take SVG alone."""


def drawing_of(page):
    """The page's <svg> element, which quorb view puts on lines of its own."""
    assert page.startswith("<!DOCTYPE html>\n"), page[:40]
    start, end = page.index("\n<svg ") + 1, page.index("\n</svg>\n") + len("\n</svg>\n")
    return page[start:end]
