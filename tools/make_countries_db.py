#!/usr/bin/python3
"""Builds resources/countries.db, the country library compiled into the program.

Run by hand when the data should be refreshed; the build only uses the
committed file. Debian's own python3 is meant (it finds python3-babel).

Data sources (installed in a scratch place, never needed by the build):
  - Debian iso-codes (/usr/share/iso-codes/json/iso_3166-1.json):
    two-letter codes and English country names (the common name where the
    standard name is a long official one).
  - npm libphonenumber-js (metadata.max.json, examples.mobile.json):
    calling codes, national trunk prefixes, mobile number patterns in
    national form, the national lengths of mobile numbers, and one sample
    mobile number per country that the patterns are checked against.
  - npm mcc-mnc-list (mcc-mnc-list.json, the public list of mobile
    networks): which country each mobile country code serves. An MCC is
    given to the country that has most of its networks; codes that several
    territories share officially are settled in SHARED_MCC_OWNER.
  - Debian mobile-broadband-provider-info (serviceproviders.xml): only a
    cross-check; disagreements with the network list are printed.
  - Debian python3-babel (CLDR): each country's name in its first official
    language (column ln); the English name where CLDR knows none.

    apt-get install iso-codes mobile-broadband-provider-info python3-babel
    (cd /tmp/pn && npm install libphonenumber-js mcc-mnc-list)
    /usr/bin/python3 tools/make_countries_db.py --npm /tmp/pn/node_modules

The committed file was built from iso-codes 4.15.0, libphonenumber-js
1.13.18, mcc-mnc-list 1.1.11, mobile-broadband-provider-info 20230416-1 and
python3-babel 2.10.3.

It also writes tests/core/data/countries_mobile_samples.tsv: one sample
mobile number per row whose pattern came from the numbering data, so that
the tests can check each stored pattern the way the program runs it.

The rows in FIXED_ROWS are kept exactly as they are whatever the sources
say: the program and its tests rely on them.
"""

import argparse
import collections
import json
import os
import re
import sqlite3
import sys
import xml.etree.ElementTree as ET

from babel import Locale
from babel.languages import get_official_languages

ISO_JSON = "/usr/share/iso-codes/json/iso_3166-1.json"
MBPI_XML = "/usr/share/mobile-broadband-provider-info/serviceproviders.xml"

# Rows whose values are fixed (None: taken from the sources like any row).
# sn: (n, pnum, mmc, numc, r1)
FIXED_ROWS = {
    "IN": ("India", "91", "404,405", "10", r"[7-9]\d{9}"),
    "FR": ("France", "33", "208", "9", r"63[0-8]\d{6}|69[157-9]\d{6}|6[0-24-8]\d{7}|7[5-9]\d{7}"),
    "CN": ("China", "86", "460", "11", r"1(?:3\d|4[57]|[58][0-35-9])\d{8}|184\d{8}"),
    "GB": ("United Kingdom", "44", "234,235", "10", None),
    "DE": ("Germany", "49", "262", "7,8,9,10,11,12", None),
    "AC": ("Ascension Island", "247", "999", "4", ""),
    "AX": ("\u00c5land Islands", "358", "999", "6,7,8,9,10,11", None),
    "GG": ("Guernsey", "44", "234,235", "10", None),
}
# mmc_sn rows that are fixed the same way.
FIXED_MCC = {"262": "DE", "234": "GB", "235": "GB", "404": "IN", "405": "IN", "999": "AX"}

# Codes that the network list shows in use by several territories: the
# territory the code is assigned to (for the French Antilles, the Dutch
# Caribbean, Australia with its islands and Reunion with Mayotte the first of
# the group that owns the shared calling code).
SHARED_MCC_OWNER = {
    "340": "GP",
    "362": "CW",
    "505": "AU",
    "647": "RE",
}
# Uses of a foreign code that are not listed under the user's country.
IGNORED_USES = {("MD", "255"), ("RU", "255")}

# Codes left to no country: test, international and satellite networks.
NON_GEOGRAPHIC_MCC = {"001", "901", "902", "991"}

# Territories that have a calling code and an assigned MCC but no national
# network in the list (995 is listed among the international codes); their
# code from the ITU's list of mobile country codes.
ASSIGNED_WITHOUT_NETWORK = {
    "IO": ["995"],
    "TA": ["658"],
    "VA": ["225"],
}

