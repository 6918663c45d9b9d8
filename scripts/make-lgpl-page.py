#!/usr/bin/env python3
"""Makes resources/Licenses/lgpl.html, an HTML fragment, from Debian's copy of the LGPL v3
(/usr/share/common-licenses/LGPL-3, package base-files): a centred heading, then one paragraph
per block of the licence text, lines ending in CR LF."""
import html
import pathlib
import sys

source = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "/usr/share/common-licenses/LGPL-3")
target = pathlib.Path(__file__).resolve().parent.parent / "resources" / "Licenses" / "lgpl.html"

blocks = [b.strip("\n") for b in source.read_text().split("\n\n") if b.strip()]
out = ['<h3 align="center">GNU LESSER GENERAL PUBLIC LICENSE</h3>',
       '<p align="center">Version 3, 29 June 2007</p>']
for block in blocks[1:]:
    lines = [html.escape(line.strip()) for line in block.split("\n")]
    out.append("<p>" + " ".join(lines) + "</p>")
target.write_bytes(("\r\n".join(out) + "\r\n").encode("utf-8"))
