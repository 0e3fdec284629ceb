"""qvvcard batch on address-book exports and with column maps: the cards, read
back by a standard reader, and the report of what had no place."""
import os

import vobject

from conftest import SEE_HELP, run, write_csv


def cards_of(data: bytes):
    return list(vobject.readComponents(data.decode("utf-8")))


def types(line):
    return sorted(t.upper() for v in line.params.get("TYPE", []) for t in v.split(","))


def tels(card):
    return [(t.value, types(t)) for t in card.contents.get("tel", [])]


def adrs(card):
    return [((a.value.box, a.value.extended, a.value.street, a.value.city, a.value.region,
              a.value.code, a.value.country), types(a)) for a in card.contents.get("adr", [])]


def emails(card):
    return [(e.value, types(e)) for e in card.contents.get("email", [])]


def convert(path, *args):
    r = run("batch", str(path), *args)
    return r, r.stderr.decode().splitlines()


def test_google_export_current_header(examples):
    src = os.path.join(examples, "google-contacts.csv")
    r, err = convert(src)
    assert r.returncode == 0, err
    assert err == [
        f"qvvcard: reading {src} as a Google Contacts export (current header)",
        "Photo: 1 record had a value with no place on the card",
        "Phone 3 - Value: 1 record had a value with no telephone slot left",
        "Event 1 - Value: 1 record had a value with no place on the card",
        "qvvcard: 3 cards written, 0 records skipped"]
    mira, tomas, bakery = cards_of(r.stdout)
    n = mira.n.value
    assert (n.family, n.given, n.prefix) == ("Okonkwo-Lind", "Mira", "Dr.")
    assert mira.org.value == ["Fernhill Labs", "Optics"] and mira.title.value == "Research Lead"
    assert mira.bday.value == "1984-03-09" and mira.note.value == "Met at the glass fair"
    # " ::: " gives two numbers of one label; only the first is the primary one.
    assert tels(mira) == [("+49 151 0000 1111", ["CELL", "PREF"]), ("+49 151 0000 2222", ["CELL"]),
                          ("+49 30 0000 3030", ["VOICE", "WORK"]),
                          ("+49 30 0000 4040", ["FAX", "HOME"])]
    assert emails(mira) == [("mira@fernhill.example", ["INTERNET", "PREF", "WORK"]),
                            ("mira.ol@mail.example", ["HOME", "INTERNET"])]
    # The formatted address only where the parts are empty.
    assert adrs(mira) == [(("", "", "Lindenweg 4", "Berlin", "", "10115", "Germany"), ["WORK"]),
                          (("", "", "Am Teich 2\n14467 Potsdam", "", "", "", ""), ["HOME"])]
    assert mira.categories.value == ["Colleagues"]  # without * myContacts, * starred
    assert mira.url.value == "https://fernhill.example/mira"
    # The fifth number has no slot (reported above).
    assert [t for t, _ in tels(tomas)] == ["+47 400 00 001", "+47 400 00 002", "+47 22 00 00 03",
                                           "+47 22 00 00 09"]
    assert tomas.bday.value == "--11-02" and tomas.nickname.value == "Tom"
    assert tomas.categories.value == ["Sailing, Club"]
    assert adrs(tomas) == [(("Postboks 31", "", "Bryggen 7", "Bergen", "", "5003", "Norway"),
                            ["HOME"])]
    assert bakery.org.value[0] == "Harbour Bakery"
    assert tels(bakery) == [("+353 1 000 0500", ["VOICE"])]
    assert emails(bakery) == [("orders@harbour-bakery.example", ["INTERNET"])]


