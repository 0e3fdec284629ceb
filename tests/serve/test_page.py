"""The page at /, in headless Chromium: it makes a card, shows its QR code
(which scans back to the card) and saves it under its file name; it keeps on
the card what the form shows (default kinds of slots, hemispheres, the
decimal position); it says problems next to their fields; it fills the form
from a vCard file; with the keyboard alone and on a phone-sized screen,
without a console error.

QVVCARD_SCREENSHOTS=folder saves pictures of the page with a card made, at
1280x900 (serve-page.png) and at 390x844 (serve-page-phone.png)."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

import pytest

from conftest import Server, run_tool

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
    SELENIUM = None
except ImportError as e:
    SELENIUM = f"python3-selenium is not installed ({e})"

MISSING = SELENIUM or (None if CHROMIUM else "chromium is not installed") or \
    (None if CHROMEDRIVER else "chromedriver (Debian chromium-driver) is not installed")
needs_browser = pytest.mark.skipif(MISSING is not None, reason=MISSING or "")

DESKTOP = (1280, 900)
PHONE = (390, 844)
# What the QR code's card leaves out: a phone's scanner needs none of it.
NOT_IN_CODE = ("PRODID:", "REV:", "UID:")


@pytest.fixture(scope="module")
def browser():
    if MISSING:
        pytest.skip(MISSING)
    downloads = tempfile.mkdtemp(prefix="qvvcard-downloads-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--no-first-run", "--hide-scrollbars", "--window-size=1280,900"):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    driver.downloads = downloads
    yield driver
    driver.quit()
    shutil.rmtree(downloads, ignore_errors=True)


@pytest.fixture(scope="module")
def page_server():
    s = Server()
    yield s
    assert s.stop() == 0


def wait(driver, condition, timeout=15):
    return WebDriverWait(driver, timeout).until(lambda d: condition(d))


def console_problems(driver, allowed=()):
    """Console errors and warnings, less those naming an allowed answer (a
    refused request is reported by the browser itself)."""
    return [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")
            and not any(a in e["message"] for a in allowed)]


def open_page(driver, server, size=DESKTOP):
    """The page in a viewport of exactly size, with a record of what it sends."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": size[0], "height": size[1], "deviceScaleFactor": 1, "mobile": size[0] < 600})
    driver.get(f"http://127.0.0.1:{server.port}/")
    driver.get_log("browser")
    driver.execute_script("""
        window.sent = [];
        const original = window.fetch;
        window.fetch = function (url, options) {
          const o = options || {}, body = o.body;
          window.sent.push({url: String(url), headers: o.headers || {},
                            body: typeof body === 'string' ? body : null,
                            bytes: body && body.byteLength !== undefined ? body.byteLength : null});
          return original.apply(this, arguments);
        };""")


def sent(driver, path):
    """The requests the page sent to path (its query aside)."""
    return [s for s in driver.execute_script("return window.sent") if s["url"].split("?")[0] == path]


def shown(driver, el):
    """Whether el can be seen (a closed section hides what it holds)."""
    return driver.execute_script("return arguments[0].checkVisibility()", el)


def type_into(driver, values):
    """Types each value into its field, opening the sections around it."""
    for name, value in values.items():
        el = driver.find_element(By.NAME, name) if name != "Geo" else driver.find_element(By.ID, "Geo")
        driver.execute_script(
            "for (let d = arguments[0].closest('details'); d; d = d.parentElement.closest('details')) d.open = true;", el)
        el.clear()
        el.send_keys(value)


def card_of(driver):
    return driver.find_element(By.ID, "card").text


def make_card(driver):
    """Presses Make card and waits for the card or for an error."""
    before = len(driver.execute_script("return window.sent"))
    driver.find_element(By.ID, "make").click()
    wait(driver, lambda d: d.find_element(By.ID, "make").get_attribute("aria-busy") is None
         and len(d.execute_script("return window.sent")) > before)
    return card_of(driver)


def tool_card(values):
    """The tool's card of the same values (texts; flags as true)."""
    out = run_tool(*[f"{k}={v}" for k, v in values.items()])
    assert out.returncode == 0, out.stderr
    return out.stdout.decode()


def lines_without(card, prefixes):
    return [l for l in card.replace("\r\n", "\n").split("\n") if l and not l.startswith(prefixes)]