# Regions of the numbering data that ISO 3166-1 does not list.
EXTRA_NAMES = {"AC": "Ascension Island", "TA": "Tristan da Cunha", "XK": "Kosovo"}


def load_iso_names():
    names = {}
    with open(ISO_JSON, encoding="utf-8") as f:
        for e in json.load(f)["3166-1"]:
            names[e["alpha_2"]] = e.get("common_name") or e["name"]
    return names


def load_numbering(npm):
    base = os.path.join(npm, "libphonenumber-js")
    with open(os.path.join(base, "metadata.max.json"), encoding="utf-8") as f:
        meta = json.load(f)
    with open(os.path.join(base, "examples.mobile.json"), encoding="utf-8") as f:
        examples = json.load(f)
    out = {}
    for sn, v in meta["countries"].items():
        general_lengths = v[3] or []
        types = v[11] if len(v) > 11 and v[11] else []
        fixed = types[0] if len(types) > 0 and types[0] else None
        mobile = types[1] if len(types) > 1 and types[1] else None
        pattern, lengths = "", general_lengths
        if mobile:
            pattern = mobile[0]
            lengths = mobile[1] if len(mobile) > 1 and mobile[1] else general_lengths
            if pattern == "" and fixed:
                # Fixed and mobile numbers cannot be told apart here.
                pattern = fixed[0]
                lengths = fixed[1] if len(fixed) > 1 and fixed[1] else general_lengths
        out[sn] = {
            "pnum": v[0],
            "prefix": v[5] if isinstance(v[5], str) else "",
            "r1": pattern,
            "numc": ",".join(str(n) for n in lengths),
            "example": examples.get(sn, ""),
        }
    return out


def load_network_mccs(npm):
    with open(os.path.join(npm, "mcc-mnc-list", "mcc-mnc-list.json"), encoding="utf-8") as f:
        nets = json.load(f)
    votes = collections.defaultdict(collections.Counter)
    for e in nets:
        if e.get("type") != "National" or not e.get("countryCode") or not e.get("mcc"):
            continue
        if e["mcc"] in NON_GEOGRAPHIC_MCC:
            continue
        for sn in e["countryCode"].split("/"):
            if (sn, e["mcc"]) not in IGNORED_USES:
                votes[e["mcc"]][sn] += 1
    return votes


def load_mbpi_mccs():
    pairs = set()
    for c in ET.parse(MBPI_XML).getroot().findall("country"):
        for n in c.iter("network-id"):
            pairs.add((c.get("code").upper(), n.get("mcc")))
    return pairs


def native_name(sn, english):
    for lang in get_official_languages(sn, de_facto=True):
        try:
            name = Locale.parse(lang).territories.get(sn)
        except Exception:  # a language CLDR has no locale data for
            name = None
        if name:
            return name
    return english


def check_pattern(sn, pattern, example):
    if not pattern:
        return
    rx = re.compile(pattern)
    if example and not rx.fullmatch(example):
        sys.exit("%s: sample %s does not match its pattern" % (sn, example))


