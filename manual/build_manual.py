#!/usr/bin/python3
"""Builds the user manual PDF from its Markdown source.

build_manual.py SOURCE.md SCREENSHOT_DIR OUTPUT.pdf

Pictures are looked up as SCREENSHOT_DIR/<name>.png for every
"screenshots/<name>.png" the source names; a picture that is missing is left
out with a warning, so a machine without a display still gets a manual.
"""
import os
import re
import sys

import markdown
from weasyprint import CSS, HTML

STYLE = """
@page { size: A4; margin: 18mm 16mm 18mm 16mm;
        @bottom-center { content: counter(page); font-size: 9pt; color: #666; } }
body { font-family: sans-serif; font-size: 10.5pt; line-height: 1.4; }
h1 { font-size: 20pt; border-bottom: 2px solid #333; padding-bottom: 4pt; }
h2 { font-size: 14pt; margin-top: 18pt; border-bottom: 1px solid #aaa; }
h3 { font-size: 11.5pt; margin-top: 12pt; }
code, pre { font-family: monospace; font-size: 9.5pt; }
pre { background: #f2f2f2; padding: 6pt 8pt; border-radius: 3pt; }
table { border-collapse: collapse; margin: 6pt 0; }
th, td { border: 1px solid #bbb; padding: 3pt 6pt; vertical-align: top; }
th { background: #e8e8e8; }
img { max-width: 100%; border: 1px solid #888; display: block; margin: 8pt auto; }
"""


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: build_manual.py SOURCE.md SCREENSHOT_DIR OUTPUT.pdf")
    source, shots, output = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        text = f.read()

    def picture(match):
        name = match.group(2)
        path = os.path.join(shots, name)
        if not os.path.isfile(path):
            print(f"build_manual.py: {path} is missing; the manual goes without it", file=sys.stderr)
            return ""
        return f"![{match.group(1)}]({os.path.abspath(path)})"

    text = re.sub(r"!\[([^\]]*)\]\(screenshots/([^)]+)\)", picture, text)
    body = markdown.markdown(text, extensions=["tables", "fenced_code"])
    page = f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Marquen user manual</title></head><body>{body}</body></html>"
    temporary = output + ".part"
    HTML(string=page, base_url="/").write_pdf(temporary, stylesheets=[CSS(string=STYLE)])
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
