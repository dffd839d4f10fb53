#!/usr/bin/env python3
"""Writes a score of exactly N note symbols (default 4096) of mixed notation: register markers, accidentals,
bar lines, timbre numbers, rests, holds and triplets, quintuplets and septuplets. Code page 932, CR LF.
Also writes an ABC tune of the same number of notes, to compare with other converters."""
import sys

NOTES_PER_SET = 32
# One line set: (pitch unit, duration unit); markers, accidentals and bar lines carry no note.
PATTERN = [
    ("乙", "　"), ("ロ", "＋"), ("ツ", "３"), ("レ", "＋"), ("チ", "－"), ("｜", "｜"),
    ("ハ", "＝"), ("ハ", "＝"), ("ロ", "５"), ("○", "＝"), ("ー", "＝"), ("｜", "｜"),
    ("＃", "　"), ("チ", "＋"), ("♭", "　"), ("ハ", "＋"), ("↓", "　"), ("ヒ", "＋"), ("リ", "７"),
    ("ピ", "＋"), ("タ", "＋"), ("四", "＋"), ("｜", "｜"), ("ヰ", "－"), ("大", "　"), ("ツ", "＊"),
    ("レ", "＊"), ("チ", "＋"), ("ハ", "３"), ("｜", "｜"), ("ウ", "＋"), ("ロ", "　"), ("ツ", "－"),
    ("レ", "―"), ("チ", "＋"), ("ハ", "＋"), ("ー", "＋"), ("○", "－"),
    ("甲", "　"), ("ロ", "＋"), ("ツ", "＋"), ("レ", "－"),
]
NOTE_SYMBOLS = set("ロツレチハヒヰピタ四○ーウリ")
# A timbre number over a rest or a hold is given to no note.
HELD_OR_REST = set("○ー")


def one_set(index):
    notes = [p for p, _ in PATTERN if p in NOTE_SYMBOLS]
    assert len(notes) == NOTES_PER_SET, len(notes)
    timbre, pitch, duration = "", "", ""
    note = 0
    due = False  # a timbre number is due every 8 notes, written over the next note that sounds
    for p, d in PATTERN:
        if p in NOTE_SYMBOLS:
            due = due or note % 8 == 0
            if due and p not in HELD_OR_REST:
                timbre += "%02X" % ((index * 7 + note) % 128)
                due = False
            else:
                timbre += "  "
            note += 1
        else:
            timbre += "  "
        pitch += p
        duration += d
    return [timbre.rstrip(), pitch, duration, ""]


def main():
    notes = int(sys.argv[1]) if len(sys.argv) > 1 else 4096
    out = sys.argv[2] if len(sys.argv) > 2 else "examples/long-%d.txt" % notes
    assert notes % NOTES_PER_SET == 0
    lines = ["//%d 音のテスト用楽譜" % notes]
    for i in range(notes // NOTES_PER_SET):
        lines += one_set(i)
    with open(out, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("cp932"))
    if len(sys.argv) > 3:
        bars = " ".join("CDEF GABc | dcBA GFED |" for _ in range(notes // 16))
        with open(sys.argv[3], "w") as f:
            f.write("X:1\nT:long\nM:4/4\nL:1/8\nQ:1/4=90\nK:C\n" + bars + "\n")


main()
