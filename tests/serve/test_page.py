"""The page at /, in headless Chromium: it makes a card, shows its QR code
(which scans back to the card) and saves it under its file name, with the
keyboard alone and on a phone-sized screen, without a console error.

QVVCARD_SCREENSHOT=path saves a picture of the page with a card made."""
import base64
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


@pytest.fixture(scope="module")
def browser():
    if MISSING:
        pytest.skip(MISSING)
    downloads = tempfile.mkdtemp(prefix="qvvcard-downloads-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--no-first-run", "--window-size=1200,1600"):
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


def console_problems(driver):
    return [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]


def card_of(driver):
    return driver.find_element(By.ID, "card").text


@needs_browser
def test_the_page_makes_a_card_its_code_and_its_download(browser, page_server):
    browser.get(f"http://127.0.0.1:{page_server.port}/")
    assert browser.find_element(By.ID, "make").tag_name == "button"
    values = {"NameGiven": "Zoë", "NameFamily": "Müller", "OrgName": "Café, Ltd",
              "Tel1_Number": "+49 30 5550", "Email1_Value": "zoe@example.org"}
    for name, value in values.items():
        browser.find_element(By.NAME, name).send_keys(value)
    browser.find_element(By.NAME, "Tel1_Cell").click()
    browser.find_element(By.ID, "make").click()
    wait(browser, lambda d: card_of(d).endswith("END:VCARD"))

    card = card_of(browser)
    expected = run_tool(*[f"{k}={v}" for k, v in values.items()], "Tel1_Cell=true").stdout.decode()
    expected_lines = [l for l in expected.split("\r\n") if l and not l.startswith(("REV:", "UID:"))]
    assert [l for l in card.split("\n") if not l.startswith(("REV:", "UID:"))] == expected_lines
    name = run_tool(*[f"{k}={v}" for k, v in values.items()], "--get", "vCardFileName").stdout.decode()[:-1]
    download = browser.find_element(By.ID, "download")
    assert download.get_attribute("download") == name

    # The code shown is the card's: its picture scans back to the card.
    qr = browser.find_element(By.ID, "qr")
    wait(browser, lambda d: d.execute_script("return arguments[0].complete && arguments[0].naturalWidth", qr))
    if shutil.which("zbarimg"):
        picture = browser.execute_script("""
            const img = arguments[0], c = document.createElement('canvas');
            c.width = img.naturalWidth; c.height = img.naturalHeight;
            const g = c.getContext('2d'); g.fillStyle = '#fff'; g.fillRect(0, 0, c.width, c.height);
            g.drawImage(img, 0, 0); return c.toDataURL('image/png').split(',')[1];""", qr)
        with tempfile.NamedTemporaryFile(suffix=".png") as f:
            f.write(base64.b64decode(picture))
            f.flush()
            r = subprocess.run(["zbarimg", "--quiet", "--raw", "-Sbinary", f.name], capture_output=True, timeout=60)
        assert r.returncode == 0 and r.stdout.decode().replace("\r\n", "\n") == card + "\n"

    download.click()
    path = os.path.join(browser.downloads, name)
    deadline = time.monotonic() + 15
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert os.listdir(browser.downloads) == [name]
    with open(path, "rb") as f:
        saved = f.read().decode()
    assert saved.endswith("END:VCARD\r\n") and saved.replace("\r\n", "\n") == card + "\n"
    if os.environ.get("QVVCARD_SCREENSHOT"):
        browser.execute_script("document.querySelector('.actions').scrollIntoView()")
        browser.save_screenshot(os.environ["QVVCARD_SCREENSHOT"])
    assert console_problems(browser) == []


@needs_browser
def test_keyboard_alone_on_a_phone_sized_screen(browser, page_server):
    browser.set_window_size(390, 844)
    try:
        browser.get(f"http://127.0.0.1:{page_server.port}/")
        # Nothing is wider than the screen.
        assert browser.execute_script(
            "return document.documentElement.scrollWidth <= document.documentElement.clientWidth")
        # The first field is reached with Tab; Enter in a field makes the card.
        body = browser.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.TAB)
        first = browser.switch_to.active_element
        assert first.get_attribute("name") == "NameGiven"
        first.send_keys("Anna", Keys.TAB, "Smith", Keys.ENTER)
        wait(browser, lambda d: card_of(d).endswith("END:VCARD"))
        assert "N:Smith;Anna;;;" in card_of(browser).split("\n")
        # A refused value is said in words, and the field gets the focus.
        browser.find_element(By.ID, "position").click()  # opens the details
        lat = browser.find_element(By.NAME, "GeoLatDeg")
        lat.send_keys("north", Keys.ENTER)
        error = browser.find_element(By.ID, "error")
        wait(browser, lambda d: error.is_displayed())
        assert "Degrees" in error.text and lat.get_attribute("aria-invalid") == "true"
        assert browser.switch_to.active_element == lat
        for e in console_problems(browser):
            # The refused request itself is what the browser reports.
            assert "400 (Bad Request)" in e["message"], e
    finally:
        browser.set_window_size(1200, 1600)


def test_the_page_allows_only_its_own_resources(page_server):
    status, headers, body = page_server.request("GET", "/")
    policy = headers["content-security-policy"]
    assert status == 200 and "default-src 'self'" in policy and "script-src" not in policy
    assert b'<script src="page.js"' in body and b"http" not in body
    for path, kind in [("/page.js", "text/javascript"), ("/page.css", "text/css"),
                       ("/favicon.svg", "image/svg+xml")]:
        status, headers, _ = page_server.request("GET", path)
        assert status == 200 and headers["content-type"].startswith(kind), path
