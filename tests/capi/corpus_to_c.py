"""Writes the card corpus (tests/corpus/cards.json) as C data for the C
interface test, so that a plain C program runs every case without a JSON
reader of its own.

usage: corpus_to_c.py cards.json out.h
"""
import json
import sys


def c_string(text):
    """A C string literal holding the UTF-8 of text; octal escapes keep
    every byte exact whatever follows it."""
    out = ['"']
    for byte in text.encode("utf-8", "surrogatepass"):
        ch = chr(byte)
        if ch in '"\\' or byte < 0x20 or byte >= 0x7F or ch == "?":
            out.append("\\%03o" % byte)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def c_text(text):
    """A (pointer, byte length) initialiser."""
    return "%s, %d" % (c_string(text), len(text.encode("utf-8", "surrogatepass")))


def main(source, target):
    with open(source, encoding="utf-8") as f:
        cases = json.load(f)["cases"]
    if not cases:
        sys.exit("corpus_to_c: no cases in " + source)
    lines = ["/* Generated from %s by corpus_to_c.py; do not edit. */" % source.split("/")[-1]]
    for i, case in enumerate(cases):
        lines.append("static const struct corpus_set corpus_set_%d[] = {" % i)
        for name, value in case["set"]:
            if isinstance(value, str):
                lines.append("  {%s, %s, 0}," % (c_string(name), c_text(value)))
            else:
                lines.append("  {%s, NULL, 0, %d}," % (c_string(name), value))
        lines.append("  {NULL, NULL, 0, 0}};")
        lines.append("static const struct corpus_text corpus_card_%d[] = {" % i)
        for line in case.get("card", []):
            lines.append("  {%s}," % c_text(line))
        lines.append("  {NULL, 0}};")
    lines.append("static const struct corpus_case corpus_cases[] = {")
    for i, case in enumerate(cases):
        status = case.get("status")
        lines.append(
            "  {%s, corpus_set_%d, corpus_card_%d, %s, (qv_status)%s, {%s}},"
            % (
                c_string(case["name"]),
                i,
                i,
                "1" if "card" in case else "0",
                status if status else "0",
                c_text(case["vCardFileName"]),
            )
        )
    lines.append("};")
    lines.append("#define CORPUS_CASE_COUNT %d" % len(cases))
    with open(target, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
