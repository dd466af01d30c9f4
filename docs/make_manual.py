#!/usr/bin/env python3
"""Turns the manual's plain-text source into groff -ms input (for the PDF)
and into RTF.

Source markup, one block per line (blank lines separate nothing else):
  = Title            ~ Subtitle
  == Chapter         === Section          (numbered in both outputs)
  ! Warning paragraph (boxed)
  - Bullet item      1. Numbered item
  Term:: Description (a definition)
  anything else      a paragraph
Inline: **bold**. The source is ASCII.

Usage: make_manual.py SOURCE OUT.ms OUT.rtf
"""
import re
import sys


def parse(lines):
    """Blocks as (kind, data) tuples."""
    blocks = []
    for raw in lines:
        line = raw.rstrip("\n")
        if not line.strip():
            continue
        if line.startswith("=== "):
            blocks.append(("section", line[4:]))
        elif line.startswith("== "):
            blocks.append(("chapter", line[3:]))
        elif line.startswith("= "):
            blocks.append(("title", line[2:]))
        elif line.startswith("~ "):
            blocks.append(("subtitle", line[2:]))
        elif line.startswith("! "):
            blocks.append(("warning", line[2:]))
        elif line.startswith("- "):
            blocks.append(("bullet", line[2:]))
        elif re.match(r"\d+\. ", line):
            number, text = line.split(" ", 1)
            blocks.append(("numbered", (number, text)))
        elif ":: " in line:
            term, text = line.split(":: ", 1)
            blocks.append(("definition", (term, text)))
        else:
            blocks.append(("paragraph", line))
    return blocks


def numbering(blocks):
    """Chapter and section numbers, "1" and "1.2", in block order."""
    chapter = section = 0
    numbers = []
    for kind, _ in blocks:
        if kind == "chapter":
            chapter, section = chapter + 1, 0
            numbers.append("%d" % chapter)
        elif kind == "section":
            section += 1
            numbers.append("%d.%d" % (chapter, section))
        else:
            numbers.append(None)
    return numbers


# --- groff -ms -------------------------------------------------------------

def roff_text(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fP", text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def to_roff(blocks):
    out = [
        ".\\\" Generated from manual_live.txt by make_manual.py; edit the source.",
        ".nr PS 11", ".nr VS 14", ".nr PD 0.5v", ".nr HM 0.8i", ".nr FM 0.8i",
        ".nr LL 6.3i", ".nr PO 1.0i",
        ".ds CH", ".ds CF \\(em % \\(em", ".ds LF Harnwick Live", ".ds RF User manual",
    ]
    numbers = numbering(blocks)
    for (kind, data), number in zip(blocks, numbers):
        if kind == "title":
            out += [".TL", ".ps +8", roff_text(data), ".ps"]
        elif kind == "subtitle":  # still inside the title block, so centred like it
            out += [".sp 0.5", ".ps 14", "\\fI%s\\fP" % roff_text(data), ".ps", ".sp 2"]
        elif kind in ("chapter", "section"):
            size = "+4" if kind == "chapter" else "+1"
            out += [".SH", ".ps %s" % size, "%s  %s" % (number, roff_text(data)), ".ps"]
        elif kind == "paragraph":
            out += [".PP", roff_text(data)]
        elif kind == "warning":
            out += [".B1", ".LP", "\\fBWarning:\\fP %s" % roff_text(data), ".B2"]
        elif kind == "bullet":
            out += [".IP \\(bu 2n", roff_text(data)]
        elif kind == "numbered":
            out += [".IP %s 3n" % data[0], roff_text(data[1])]
        elif kind == "definition":
            out += [".IP \"\\fB%s\\fP\" 3n" % roff_text(data[0]).replace('"', '\\(dq'), ".br", roff_text(data[1])]
    return "\n".join(out) + "\n"


# --- RTF -------------------------------------------------------------------

def rtf_text(text):
    text = text.replace("\\", "\\\\").replace("{", "\\{").replace("}", "\\}")
    text = re.sub(r"\*\*(.+?)\*\*", r"{\\b \1}", text)
    return "".join(c if ord(c) < 128 else "\\'%02x" % ord(c) for c in text)


BODY = "\\f0\\fs22"


def to_rtf(blocks):
    out = [
        "{\\rtf1\\ansi\\ansicpg1252\\deff0",
        "{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}{\\f1\\fswiss\\fcharset0 Arial;}}",
        "{\\info{\\title Harnwick Live user manual}}",
        "\\paperw11906\\paperh16838\\margl1440\\margr1440\\margt1200\\margb1200",
    ]
    numbers = numbering(blocks)
    for (kind, data), number in zip(blocks, numbers):
        if kind == "title":
            out.append("\\pard\\qc\\sb600\\sa120\\f1\\fs48\\b %s\\b0\\par" % rtf_text(data))
        elif kind == "subtitle":
            out.append("\\pard\\qc\\sa480\\f1\\fs28\\i %s\\i0\\par" % rtf_text(data))
        elif kind == "chapter":
            out.append("\\pard\\keepn\\sb360\\sa120\\f1\\fs32\\b %s  %s\\b0\\par" % (number, rtf_text(data)))
        elif kind == "section":
            out.append("\\pard\\keepn\\sb240\\sa80\\f1\\fs24\\b %s  %s\\b0\\par" % (number, rtf_text(data)))
        elif kind == "paragraph":
            out.append("\\pard\\sa120%s %s\\par" % (BODY, rtf_text(data)))
        elif kind == "warning":
            out.append("\\pard\\sa120\\box\\brdrs\\brdrw15\\brsp80%s {\\b Warning:} %s\\par" % (BODY, rtf_text(data)))
        elif kind == "bullet":
            out.append("\\pard\\fi-240\\li480\\tx480\\sa60%s \\bullet\\tab %s\\par" % (BODY, rtf_text(data)))
        elif kind == "numbered":
            out.append("\\pard\\fi-360\\li480\\tx480\\sa60%s %s\\tab %s\\par" % (BODY, data[0], rtf_text(data[1])))
        elif kind == "definition":
            out.append("\\pard\\keepn\\sa0%s {\\b %s}\\par" % (BODY, rtf_text(data[0])))
            out.append("\\pard\\li480\\sa120%s %s\\par" % (BODY, rtf_text(data[1])))
    out.append("}")
    return "\r\n".join(out) + "\r\n"


def main():
    source, roff_path, rtf_path = sys.argv[1:4]
    with open(source, encoding="ascii") as f:
        blocks = parse(f.readlines())
    with open(roff_path, "w", encoding="ascii") as f:
        f.write(to_roff(blocks))
    with open(rtf_path, "w", encoding="ascii", newline="") as f:
        f.write(to_rtf(blocks))


if __name__ == "__main__":
    main()