def test_google_export_older_header_and_forcing_it(examples):
    src = os.path.join(examples, "google-contacts-old.csv")
    r, err = convert(src, "-q")
    assert r.returncode == 0 and err == ["Hobby: 1 record had a value with no place on the card"]
    (ilse,) = cards_of(r.stdout)
    assert ilse.fn.value == "Ilse Marwood" and ilse.n.value.family == "Marwood"
    assert ilse.org.value == ["Marwood & Finch", "Audit"] and ilse.title.value == "Partner"
    assert ilse.role.value == "Signs the accounts" and ilse.note.value == "Sings bass, oddly"
    assert ilse.categories.value == ["Friends", "Choir"]  # "* Friends" is no system group
    assert tels(ilse) == [("+44 20 0000 0101", ["FAX", "WORK"]), ("+44 7700 000102", ["CAR"])]
    assert emails(ilse) == [("ilse@marwood.example", ["HOME", "INTERNET", "PREF"])]
    assert adrs(ilse) == [(("PO Box 77", "", "12 Quarry Lane", "Leeds", "", "LS1 0AA",
                            "United Kingdom"), ["POSTAL"])]
    forced, err = convert(src, "--columns", "Google-OLD")
    assert err[0] == f"qvvcard: reading {src} as a Google Contacts export (older header) " \
                     "(--columns google-old)"
    assert len(cards_of(forced.stdout)) == 1


def test_outlook_export(examples, tmp_path):
    src = os.path.join(examples, "outlook-contacts.csv")
    r, err = convert(src, "--out-dir", str(tmp_path / "cards"))
    assert r.returncode == 0, err
    assert err == [
        f"qvvcard: reading {src} as an Outlook CSV export",
        "Business Fax: 1 record had a value with no telephone slot left",
        "Pager: 1 record had a value with no telephone slot left",
        "E-mail Display Name: 1 record had a value with no place on the card",
        "Spouse: 1 record had a value with no place on the card",
        f"qvvcard: 2 cards written to {tmp_path / 'cards'}, 0 records skipped"]
    # Without a display-name column, the name as the address book shows it.
    renata, = cards_of((tmp_path / "cards" / "Ms. Renata J. Calloway PhD.vcf").read_bytes())
    assert renata.fn.value == "Ms. Renata J. Calloway PhD"
    n = renata.n.value
    # Title is the honorific, Job Title the title.
    assert (n.prefix, n.given, n.additional, n.family, n.suffix) == ("Ms.", "Renata", "J.",
                                                                   "Calloway", "PhD")
    assert renata.title.value == "Surveyor"
    assert renata.org.value == ["Calloway Surveys", "Field Work"]
    assert renata.bday.value == "1979-07-04"
    # Primary, Mobile, Business, Home first; the fax and the pager find no slot.
    assert tels(renata) == [("+44 117 000 0000", ["PREF", "VOICE"]), ("+44 7700 000201", ["CELL"]),
                            ("+44 117 000 0001", ["VOICE", "WORK"]),
                            ("+44 1225 000301", ["HOME", "VOICE"])]
    assert adrs(renata) == [
        (("PO Box 12", "", "Unit 5, Riverside Park, North Gate", "Bristol", "", "BS1 0ZZ",
          "United Kingdom"), ["WORK"]),
        (("", "", "3 Elm Row", "Bath", "", "BA1 0AB", ""), ["HOME"])]
    # SMTP is the default type; a display name that repeats the address is
    # no loss.
    assert emails(renata) == [("renata@calloway.example", ["INTERNET"]),
                              ("rc@home.example", ["INTERNET"])]
    assert renata.categories.value == ["Clients", "Surveyors"]
    assert renata.url.value == "https://calloway.example"
    ade, = cards_of((tmp_path / "cards" / "Mr. Ade Okafor.vcf").read_bytes())
    assert ade.n.value.prefix == "Mr." and "bday" not in ade.contents  # 0/0/00 is none
    assert "title" not in ade.contents
    assert adrs(ade) == [(("", "", "Plot 14", "Kisumu", "", "", "Kenya"), ["HOME"]),
                         (("", "", "Box 9 Lakeside", "Kisumu", "", "", ""), ["POSTAL"])]


