#!/usr/bin/python3
"""Makes the page twice from its sources, the built module and the pictures:
one self-contained file (the module with its WebAssembly, the scripts, the
styles and the pictures inlined as data URLs) and a folder of separate files.

The map picture goes in as lossless WebP, the car sheet and the storm as PNG
with their key colour, pure red, made transparent (as the window's loader
does): the same pixels in a fraction of the bytes of the BMP files."""

import argparse
import base64
import io
import os
import shutil
import sys

from PIL import Image

PLACES = ("<!--STYLE-->", "<!--PICTURES-->", "<!--MODULE-->", "<!--SCRIPT-->")


def pictures(data):
    """name -> (file name, MIME type, bytes)"""
    out = {}
    with Image.open(os.path.join(data, "map.bmp")) as im:
        buffer = io.BytesIO()
        im.convert("RGB").save(buffer, "WEBP", lossless=True, quality=100, method=4)
        out["map"] = ("map.webp", "image/webp", buffer.getvalue())
    for name in ("car", "storm"):
        with Image.open(os.path.join(data, name + ".bmp")) as im:
            rgba = im.convert("RGBA")
            rgba.putdata([(r, g, b, 0 if (r, g, b) == (255, 0, 0) else 255)
                          for (r, g, b, _) in rgba.getdata()])
            buffer = io.BytesIO()
            rgba.save(buffer, "PNG", optimize=True)
            out[name] = (name + ".png", "image/png", buffer.getvalue())
    return out


def inline_script(text, what):
    if "</script" in text.lower():
        sys.exit(f"pack_page.py: {what} holds </script and cannot be inlined")
    return "<script>\n" + text + "\n</script>"


def pictures_script(urls):
    entries = ",\n".join(f'  {name}: "{url}"' for name, url in urls.items())
    return "const MAROVEL_PICTURES = {\n" + entries + "\n};"


def main():
    a = argparse.ArgumentParser(description=__doc__)
    for option in ("source", "data", "single", "module", "out", "site"):
        a.add_argument("--" + option, required=True)
    args = a.parse_args()

    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    template = read(os.path.join(args.source, "page.html"))
    for place in PLACES:
        if template.count(place) != 1:
            sys.exit(f"pack_page.py: page.html must hold {place} once")
    style = read(os.path.join(args.source, "page.css"))
    script = read(os.path.join(args.source, "page.js"))
    pics = pictures(args.data)

    def fill(parts):
        text = template
        for place, part in zip(PLACES, parts):
            text = text.replace(place, part)
        return text

    urls = {name: f"data:{mime};base64," + base64.b64encode(data).decode("ascii")
            for name, (_, mime, data) in pics.items()}
    single = fill(["<style>\n" + style + "\n</style>",
                   inline_script(pictures_script(urls), "the pictures"),
                   inline_script(read(args.single), "the module"),
                   inline_script(script, "page.js")])
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(single)

    os.makedirs(args.site, exist_ok=True)
    for name, (file, _, data) in pics.items():
        with open(os.path.join(args.site, file), "wb") as f:
            f.write(data)
    module_dir = os.path.dirname(args.module)
    for file in ("marovel.js", "marovel.wasm"):
        shutil.copyfile(os.path.join(module_dir, file), os.path.join(args.site, file))
    for file in ("page.css", "page.js"):
        shutil.copyfile(os.path.join(args.source, file), os.path.join(args.site, file))
    site = fill(['<link rel="stylesheet" href="page.css">',
                 "<script>\n" + pictures_script({n: f for n, (f, _, _) in pics.items()})
                 + "\n</script>",
                 '<script src="marovel.js"></script>',
                 '<script src="page.js"></script>'])
    with open(os.path.join(args.site, "index.html"), "w", encoding="utf-8") as f:
        f.write(site)


if __name__ == "__main__":
    main()