def scanned(driver):
    """The text of the QR code the page shows, decoded with zbarimg."""
    qr = driver.find_element(By.ID, "qr")
    wait(driver, lambda d: d.execute_script("return arguments[0].complete && arguments[0].naturalWidth", qr))
    picture = driver.execute_script("""
        const img = arguments[0], c = document.createElement('canvas');
        c.width = img.naturalWidth; c.height = img.naturalHeight;
        const g = c.getContext('2d'); g.fillStyle = '#fff'; g.fillRect(0, 0, c.width, c.height);
        g.drawImage(img, 0, 0); return c.toDataURL('image/png').split(',')[1];""", qr)
    with tempfile.NamedTemporaryFile(suffix=".png") as f:
        f.write(base64.b64decode(picture))
        f.flush()
        r = subprocess.run(["zbarimg", "--quiet", "--raw", "-Sbinary", f.name], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return r.stdout.decode()


def message_of(driver, el):
    """The visible texts el's aria-describedby points at."""
    ids = (el.get_attribute("aria-describedby") or "").split()
    return " ".join(driver.find_element(By.ID, i).text for i in ids
                    if shown(driver, driver.find_element(By.ID, i)))


SAMPLE = {"NameGiven": "Zoë", "NameFamily": "Müller", "OrgName": "Café, Ltd",
          "Tel1_Number": "+49 30 5550", "Email1_Value": "zoe@example.org"}


@needs_browser
def test_the_page_makes_a_card_its_code_and_its_download(browser, page_server):
    open_page(browser, page_server)
    type_into(browser, SAMPLE)
    browser.find_element(By.NAME, "Tel1_Cell").click()
    card = make_card(browser)
    assert card.endswith("END:VCARD")

    # The card is the tool's; it scrolls into view and takes the focus.
    values = {**SAMPLE, "Tel1_Cell": "true"}
    assert lines_without(card, ("REV:", "UID:")) == lines_without(tool_card(values), ("REV:", "UID:"))
    assert browser.switch_to.active_element.get_attribute("id") == "result-title"
    top = browser.execute_script("return document.getElementById('result').getBoundingClientRect().top")
    assert 0 <= top < DESKTOP[1] - 300
    name = run_tool(*[f"{k}={v}" for k, v in values.items()], "--get", "vCardFileName").stdout.decode()[:-1]
    download = browser.find_element(By.ID, "download")
    assert download.get_attribute("download") == name

    # The code is made from the same values, sent as JSON, and scans back
    # to the card less what a scanner does not need.
    card_request, = sent(browser, "v1/card")
    qr_request, = sent(browser, "v1/qr.svg")
    assert qr_request["headers"]["Content-Type"] == "application/json"
    assert json.loads(qr_request["body"]) == json.loads(card_request["body"]) == {**SAMPLE, "Tel1_Cell": True}
    if shutil.which("zbarimg"):
        assert lines_without(scanned(browser), NOT_IN_CODE) == lines_without(card, NOT_IN_CODE)

    download.click()
    path = os.path.join(browser.downloads, name)
    deadline = time.monotonic() + 15
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert os.listdir(browser.downloads) == [name]
    with open(path, "rb") as f:
        saved = f.read().decode()
    assert saved.endswith("END:VCARD\r\n") and saved.replace("\r\n", "\n") == card + "\n"
    assert console_problems(browser) == []

    folder = os.environ.get("QVVCARD_SCREENSHOTS")
    if folder:
        browser.save_screenshot(os.path.join(folder, "serve-page.png"))
        open_page(browser, page_server, PHONE)
        type_into(browser, SAMPLE)
        browser.find_element(By.NAME, "Tel1_Cell").click()
        make_card(browser)
        wait(browser, lambda d: d.execute_script("return document.getElementById('qr').naturalWidth > 0"))
        browser.save_screenshot(os.path.join(folder, "serve-page-phone.png"))


@needs_browser
def test_the_qr_code_holds_a_compact_card(browser, page_server):
    if not shutil.which("zbarimg"):
        pytest.skip("zbarimg (Debian zbar-tools) is not installed")
    # A name, one phone and one e-mail address fit a code of version 7.
    open_page(browser, page_server)
    type_into(browser, {"NameGiven": "John", "NameFamily": "Doe", "Tel1_Number": "+1-555-0100",
                        "Email1_Value": "john.doe@example.org"})
    browser.find_element(By.NAME, "Tel1_Cell").click()
    make_card(browser)
    code = scanned(browser)
    assert lines_without(code, ()) == lines_without(card_of(browser), NOT_IN_CODE)
    assert int(browser.find_element(By.ID, "qr").get_attribute("data-version")) <= 7


@needs_browser
def test_every_property_has_a_labelled_field_and_the_common_ones_fit_one_screen(browser, page_server):
    listing = run_tool("properties").stdout.decode().splitlines()[1:130]
    properties = [line.split()[0] for line in listing]
    assert len(properties) == 129
    open_page(browser, page_server)
    named = browser.execute_script(
        "return Array.from(document.getElementById('form').elements).map(e => e.name).filter(Boolean)")
    assert sorted(named) == sorted(properties)
    # Every control a person uses has a label bound to it.
    unlabelled = browser.execute_script("""
        return Array.from(document.querySelectorAll('input, select, textarea'))
          .filter(e => e.getAttribute('aria-hidden') !== 'true' && e.labels.length === 0).map(e => e.id)""")
    assert unlabelled == []

    # At 1280x900 the common fields show at once, above the fold; the rare
    # ones wait in sections that open.
    for name in ("NameGiven", "NameFamily", "OrgName", "Tel1_Number", "Tel1_Cell", "Email1_Value",
                 "Adr1_Street", "Adr1_Locality", "Note"):
        el = browser.find_element(By.NAME, name)
        bottom = browser.execute_script("return arguments[0].getBoundingClientRect().bottom", el)
        assert shown(browser, el) and bottom <= DESKTOP[1], name
    make = browser.find_element(By.ID, "make")
    assert browser.execute_script("return arguments[0].getBoundingClientRect().bottom", make) <= DESKTOP[1]
    for name in ("Tel1_Isdn", "Tel1_Voice", "Tel2_Number", "Adr2_Street", "Email3_Value", "Birthdate",
                 "GeoLatDeg", "NameSuffix"):
        assert not shown(browser, browser.find_element(By.NAME, name)), name
    assert not shown(browser, browser.find_element(By.ID, "raw"))


@needs_browser
def test_a_slot_with_a_value_and_no_kind_gets_the_default_kind_shown_ticked(browser, page_server):
    open_page(browser, page_server)
    values = {"NameFamily": "Doe", "Tel1_Number": "+1 555 0100", "Tel2_Number": "+1 555 0101",
              "Tel3_Number": "+1 555 0102", "Adr1_Street": "Main Street 1", "Adr1_Locality": "Springfield"}
    type_into(browser, values)
    browser.find_element(By.NAME, "Tel2_Home").click()
    browser.execute_script("document.getElementById('phone-more').open = false")
    card = make_card(browser)
    # Each ticked box shows (its section opens again), and says why it was ticked.
    for flag in ("Tel1_Voice", "Tel3_Voice", "Adr1_Postal"):
        el = browser.find_element(By.NAME, flag)
        assert el.is_selected() and shown(browser, el), flag
    assert not browser.find_element(By.NAME, "Tel2_Voice").is_selected()
    assert "is ticked" in browser.find_element(By.ID, "phone1-note").text
    expected = tool_card({**values, "Tel1_Voice": "true", "Tel2_Home": "true", "Tel3_Voice": "true",
                          "Adr1_Postal": "true"})
    assert lines_without(card, ("REV:", "UID:")) == lines_without(expected, ("REV:", "UID:"))
    assert "TEL;TYPE=VOICE:+1 555 0100" in card.split("\n")
    assert any(l.startswith("ADR;TYPE=POSTAL:") for l in card.split("\n"))


@needs_browser
def test_the_position_is_sent_as_shown(browser, page_server):
    open_page(browser, page_server)
    browser.find_element(By.ID, "position").click()
    type_into(browser, {"NameFamily": "Doe", "GeoLatDeg": "40", "GeoLatMin": "25", "GeoLonDeg": "3",
                        "GeoLonMin": "42", "GeoLonSec": "14"})
    browser.find_element(By.NAME, "GeoLon").send_keys("West")
    card = make_card(browser)
    body = json.loads(sent(browser, "v1/card")[-1]["body"])
    assert body["GeoLat"] == "N" and body["GeoLon"] == "W" and "Geo" not in body
    geo = [l for l in tool_card({"GeoLatDeg": 40, "GeoLatMin": 25, "GeoLat": "N", "GeoLonDeg": 3,
                                 "GeoLonMin": 42, "GeoLonSec": 14, "GeoLon": "W"}).split("\r\n")
           if l.startswith("GEO:")]
    assert geo == ["GEO:+40.41667;-3.703889"] and geo[0] in card.split("\n")

    # The decimal position replaces the separate fields, and is sent alone.
    type_into(browser, {"Geo": "40.4168, -3.7038"})
    assert [browser.find_element(By.NAME, n).get_attribute("value")
            for n in ("GeoLatDeg", "GeoLatMin", "GeoLonDeg", "GeoLonMin", "GeoLonSec")] == [""] * 5
    card = make_card(browser)
    body = json.loads(sent(browser, "v1/card")[-1]["body"])
    assert body == {"NameFamily": "Doe", "Geo": "40.4168,-3.7038"}
    # 40.4168 is 40° 25' 0.48", -3.7038 is 3° 42' 13.68" west: to the second.
    assert geo[0] in card.split("\n")
    assert console_problems(browser) == []


@needs_browser
def test_problems_stand_next_to_their_fields_and_no_stale_card_stays(browser, page_server):
    open_page(browser, page_server)
    type_into(browser, {"NameFamily": "Doe"})
    make_card(browser)
    assert browser.find_element(By.ID, "result").is_displayed()

    browser.find_element(By.ID, "position").click()
    type_into(browser, {"GeoLatDeg": "north", "GeoLonDeg": "x"})
    make_card(browser)
    error = browser.find_element(By.ID, "error")
    assert error.is_displayed() and "Latitude, Degrees" in error.text and "1 more value" in error.text
    for name, bad in (("GeoLatDeg", "north"), ("GeoLonDeg", "x")):
        el = browser.find_element(By.NAME, name)
        assert el.get_attribute("aria-invalid") == "true", name
        msg = browser.find_element(By.ID, el.get_attribute("aria-errormessage"))
        assert shown(browser, msg) and f'"{bad}"' in msg.text and "whole number" in msg.text, name
    assert browser.switch_to.active_element.get_attribute("name") == "GeoLatDeg"
    # Nothing of the earlier card is left to save or scan.
    assert not browser.find_element(By.ID, "result").is_displayed()
    assert card_of(browser) == "" and browser.find_element(By.ID, "download").get_attribute("href") is None
    assert browser.find_element(By.ID, "qr").get_attribute("src") in (None, "")
    # Mending a value takes its message away.
    lat = browser.find_element(By.NAME, "GeoLatDeg")
    lat.send_keys(Keys.BACKSPACE)
    assert lat.get_attribute("aria-invalid") is None
    assert console_problems(browser, allowed=("400 (Bad Request)",)) == []


@needs_browser
def test_gentle_checks_warn_and_the_card_is_made_all_the_same(browser, page_server):
    cases = [("Email1_Value", "zoe.example.org", "zoe@example.org", "@"),
             ("Tel1_Number", "call me", "+1 555", "digit"),
             ("Birthdate", "17 May", "1990-05-17", "date"),
             ("Birthdate", "1990-02-30", "19900228", "date")]
    open_page(browser, page_server)
    for name, bad, good, words in cases:
        type_into(browser, {"NameFamily": "Doe", name: bad})
        card = make_card(browser)
        el = browser.find_element(By.NAME, name)
        assert card.endswith("END:VCARD"), name
        assert words in message_of(browser, el) and el.get_attribute("aria-invalid") is None, (name, bad)
        type_into(browser, {name: good})
        make_card(browser)
        assert words not in message_of(browser, el), (name, good)
    assert console_problems(browser) == []


@needs_browser
def test_a_slot_the_card_left_out_is_marked(browser, page_server):
    # The page ticks a kind itself, so the server's header is put on the
    # answer here, as a server that left slots out would send it.
    open_page(browser, page_server)
    browser.execute_script("""
        const inner = window.fetch;
        window.fetch = async function (url, options) {
          const r = await inner(url, options);
          if (String(url) !== 'v1/card' || !r.ok) return r;
          const headers = new Headers(r.headers);
          headers.set('X-Slots-Left-Out', 'Tel2, Adr3');
          return new Response(await r.blob(), {status: r.status, headers: headers});
        };""")
    type_into(browser, {"NameFamily": "Doe"})
    make_card(browser)
    for box, section in (("phone2", "phone-more"), ("address3", "address-more")):
        msg = browser.find_element(By.ID, box + "-left")
        assert shown(browser, msg) and "leaves this out" in msg.text, box
        assert browser.find_element(By.ID, section).get_attribute("open") is not None
    assert not browser.find_elements(By.ID, "phone1-left")


@needs_browser
def test_a_vcard_file_fills_the_form(browser, page_server, tmp_path):
    path = tmp_path / "two people.vcf"
    path.write_bytes(b"BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\xc3\xbcller;Zo\xc3\xab;;;\r\nFN:Zo\xc3\xab M\xc3\xbcller\r\n"
                     b"TEL;TYPE=CELL:+49 30 5550\r\nNOTE:one\\, two\r\nEND:VCARD\r\n"
                     b"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John;;;\r\nFN:John Doe\r\nEND:VCARD\r\n")
    open_page(browser, page_server)
    type_into(browser, {"Role": "typed before", "NameFamily": "Old"})
    browser.find_element(By.ID, "open").send_keys(str(path))
    status, error = browser.find_element(By.ID, "status"), browser.find_element(By.ID, "error")
    wait(browser, lambda d: status.text.startswith("Filled") or error.is_displayed())
    request, = sent(browser, "v1/cards")
    assert request["url"] == "v1/cards?to=jsonl" and request["headers"]["Content-Type"] == "text/vcard"
    assert request["bytes"] == path.stat().st_size
    assert not error.is_displayed(), error.text
    value = lambda n: browser.find_element(By.NAME, n).get_attribute("value")
    assert (value("NameFamily"), value("NameGiven"), value("Tel1_Number")) == ("Müller", "Zoë", "+49 30 5550")
    assert value("Note") == "one, two" and value("Role") == ""
    assert browser.find_element(By.NAME, "Tel1_Cell").is_selected()
    assert "the first of the 2 cards" in status.text and "two people.vcf" in status.text
    # The card made from it is the file's first card.
    card = make_card(browser)
    assert "TEL;TYPE=CELL:+49 30 5550" in card.split("\n") and "NOTE:one\\, two" in card.split("\n")


@needs_browser
def test_keyboard_alone_on_a_phone_sized_screen(browser, page_server):
    for width in (360, PHONE[0]):
        open_page(browser, page_server, (width, PHONE[1]))
        # Nothing is wider than the screen.
        assert browser.execute_script(
            "return document.documentElement.scrollWidth <= document.documentElement.clientWidth"), width
    # The first field is reached with Tab; Enter in a field makes the card.
    body = browser.find_element(By.TAG_NAME, "body")
    body.send_keys(Keys.TAB)
    first = browser.switch_to.active_element
    assert first.get_attribute("name") == "NameGiven"
    assert browser.execute_script("return getComputedStyle(arguments[0]).outlineStyle", first) != "none"
    first.send_keys("Anna", Keys.TAB, "Smith", Keys.ENTER)
    wait(browser, lambda d: card_of(d).endswith("END:VCARD"))
    assert "N:Smith;Anna;;;" in card_of(browser).split("\n")
    assert browser.switch_to.active_element.get_attribute("id") == "result-title"
    assert browser.execute_script(
        "return document.documentElement.scrollWidth <= document.documentElement.clientWidth")
    # A section opens from the keyboard; a refused value is said in words,
    # and its field gets the focus.
    summary = browser.find_element(By.CSS_SELECTOR, "#position > summary")
    browser.execute_script("arguments[0].focus()", summary)
    summary.send_keys(Keys.ENTER)
    lat = browser.find_element(By.NAME, "GeoLatDeg")
    assert shown(browser, lat)
    lat.send_keys("north", Keys.ENTER)
    error = browser.find_element(By.ID, "error")
    wait(browser, lambda d: error.is_displayed())
    assert "Degrees" in error.text and lat.get_attribute("aria-invalid") == "true"
    assert browser.switch_to.active_element == lat
    assert console_problems(browser, allowed=("400 (Bad Request)",)) == []


def test_the_page_allows_only_its_own_resources(page_server):
    status, headers, body = page_server.request("GET", "/")
    policy = headers["content-security-policy"]
    assert status == 200 and "default-src 'self'" in policy and "script-src" not in policy
    assert b'<script src="page.js"' in body and b"http" not in body
    for path, kind in [("/page.js", "text/javascript"), ("/page.css", "text/css"),
                       ("/favicon.svg", "image/svg+xml")]:
        status, headers, _ = page_server.request("GET", path)
        assert status == 200 and headers["content-type"].startswith(kind), path