def test_outlook_rules_in_small_headers(tmp_path):
    # Birthdays in their forms; the export's own "none" values; streets
    # joined, escaped or not.
    src = write_csv(tmp_path / "o.csv",
                    ["Title", "First Name", "Last Name", "Birthday", "Gender", "Business Street",
                     "Business Street 2", "Business Phone", "Categories", "Job Title"],
                    ["Dr.", "Ana", "Ruiz", "12/31/1999", "Unspecified", "Calle 1", "Piso 2", "1",
                     "A; B;;A", ""],
                    ["", "Bo", "Lund", "0/0/00", "Female", "", "", "", "", "Chef"],
                    ["", "Cy", "Moe", "31.12.1999", "", "", "", "", "", ""],
                    ["", "Di", "", "1985-06-01", "", "", "", "", "", ""],
                    ["", "Ed", "", "2/29/2021", "", "", "", "", "", ""])
    for escape in ([], ["--no-rfc-escape"]):
        r, err = convert(src, "-q", *escape)
        assert r.returncode == 0
        assert err == ["Birthday: 2 records had a value that is not a date M/D/YYYY or YYYY-MM-DD",
                       "Gender: 1 record had a value with no place on the card"]
        ana, bo, cy, di, ed = cards_of(r.stdout)
        assert ana.n.value.prefix == "Dr." and "title" not in ana.contents
        assert ana.fn.value == "Dr. Ana Ruiz" and di.fn.value == "Di"
        # ISO dates as newer exports write them; no 29 February in 2021.
        assert di.bday.value == "1985-06-01" and "bday" not in ed.contents
        assert ana.bday.value == "1999-12-31" and ana.categories.value == ["A", "B"]
        assert ana.adr.value.street == "Calle 1, Piso 2"
        assert "bday" not in bo.contents and bo.title.value == "Chef"
        assert "bday" not in cy.contents
    r, _ = convert(src, "-q", "--strict")
    assert r.returncode == 1 and len(cards_of(r.stdout)) == 5


def test_headers_that_are_no_export_and_forced_ones(tmp_path):
    # Names only two exports share are not enough to tell which one.
    src = write_csv(tmp_path / "a.csv", ["First Name", "Last Name"], ["Ann", "Lee"])
    r, err = convert(src)
    assert r.returncode == 2 and err[0].startswith("qvvcard: unknown columns in the header")
    assert "--columns FILE" in err[1]
    r, err = convert(src, "--columns", "outlook", "-q")
    assert r.returncode == 0 and cards_of(r.stdout)[0].n.value.family == "Lee"
    r, err = convert(src, "--columns", "google", "-q")
    assert r.returncode == 0 and cards_of(r.stdout)[0].n.value.given == "Ann"
    # A forced export none of whose columns is there, a column twice.
    other = write_csv(tmp_path / "b.csv", ["Surname"], ["Lee"])
    r, err = convert(other, "--columns", "outlook")
    assert r.returncode == 2
    assert err == [f"qvvcard: no column of the header of {other} is one of an Outlook CSV "
                   "export; nothing was written.", SEE_HELP]
    twice = write_csv(tmp_path / "c.csv", ["Title", "Job Title", "Pager", "pager"], ["", "", "", ""])
    r, err = convert(twice)
    assert r.returncode == 2 and "\"pager\" appears twice in the header" in err[0]
    jsonl = tmp_path / "d.jsonl"
    jsonl.write_text('{"NameFamily": "Lee"}\n')
    r, err = convert(jsonl, "--columns", "google")
    assert r.returncode == 2 and "--columns applies to CSV input" in err[0]