def build(npm, out_path, samples_path):
    iso = load_iso_names()
    numbering = load_numbering(npm)
    votes = load_network_mccs(npm)

    owner = {}
    for mcc, c in votes.items():
        if mcc in SHARED_MCC_OWNER:
            owner[mcc] = SHARED_MCC_OWNER[mcc]
            continue
        ranked = c.most_common()
        if len(ranked) > 1 and ranked[0][1] == ranked[1][1]:
            sys.exit("MCC %s is shared evenly by %s: settle it in SHARED_MCC_OWNER" % (mcc, ranked))
        owner[mcc] = ranked[0][0]
    for sn, mccs in ASSIGNED_WITHOUT_NETWORK.items():
        for mcc in mccs:
            owner.setdefault(mcc, sn)
    owner.update(FIXED_MCC)

    own = collections.defaultdict(set)
    used = collections.defaultdict(set)
    for mcc, sn in owner.items():
        own[sn].add(mcc)
    for mcc, c in votes.items():
        for sn in c:
            used[sn].add(mcc)
    for sn, mccs in ASSIGNED_WITHOUT_NETWORK.items():
        used[sn].update(mccs)

    for sn, mcc in sorted(load_mbpi_mccs()):
        if mcc not in used.get(sn, set()) and mcc not in NON_GEOGRAPHIC_MCC:
            print("note: provider database lists MCC %s for %s; the network list does not" % (mcc, sn))

    rows = []
    samples = []
    for sn in sorted(numbering):
        num = numbering[sn]
        n = iso.get(sn) or EXTRA_NAMES.get(sn)
        if not n:
            sys.exit("%s: no English name" % sn)
        mine = sorted(own.get(sn, ()))
        shared = sorted(used.get(sn, set()) - set(mine))
        mmc = ",".join(mine + shared)
        row = {
            "sn": sn, "ln": native_name(sn, n), "pnum": num["pnum"], "mmc": mmc,
            "numc": num["numc"], "u2": num["prefix"], "r1": num["r1"],
            "r2": "", "r3": "", "r4": "", "mnc_rx": "", "n": n,
        }
        fixed = FIXED_ROWS.get(sn)
        if fixed:
            for key, value in zip(("n", "pnum", "mmc", "numc", "r1"), fixed):
                if value is not None:
                    row[key] = value
        if not row["mmc"]:
            print("skipped %s (%s): no mobile country code" % (sn, n))
            continue
        sample = num["example"] if row["r1"] and row["r1"] == num["r1"] else ""
        check_pattern(sn, row["r1"], sample)
        if sample:
            samples.append((sn, sample))
        rows.append(row)

    kept = {r["sn"] for r in rows}
    for mcc, sn in sorted(owner.items()):
        if sn not in kept:
            # Networks of areas without a calling code of their own.
            print("dropped MCC %s of %s: no country row" % (mcc, sn))
            del owner[mcc]
    for r in rows:
        for mcc in r["mmc"].split(","):
            if not re.fullmatch(r"\d{3}", mcc):
                sys.exit("%s: bad MCC %r" % (r["sn"], mcc))
    for mcc, sn in owner.items():
        row = next(r for r in rows if r["sn"] == sn)
        if mcc not in row["mmc"].split(","):
            sys.exit("MCC %s of %s is missing from its mmc column" % (mcc, sn))

    if os.path.exists(out_path):
        os.remove(out_path)
    db = sqlite3.connect(out_path)
    db.execute("PRAGMA page_size=1024")
    db.execute(
        "CREATE TABLE countries (sn CHAR(2) PRIMARY KEY, ln TEXT, pnum TEXT, mmc TEXT, numc TEXT,"
        " u2 TEXT, r1 TEXT, r2 TEXT, r3 TEXT, r4 TEXT, mnc_rx TEXT, n TEXT)")
    db.execute("CREATE INDEX index_countries_pnum ON countries(pnum)")
    db.execute("CREATE TABLE mmc_sn (mmc CHAR(3) PRIMARY KEY, sn CHAR(2))")
    db.execute("CREATE INDEX index_mmc_sn ON mmc_sn(sn)")
    cols = ("sn", "ln", "pnum", "mmc", "numc", "u2", "r1", "r2", "r3", "r4", "mnc_rx", "n")
    db.executemany(
        "INSERT INTO countries (%s) VALUES (%s)" % (",".join(cols), ",".join("?" * len(cols))),
        [tuple(r[c] for c in cols) for r in rows])
    db.executemany("INSERT INTO mmc_sn (mmc, sn) VALUES (?, ?)", sorted(owner.items()))
    db.commit()
    db.execute("VACUUM")
    db.close()
    with open(samples_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("# sn<TAB>a mobile number in national form that the row's r1 matches\n")
        for sn, sample in samples:
            f.write("%s\t%s\n" % (sn, sample))
    print("%d countries, %d mobile country codes -> %s" % (len(rows), len(owner), out_path))
    print("%d sample numbers -> %s" % (len(samples), samples_path))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--npm", required=True, help="node_modules folder holding libphonenumber-js and mcc-mnc-list")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "resources", "countries.db"))
    ap.add_argument("--samples", default=os.path.join(
        os.path.dirname(__file__), "..", "tests", "core", "data", "countries_mobile_samples.tsv"))
    args = ap.parse_args()
    build(args.npm, os.path.normpath(args.out), os.path.normpath(args.samples))


if __name__ == "__main__":
    main()
