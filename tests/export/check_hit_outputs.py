#!/usr/bin/python3
"""Checks ostrel-cli's JSON Lines and CSV outputs with Python's own json and csv readers.

Usage: check_hit_outputs.py OSTREL_CLI INPUT...

Runs one scan that writes only the result file and one that also writes JSON Lines to
standard output, CSV and the HTML report, then checks: the result file is byte-identical,
every JSON line parses and has exactly the documented fields with their types, one object
per hit in the result file's order, the CSV has the same header and the same values, and
a path named twice or an input named as an output is refused with nothing touched.
Exit status 0 when all hold, 1 with the failures on stderr.
"""
import csv
import json
import os
import subprocess
import sys
import tempfile

FIELDS = ["file", "file_index", "line_number", "line", "client", "location", "subject",
          "subject_b", "matched", "status", "method", "time", "slot", "category",
          "category_zh", "category_en", "layout"]
NUMBERS = {"file_index", "line_number", "slot"}
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def scan(cli, *args, cwd=None):
    return subprocess.run([cli, "scan", "-q", "--type", "auto", *args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False, cwd=cwd)


def main():
    cli, inputs = os.path.abspath(sys.argv[1]), [os.path.abspath(p) for p in sys.argv[2:]]
    with tempfile.TemporaryDirectory() as tmp:
        plain = os.path.join(tmp, "plain.log")
        result = os.path.join(tmp, "1.log")
        hits_csv = os.path.join(tmp, "hits.csv")
        scan(cli, "-o", plain, *inputs)
        run = scan(cli, "-o", result, "--jsonl", "-", "--csv", hits_csv, "--report",
                   os.path.join(tmp, "r.html"), *inputs)
        check(run.returncode == 0, f"scan exit {run.returncode}: {run.stderr.decode()}")
        with open(plain, "rb") as a, open(result, "rb") as b:
            result_bytes = b.read()
            check(a.read() == result_bytes, "the result file differs with the new outputs")
        result_lines = result_bytes.decode("utf-8").split("\r\n")[1:-1]

        objects = []
        for number, line in enumerate(run.stdout.decode("utf-8").split("\n")[:-1], 1):
            try:
                objects.append(json.loads(line))
            except json.JSONDecodeError as error:
                failures.append(f"JSON line {number}: {error}")
        check(len(objects) == len(result_lines) > 0,
              f"{len(objects)} JSON objects for {len(result_lines)} hits")
        for number, obj in enumerate(objects, 1):
            check(list(obj) == FIELDS, f"JSON line {number} fields: {list(obj)}")
            for name, value in obj.items():
                wanted = int if name in NUMBERS else str
                check(type(value) is wanted, f"JSON line {number}: {name} is {type(value)}")
            if number <= len(result_lines):
                check(obj.get("line") == result_lines[number - 1],
                      f"JSON line {number}: line is not the result file's line")
            check(obj.get("slot", 0) >= 1, f"JSON line {number}: slot {obj.get('slot')}")

        with open(hits_csv, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f, strict=True))
        check(rows and rows[0] == FIELDS, f"CSV header {rows[:1]}")
        check(len(rows) - 1 == len(objects), f"{len(rows) - 1} CSV rows, {len(objects)} JSON")
        for number, (row, obj) in enumerate(zip(rows[1:], objects), 1):
            check(row == [str(value) for value in obj.values()], f"CSV row {number} differs")
        check(any('"' in v and "," in v for row in rows for v in row),
              "no CSV value with a quote and a comma: the fixture lost its hostile line")

        # --format csv writes the same rows to -o and no result file.
        only_csv = os.path.join(tmp, "only.csv")
        run = scan(cli, "--format", "csv", "-o", only_csv, *inputs)
        with open(only_csv, "rb") as a, open(hits_csv, "rb") as b:
            check(a.read() == b.read(), "--format csv differs from --csv")

        # Refusals: nothing is written, the input keeps its bytes.
        with open(inputs[-1], "rb") as f:
            original = f.read()
        copy = os.path.join(tmp, "input.log")
        with open(copy, "wb") as f:
            f.write(original)
        for args in (["--jsonl", copy], ["--report", copy], ["--csv", "x.csv", "--jsonl",
                                                             "./x.csv"],
                     ["-o", "-", "--jsonl", "-"], ["--format", "jsonl", "--xlsx", "x.xlsx"]):
            run = scan(cli, *args, copy, cwd=tmp)
            check(run.returncode == 2, f"{args}: exit {run.returncode}, not refused")
            with open(copy, "rb") as f:
                check(f.read() == original, f"{args}: the input was changed")
        check(not os.path.exists(os.path.join(tmp, "x.csv")), "a refused scan wrote x.csv")

    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