def test_column_map(examples, tmp_path):
    src, cmap = os.path.join(examples, "people.csv"), os.path.join(examples, "people.map")
    r, err = convert(src, "--columns", cmap)
    assert r.returncode == 0, err
    assert err == [f"qvvcard: reading {src} with the column map {cmap}",
                   "Internal ID: 2 records had a value in a column the column map does not name",
                   "qvvcard: 2 cards written, 0 records skipped"]
    petra, oskar = cards_of(r.stdout)
    assert tels(petra) == [("+36 30 000 1234", ["CELL"]), ("+36 1 000 5678", ["VOICE", "WORK"])]
    assert petra.note.value == "Keeps the bees" and petra.email.value == "petra@varga.example"
    assert adrs(petra) == [(("", "", "", "Szeged", "", "", ""), ["HOME"])]
    # The further assignments only where the column has a value: no mobile,
    # no Tel1_Cell.
    assert tels(oskar) == [("+46 8 000 2211", ["VOICE", "WORK"])]
    assert "note" not in oskar.contents and "email" not in oskar.contents
    r, err = convert(src, "--columns", cmap, "--strict", "-q")
    assert r.returncode == 1 and len(cards_of(r.stdout)) == 2
    # Columns left out on purpose are not reported; a map line whose column
    # is not there is named; a bad value is a bad record naming the column.
    (tmp_path / "m.map").write_text("Surname = NameFamily\nInternal ID =\nPhone = Tel1_Number, "
                                    "Tel1_Voice=1\nForename = GeoLatDeg\n")
    r, err = convert(src, "--columns", str(tmp_path / "m.map"))
    assert r.returncode == 1
    assert err[0] == (f"qvvcard: reading {src} with the column map {tmp_path / 'm.map'}; not in "
                      'its header: "Phone" (line 3)')
    assert err[1] == 'record 1: Forename (GeoLatDeg): expects a 16-bit integer, not "Petra"'
    assert "Internal ID" not in r.stderr.decode()
    assert sorted(l.split(":")[0] for l in err if "had a value" in l) == [
        "Comment", "Email", "Mobile", "Town", "Work Phone"]
    # Errors name the map's line and stop the run before anything is written.
    (tmp_path / "bad.map").write_text("# people\n\nSurname = NameFamily\nMobile = Tel1_Numbr\n")
    r, err = convert(src, "--columns", str(tmp_path / "bad.map"), "-o", str(tmp_path / "out.vcf"))
    assert r.returncode == 2 and not (tmp_path / "out.vcf").exists()
    assert err == [f"qvvcard: the column map {tmp_path / 'bad.map'}: line 4: unknown property "
                   '"Tel1_Numbr" (did you mean Tel1_Number?); nothing was written.', SEE_HELP]
    for missing in (tmp_path / "missing.map", tmp_path):
        r, err = convert(src, "--columns", str(missing))
        assert r.returncode == 2 and "cannot read the column map" in err[0]


def test_google_rules_in_small_headers(tmp_path):
    # Several addresses in one group (" ::: " in each part, in step), more
    # than three addresses, a second website, a second organisation.
    src = write_csv(tmp_path / "g.csv",
                    ["Given Name", "Family Name", "Address 1 - Type", "Address 1 - Street",
                     "Address 1 - City", "Address 2 - Type", "Address 2 - Formatted",
                     "Address 2 - Street", "Website 1 - Value", "Website 2 - Value",
                     "Organization 1 - Name", "Organization 2 - Name", "Group Membership"],
                    ["Eve", "Rahn", "* Home", "Ring 1 ::: Ring 2 ::: Ring 3", "Ulm ::: ::: Aalen",
                     "Work", '"Hof 9, Jena"', "Hof 9", "https://a.example ::: https://b.example",
                     "https://c.example", "Rahn GmbH", "Choir e.V.", "* My Contacts ::: * Family"])
    r, err = convert(src, "-q")
    assert r.returncode == 0
    assert err == ["Address 2 - Street: 1 record had a value with no address slot left",
                   "Website 1 - Value: 1 record had a value with no website slot left",
                   "Website 2 - Value: 1 record had a value with no website slot left",
                   "Organization 2 - Name: 1 record had a value with no organisation slot left"]
    (eve,) = cards_of(r.stdout)
    assert adrs(eve) == [(("", "", "Ring 1", "Ulm", "", "", ""), ["HOME"]),
                         (("", "", "Ring 2", "", "", "", ""), ["HOME"]),
                         (("", "", "Ring 3", "Aalen", "", "", ""), ["HOME"])]
    assert eve.url.value == "https://a.example" and eve.org.value == ["Rahn GmbH"]
    assert eve.categories.value == ["Family"]
