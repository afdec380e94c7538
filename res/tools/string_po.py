#!/usr/bin/env python3
"""The string tables as gettext catalogues, for translators' tools.

    string_po.py export LANG          writes res/strings/LANG.tsv as a .po
                                      catalogue on standard output
    string_po.py import LANG FILE.po  writes the catalogue's translations
                                      back into res/strings/LANG.tsv

Each entry's context is the string id, its msgid the English text, its
msgstr the translation; comments before an id in the table travel as
translator comments. The TSV tables stay what the program ships; an import
keeps their comments and order and refuses a catalogue whose texts lack an
id, or whose conversions differ from the English text's (a translation may
reorder them with %1$s, %2$s, ...).
"""
import os
import re
import sys
from pathlib import Path

# The tables' folder; HALVORIN_STRINGS_DIR points elsewhere (the tests' copy).
STRINGS = Path(os.environ.get("HALVORIN_STRINGS_DIR",
                              Path(__file__).resolve().parent.parent / "strings"))
CONVERSION = re.compile(r"%(?:([1-9][0-9]*)\$)?([-0-9.]*[sdiuxXc%])")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t", "\\": "\\"}.get(m.group(1), m.group(0)), text)


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def read_table(language):
    """[(comments, id, text)] in the table's order, and the comments at its end."""
    entries, comments = [], []
    for line in (STRINGS / f"{language}.tsv").read_text(encoding="utf-8").split("\n"):
        if line.startswith("#") or not line.strip():
            comments.append(line)
            continue
        number, text = line.split("\t", 1)
        entries.append((comments, int(number), unescape(text)))
        comments = []
    return entries, comments


def conversions(text):
    found, following = {}, 0
    for position, conversion in CONVERSION.findall(text):
        if conversion == "%":
            continue
        index = int(position) - 1 if position else following
        following += 0 if position else 1
        found[index] = conversion
    return found


def po_string(text):
    quoted = text.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t")
    lines = quoted.split("\n")
    parts = [line + "\\n" for line in lines[:-1]] + [lines[-1]]
    if len(parts) == 1:
        return f'"{parts[0]}"'
    return '""\n' + "\n".join(f'"{p}"' for p in parts if p)


def export(language):
    english = {number: text for _, number, text in read_table("en")[0]}
    entries, _ = read_table(language)
    out = ['msgid ""\nmsgstr ""\n"Project-Id-Version: Halvorin\\n"\n"PO-Revision-Date: \\n"\n'
           '"Last-Translator: \\n"\n"Language-Team: \\n"\n"MIME-Version: 1.0\\n"\n'
           '"Content-Type: text/plain; charset=UTF-8\\n"\n"Content-Transfer-Encoding: 8bit\\n"\n'
           f'"Language: {language}\\n"\n']
    for comments, number, text in entries:
        notes = [c.lstrip("# ").rstrip() for c in comments if c.startswith("#")]
        block = "".join(f"#. {n}\n" for n in notes if n)
        block += f'msgctxt "{number}"\nmsgid {po_string(english.get(number, text))}\n'
        block += f"msgstr {po_string(text)}\n"
        out.append(block)
    sys.stdout.write("\n".join(out))


def po_unquote(pieces):
    text = "".join(pieces)
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}.get(m.group(1), m.group(0)), text)


def read_po(path):
    translations, field, values = {}, None, {}
    def flush():
        if "msgctxt" in values and "msgstr" in values:
            translations[int(po_unquote(values["msgctxt"]))] = po_unquote(values["msgstr"])
    for line in Path(path).read_text(encoding="utf-8").split("\n"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        match = re.match(r'(msgctxt|msgid|msgstr)\s+"(.*)"$', line)
        if match:
            if match.group(1) == "msgctxt" or (match.group(1) == "msgid" and "msgctxt" not in values):
                flush()
                values = {}
            field = match.group(1)
            values[field] = [match.group(2)]
        elif line.startswith('"') and field:
            values[field].append(line[1:-1])
    flush()
    return translations


def import_po(language, path):
    english = {number: text for _, number, text in read_table("en")[0]}
    entries, tail = read_table(language)
    translations = read_po(path)
    problems = []
    for _, number, _ in entries:
        if number not in translations or not translations[number]:
            problems.append(f"{number}: no translation")
        elif conversions(translations[number]) != conversions(english.get(number, "")):
            problems.append(f"{number}: conversions differ from the English text's")
    if problems:
        sys.exit(f"{path}: " + "; ".join(problems))
    lines = []
    for comments, number, _ in entries:
        lines += comments
        lines.append(f"{number}\t{escape(translations[number])}")
    (STRINGS / f"{language}.tsv").write_text("\n".join(lines + tail), encoding="utf-8")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "export":
        export(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "import":
        import_po(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
