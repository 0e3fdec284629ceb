"""Values full of the characters card readers take as structure (, ; \\ : ")
go through every surface of the tool (the single card, batch from CSV and
JSON Lines, the server's GET and POST) and are read back by vobject exactly
as they were typed: in every text, telephone number and address."""
import csv
import io
import json
import os
import urllib.parse

import vobject

from conftest import run_tool

TYPED = 'a, b; c\\ d: "e"'
# Every text property whose value card readers read as a text of its own,
# slot 1 of the address and the telephone and e-mail address, with what
# vobject reads each from.
VALUES = {
    "NameFamily": TYPED, "NameGiven": TYPED + "g", "NameAdditional": TYPED + "a",
    "NamePrefix": TYPED + "p", "NameSuffix": TYPED + "s", "FormatedName": TYPED + "f",
    "SortString": TYPED + "o", "Nickname": 'b; c\\ d: "e"', "Title": TYPED + "t",
    "Role": TYPED + "r", "Note": TYPED + "n", "OrgName": TYPED + "1", "OrgUnit": TYPED + "2",
    "Categorie": 'x;y\\ z: "w"', "Adr1_PostOffice": TYPED + "b", "Adr1_Extended": TYPED + "x",
    "Adr1_Street": TYPED + "st", "Adr1_Locality": TYPED + "l", "Adr1_Region": TYPED + "re",
    "Adr1_PostalCode": TYPED + "c", "Adr1_Country": TYPED + "cy",
    "Tel1_Number": "+43 660 6140964,,501;ext=1\\2", "Email1_Value": '"doe, john; x\\y"@example.com',
}
FLAGS = {"Adr1_Home": "true", "Tel1_Cell": "true"}


def read_back(card: str):
    c = vobject.readOne(card)
    n, adr = c.n.value, c.adr.value
    return {
        "NameFamily": n.family, "NameGiven": n.given, "NameAdditional": n.additional,
        "NamePrefix": n.prefix, "NameSuffix": n.suffix, "FormatedName": c.fn.value,
        "SortString": c.contents["sort-string"][0].value, "Nickname": c.nickname.value,
        "Title": c.title.value, "Role": c.role.value, "Note": c.note.value,
        "OrgName": c.org.value[0], "OrgUnit": c.org.value[1], "Categorie": c.categories.value[0],
        "Adr1_PostOffice": adr.box, "Adr1_Extended": adr.extended, "Adr1_Street": adr.street,
        "Adr1_Locality": adr.city, "Adr1_Region": adr.region, "Adr1_PostalCode": adr.code,
        "Adr1_Country": adr.country, "Tel1_Number": c.tel.value, "Email1_Value": c.email.value,
    }


def test_values_read_back_as_typed_through_every_surface(server, tmp_path):
    every = {**VALUES, **FLAGS}
    cards = {}
    r = run_tool(*[f"{k}={v}" for k, v in every.items()])
    assert r.returncode == 0, r.stderr
    cards["single"] = r.stdout.decode()
    table = io.StringIO()
    writer = csv.writer(table)
    writer.writerow(every)
    writer.writerow(every.values())
    (tmp_path / "in.csv").write_text(table.getvalue(), encoding="utf-8")
    (tmp_path / "in.jsonl").write_text(json.dumps(every) + "\n", encoding="utf-8")
    for name in ("in.csv", "in.jsonl"):
        r = run_tool("batch", str(tmp_path / name), "-q")
        assert r.returncode == 0, r.stderr
        cards["batch " + name] = r.stdout.decode()
    status, _, body = server.request("GET", "/v1/card?" + urllib.parse.urlencode(every))
    assert status == 200, body
    cards["GET /v1/card"] = body.decode()
    status, _, body = server.post_json("/v1/card", {**VALUES, "Adr1_Home": True, "Tel1_Cell": True})
    assert status == 200, body
    cards["POST /v1/card"] = body.decode()
    status, _, body = server.request("POST", "/v1/cards", table.getvalue().encode(),
                                     {"Content-Type": "text/csv"})
    assert status == 200, body
    cards["POST /v1/cards"] = body.decode()
    for surface, card in cards.items():
        assert read_back(card) == VALUES, surface
