"""docs/performance.csv, the one home of the speed figures the site shows
(the performance page's table, the gallery's bar charts), agrees with
itself and with bench/RESULTS.md.

Each figure is a number as measured and rounded, or a range ``lo–hi`` over
runs.  A ratio must be peer_s / bsbasis_s to the rounding of the three
figures: a number written with d decimals stands for any value within
half a unit of its last place.  For ranges the ratio's ends must lie
within the quotients the time ranges allow."""
import csv
import pathlib
import re
from decimal import Decimal

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
CSV = ROOT / "docs" / "performance.csv"
RESULTS = ROOT / "bench" / "RESULTS.md"
COLUMNS = ["host", "call", "peer", "peer_call", "bsbasis_s", "peer_s", "ratio", "source"]
NUMBER = re.compile(r"^\d+(\.\d+)?$")

if not (CSV.is_file() and RESULTS.is_file()):
    pytest.skip("no docs/performance.csv and bench/RESULTS.md beside this copy",
                allow_module_level=True)


def rows():
    with open(CSV, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def row_id(row):
    return "%s: %s vs %s" % (row["host"], row["call"], row["peer"])


ROWS = rows()


def bounds(text):
    """(low, high) of the values a figure stands for: a number within half
    a unit of its last place, a range 'lo–hi' from lo's low to hi's high."""
    ends = text.split("–")
    assert 1 <= len(ends) <= 2, "not a number or a range lo–hi: %r" % text
    for end in ends:
        assert NUMBER.match(end), "not a plain decimal number: %r in %r" % (end, text)
    half = [Decimal(5).scaleb(Decimal(e).as_tuple().exponent - 1) for e in ends]
    lo, hi = Decimal(ends[0]) - half[0], Decimal(ends[-1]) + half[-1]
    assert Decimal(ends[0]) <= Decimal(ends[-1]), "range lo–hi with lo > hi: %r" % text
    return lo, hi


def headings():
    text = RESULTS.read_text(encoding="utf-8")
    return re.findall(r"^#{1,6} (.+?)\s*$", text, re.M)


def section(heading):
    """The text of RESULTS.md under `heading`, up to the next heading."""
    text = RESULTS.read_text(encoding="utf-8")
    m = re.search(r"^#{1,6} %s\s*$(.*?)(?=^#{1,6} |\Z)" % re.escape(heading), text, re.M | re.S)
    return m.group(1)


def test_columns():
    with open(CSV, newline="", encoding="utf-8") as f:
        assert next(csv.reader(f)) == COLUMNS


def test_some_rows():
    assert len(ROWS) >= 10
    assert {r["host"] for r in ROWS} >= {"Python", "R"}


@pytest.mark.parametrize("row", ROWS, ids=row_id)
def test_no_empty_field(row):
    assert None not in row, "more fields than columns"
    empty = [c for c in COLUMNS if row[c] is None or not row[c].strip()]
    assert not empty, "empty: %s" % ", ".join(empty)


@pytest.mark.parametrize("row", ROWS, ids=row_id)
def test_ratio_is_peer_over_bsbasis(row):
    b_lo, b_hi = bounds(row["bsbasis_s"])
    p_lo, p_hi = bounds(row["peer_s"])
    bounds(row["ratio"])  # a number, or a range lo–hi with lo <= hi
    assert b_lo > 0, "a time of zero"
    # The quotients the times allow: each end of the ratio (the one
    # number, or both ends of a range), within its rounding, must meet them.
    q_lo, q_hi = p_lo / b_hi, p_hi / b_lo
    for end in row["ratio"].split("–"):
        e_lo, e_hi = bounds(end)
        assert e_hi >= q_lo and e_lo <= q_hi, \
            "ratio %s, but peer_s / bsbasis_s lies in [%.4g, %.4g]" % (row["ratio"], q_lo, q_hi)


@pytest.mark.parametrize("row", ROWS, ids=row_id)
def test_source_is_a_heading_of_results(row):
    assert row["source"] in headings(), \
        "no heading %r in bench/RESULTS.md" % row["source"]


@pytest.mark.parametrize("row", ROWS, ids=row_id)
def test_times_appear_in_their_section(row):
    """Each time, in seconds here, is written in its section of RESULTS.md
    in seconds or in milliseconds: a figure copied wrong, or taken from
    another section, fails."""
    if row["source"] not in headings():
        pytest.skip("no such section")
    numbers = {Decimal(n) for n in re.findall(r"\d+(?:\.\d+)?", section(row["source"]))}
    for column in ("bsbasis_s", "peer_s"):
        for end in row[column].split("–"):
            value = Decimal(end)
            assert value in numbers or value * 1000 in numbers, \
                "%s = %s: neither %s s nor %s ms is in the section %r" % (
                    column, row[column], end, (value * 1000).normalize(), row["source"])
