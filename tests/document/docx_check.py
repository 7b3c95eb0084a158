#!/usr/bin/python3
"""Reads a .docx with python-docx, an independent reader, and prints what a reader sees as JSON."""
import hashlib
import json
import sys

import docx


def paragraph_facts(paragraph):
    return {
        "text": paragraph.text,
        "alignment": None if paragraph.alignment is None else int(paragraph.alignment),
        "sizes": [run.font.size.pt if run.font.size is not None else None
                  for run in paragraph.runs if run.text],
        "colours": [str(run.font.color.rgb) if run.font.color.type is not None else None
                    for run in paragraph.runs if run.text],
    }


def main(path):
    document = docx.Document(path)
    section = document.sections[0]
    shapes = document.inline_shapes
    pictures = []
    for shape in shapes:
        blip = shape._inline.graphic.graphicData.pic.blipFill.blip
        part = document.part.related_parts[blip.embed]
        pictures.append({
            "width": int(shape.width),
            "height": int(shape.height),
            "sha256": hashlib.sha256(part.blob).hexdigest(),
            "linked": blip.link is not None,
        })
    facts = {
        "header": [paragraph_facts(p) for p in section.header.paragraphs],
        "footer": [paragraph_facts(p) for p in section.footer.paragraphs],
        "body": [paragraph_facts(p) for p in document.paragraphs],
        "pictures": pictures,
        "pageWidth": int(section.page_width),
        "pageHeight": int(section.page_height),
        "textWidth": int(section.page_width - section.left_margin - section.right_margin),
        "coreTitle": document.core_properties.title,
    }
    json.dump(facts, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
