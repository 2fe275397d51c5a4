"""The control page in a real headless Chromium, against vantreld and
simulated units on 127.0.0.1."""

import json
import os
import re
import shutil
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from served import Broker, Service, Units, free_port, units_table, wait_for

SCREENSHOT = os.environ.get("VANTREL_SCREENSHOT")

# The simulator's three units as doc/vantrel.toml names them, with a group and a scene.
GROUPS_AND_SCENES = """
[groups]
shelves = ["shelf-left", "shelf-right"]

[scenes.open]
counter = 255
shelves = "80%"

[scenes.closed]
counter = 0
shelves = 0
"""


def browser(directory):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=480,900",
                 "--user-data-dir=" + os.path.join(directory, "chromium")):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)


class ControlPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="vantrel-page-")
        cls.units = Units(3)
        cls.spare = Units(1)  # stopped by the test of a refused unit
        cls.mute = Units(1, reply="silent")
        cls.dark = Units(1)  # never sent a command
        names = ["counter", "shelf-left", "shelf-right"]
        cls.text = units_table(list(zip(names, cls.units.ports)) + [("spare", cls.spare.ports[0])]
                               + [("mute", cls.mute.ports[0]), ("dark", cls.dark.ports[0])])
        cls.broker = Broker(cls.directory)
        cls.service = Service(cls.directory, cls.text + GROUPS_AND_SCENES + cls.broker.table(),
                              'title = "Shop <b>lights</b>"\n')
        cls.driver = browser(cls.directory)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        status, error = cls.service.stop()
        cls.units.stop()
        cls.spare.stop()
        cls.mute.stop()
        cls.dark.stop()
        cls.broker.stop()
        shutil.rmtree(cls.directory, ignore_errors=True)
        assert status == 0, error

    def open_page(self, service=None):
        self.driver.get((service or self.service).url("/"))
        self.assertTrue(wait_for(lambda: self.connection() == "live" and self.rows()), "the page never went live")

    def connection(self):
        return self.driver.find_element(By.CSS_SELECTOR, "[data-connection]").get_attribute("data-connection")

    def rows(self):
        return self.driver.find_elements(By.CSS_SELECTOR, "#units [data-unit]")

    def row(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, '[data-unit="%s"]' % name)

    def shown(self, name, part=None):
        """The confirmed level, or the text of `part`."""
        if part is None:
            return self.row(name).get_attribute("data-level")
        return self.row(name).find_element(By.CSS_SELECTOR, part).get_attribute("textContent")

    def wait_shown(self, name, text, part=None):
        self.assertTrue(wait_for(lambda: self.shown(name, part) == text),
                        "%s shows %r, not %r" % (name, self.shown(name, part), text))

    def card(self, name):
        """What the card of unit `name` shows: its state, status, problem, value and slider."""
        row = self.row(name)
        text = lambda css: row.find_element(By.CSS_SELECTOR, css).get_attribute("textContent")
        return {"state": row.get_attribute("data-state"), "status": text("[data-status]"),
                "problem": text("[data-problem]"), "percent": text(".percent"), "level": text(".level"),
                "slider": row.find_element(By.CSS_SELECTOR, "input[type=range]").get_attribute("value")}

    def slider(self, name):
        return self.row(name).find_element(By.CSS_SELECTOR, "input[type=range]")

    def test_loads_without_console_errors_or_requests_leaving_the_box(self):
        self.driver.get_log("browser")
        self.driver.get_log("performance")
        self.open_page()
        errors = [entry for entry in self.driver.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        self.assertIn(self.service.url("/page.js"), urls)
        self.assertIn(self.service.url("/api/events"), urls)
        self.assertEqual([url for url in urls if not url.startswith(self.service.url("/"))], [])
        # Names and the title are text, never markup.
        self.assertEqual(self.driver.title, "Shop <b>lights</b>")
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "#title b"), [])
        self.assertEqual([row.get_attribute("data-unit") for row in self.rows()],
                         ["counter", "shelf-left", "shelf-right", "spare", "mute", "dark"])
        # The groups come first: on a phone the units would push them off the first screen.
        sections = [section.get_attribute("id") for section in self.driver.find_elements(By.CSS_SELECTOR, "main section")]
        self.assertLess(sections.index("groups-section"), sections.index("units-section"))

    def test_the_keyboard_moves_a_slider_and_the_unit_gets_the_level(self):
        self.open_page()
        slider = self.row("counter").find_element(By.CSS_SELECTOR, "input[type=range]")
        port = self.units.ports[0]
        slider.send_keys(Keys.END)
        self.wait_shown("counter", "255")
        self.assertEqual(self.units.levels(port)[-1], 255)
        slider.send_keys(Keys.HOME)
        self.wait_shown("counter", "0")
        slider.send_keys(Keys.ARROW_RIGHT)
        self.wait_shown("counter", "1")
        self.assertEqual(self.units.levels(port)[-1], 1)

    def test_a_scene_button_sets_its_units(self):
        self.open_page()
        self.driver.find_element(By.CSS_SELECTOR, '[data-scene="closed"]').click()
        for name in ("counter", "shelf-left", "shelf-right"):
            self.wait_shown(name, "0")
        self.driver.find_element(By.CSS_SELECTOR, '[data-scene="open"]').click()
        for name, level in (("counter", "255"), ("shelf-left", "204"), ("shelf-right", "204")):
            self.wait_shown(name, level)
        self.assertEqual([self.units.levels(port)[-1] for port in self.units.ports], [255, 204, 204])

    def test_a_scene_saved_on_the_page_is_recalled_and_removed_after_a_confirmation(self):
        self.open_page()
        self.assertEqual(self.service.command("groups", "shelves", {"brightness": 77}), 202)
        self.wait_shown("shelf-left", "77")
        self.wait_shown("shelf-right", "77")
        find = self.driver.find_element
        find(By.CSS_SELECTOR, "#save-form summary").click()
        find(By.CSS_SELECTOR, '#save-targets input[value="shelves"]').click()
        find(By.ID, "save-name").send_keys("reading")
        find(By.ID, "save-scene").click()
        message = lambda: find(By.ID, "save-message").get_attribute("textContent")
        self.assertTrue(wait_for(lambda: message() == "Saved scene \u201creading\u201d: 2 lights."), message())
        saved = '[data-scene="reading"]'
        self.assertTrue(wait_for(lambda: self.driver.find_elements(By.CSS_SELECTOR, saved)), "no button")
        self.assertIn("saved", find(By.CSS_SELECTOR, saved).get_attribute("class"))
        # Recalled from its button: the units' bytes are its levels again.
        self.assertEqual(self.service.command("groups", "shelves", {"brightness": 3}), 202)
        self.wait_shown("shelf-left", "3")
        find(By.CSS_SELECTOR, saved).click()
        self.wait_shown("shelf-left", "77")
        self.wait_shown("shelf-right", "77")
        self.assertEqual([self.units.levels(port)[-1] for port in self.units.ports[1:]], [77, 77])
        # A name the units file writes is refused in one line.
        find(By.ID, "save-name").send_keys("open")
        find(By.ID, "save-scene").click()
        self.assertTrue(wait_for(lambda: "scene 'open' is written in the units file" in message()), message())
        find(By.ID, "save-name").clear()
        # Removing asks first: dismissed, it stays; accepted, it goes.
        remove = '[data-remove="reading"]'
        find(By.CSS_SELECTOR, remove).click()
        self.driver.switch_to.alert.dismiss()
        time.sleep(0.5)
        self.assertTrue(self.driver.find_elements(By.CSS_SELECTOR, saved))
        find(By.CSS_SELECTOR, remove).click()
        self.assertIn("reading", self.driver.switch_to.alert.text)
        self.driver.switch_to.alert.accept()
        self.assertTrue(wait_for(lambda: not self.driver.find_elements(By.CSS_SELECTOR, saved)), "not removed")

    def test_a_level_set_through_the_api_shows_on_the_page(self):
        self.open_page()
        self.assertEqual(self.service.command("units", "shelf-right", {"brightness": 42}), 202)
        self.wait_shown("shelf-right", "42")
        self.assertEqual(self.service.command("groups", "shelves", {"state": "OFF"}), 202)
        self.wait_shown("shelf-right", "0")
        self.assertTrue(wait_for(
            lambda: self.driver.find_element(By.CSS_SELECTOR, '[data-group="shelves"]').get_attribute("data-level") == "0"))
        # The same engine serves MQTT: a command published there shows here.
        self.assertEqual(self.broker.retained("vantrel/status"), "online")
        self.broker.publish("vantrel/unit/shelf-left/set", '{"brightness": 77}')
        self.wait_shown("shelf-left", "77")

    def test_a_refused_unit_shows_its_problem_and_keeps_its_level(self):
        self.open_page()
        self.assertEqual(self.service.command("units", "spare", {"brightness": 50}), 202)
        self.wait_shown("spare", "50")
        self.assertEqual(self.shown("spare", "[data-problem]"), "")
        self.spare.stop()
        self.assertEqual(self.service.command("units", "spare", {"brightness": 200}), 202)
        self.assertTrue(wait_for(lambda: re.fullmatch(r"No connection at \d\d:\d\d:\d\d", self.card("spare")["problem"])),
                        self.card("spare"))
        self.assertEqual(self.shown("spare"), "50")
        self.assertEqual(self.card("spare")["percent"], "20 %")

    def test_a_command_in_flight_shows_sending_with_its_target_instead_of_the_old_problem(self):
        self.open_page()
        self.assertEqual(self.service.command("units", "mute", {"brightness": 10}), 202)
        no_reply = lambda: re.fullmatch(r"No reply at \d\d:\d\d:\d\d", self.card("mute")["problem"])
        self.assertTrue(wait_for(no_reply, 20), self.card("mute"))
        self.slider("mute").send_keys(Keys.END)
        sending = {"state": "sending", "status": "Sending 100 %…", "problem": "", "percent": "100 %", "level": "255",
                   "slider": "255"}
        self.assertTrue(wait_for(lambda: self.card("mute") == sending, 2), self.card("mute"))
        # Past the moment the slider used to snap back: it keeps the target while the command is tried.
        time.sleep(1.8)
        card = self.card("mute")
        if card["state"] == "sending":
            self.assertEqual(card, sending)
        self.assertTrue(wait_for(no_reply, 20), self.card("mute"))
        self.assertEqual(self.card("mute")["slider"], "0")

    def test_a_unit_never_confirmed_looks_unknown_not_off(self):
        self.open_page()
        self.assertEqual(self.card("dark"), {"state": "unknown", "status": "Level unknown: never confirmed",
                                             "problem": "", "percent": "–", "level": "", "slider": "0"})
        switch = self.row("dark").find_element(By.CSS_SELECTOR, ".switch")
        self.assertIn("unknown", switch.get_attribute("class"))
        self.assertEqual(self.service.command("units", "counter", {"brightness": 0}), 202)
        self.wait_shown("counter", "0")
        self.assertEqual(self.card("counter")["state"], "confirmed")
        self.assertEqual(self.card("counter")["percent"], "0 %")

    def test_after_a_boot_a_unit_shows_not_confirmed_with_its_last_level_as_a_hint(self):
        directory = os.path.join(self.directory, "booted")
        os.mkdir(directory)
        boot_id = os.path.join(directory, "boot_id")
        with open(boot_id, "w") as out:
            out.write("4b1e0a52-0000-4000-8000-000000000001\n")
        shop = Service(directory, units_table([("counter", self.units.ports[0])]), boot_id=boot_id)
        try:
            self.assertEqual(shop.command("units", "counter", {"brightness": 128}), 202)
            self.assertTrue(wait_for(lambda: shop.state()["units"][0]["level"] == 128))
            self.assertEqual(shop.stop()[0], 0)
            with open(boot_id, "w") as out:
                out.write("4b1e0a52-0000-4000-8000-000000000002\n")
            shop.start()
            unit = shop.state()["units"][0]
            self.assertIsNone(unit["level"])
            self.assertEqual(unit["remembered"]["level"], 128)
            self.assertRegex(unit["remembered"]["at"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
            self.open_page(shop)
            card = self.card("counter")
            self.assertEqual(card["state"], "unknown")
            self.assertRegex(card["status"], r"^Not confirmed since start · last 50 % at \S.* \d\d:\d\d$")
            self.assertEqual(card["percent"], "–")
        finally:
            shop.stop()

    def test_schedules_show_their_next_time_and_a_switch_turns_one_off_and_on(self):
        self.open_page()
        self.assertFalse(self.driver.find_element(By.ID, "schedules-section").is_displayed())
        directory = os.path.join(self.directory, "scheduled")
        os.mkdir(directory)
        lamp = Units(1)  # a firing, at that very minute, would harm no other test
        shop = Service(directory, units_table([("lamp", lamp.ports[0])]) +
                       '[schedules.opening]\nat = "07:30"\nlevels = { lamp = 200 }\n'
                       '[schedules.closing]\nat = "19:05"\ndays = "weekdays"\nlevels = { lamp = 0 }\n')
        try:
            schedules = shop.state()["schedules"]
            self.assertEqual([(s["name"], s["on"]) for s in schedules], [("opening", True), ("closing", True)])
            self.assertRegex(schedules[0]["next"], r"^\d{4}-\d\d-\d\dT07:30:00[+-]\d\d:\d\d$")
            self.assertRegex(schedules[0]["next_text"], r"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) 07:30$")
            self.assertRegex(schedules[1]["next_text"], r"^(Mon|Tue|Wed|Thu|Fri) 19:05$")
            status, _, body = shop.request("POST", "/api/schedules/opening", json.dumps({"on": "no"}))
            self.assertEqual((status, json.loads(body)["error"]),
                             (400, 'a schedule is switched by {"on": true} or {"on": false}'))
            self.assertEqual(shop.command("schedules", "nothing", {"on": False}), 404)

            self.open_page(shop)
            self.assertTrue(self.driver.find_element(By.ID, "schedules-section").is_displayed())
            row = lambda name: self.driver.find_element(By.CSS_SELECTOR, '[data-schedule="%s"]' % name)
            next_text = lambda name: row(name).find_element(By.CSS_SELECTOR, ".schedule-next").text
            toggle = lambda name: row(name).find_element(By.CSS_SELECTOR, "input[type=checkbox]")
            self.assertEqual([r.get_attribute("data-schedule") for r in
                              self.driver.find_elements(By.CSS_SELECTOR, "#schedules [data-schedule]")],
                             ["opening", "closing"])
            self.assertEqual(next_text("opening"), "Next " + schedules[0]["next_text"])
            self.assertTrue(toggle("opening").is_selected())
            toggle("opening").click()
            self.assertTrue(wait_for(lambda: not shop.state()["schedules"][0]["on"]))
            self.assertIsNone(shop.state()["schedules"][0]["next"])
            self.assertTrue(wait_for(lambda: next_text("opening") == "Off"), next_text("opening"))
            self.assertTrue(shop.state()["schedules"][1]["on"])
            # Switched on elsewhere: the page hears it from its event stream.
            self.assertEqual(shop.command("schedules", "opening", {"on": True}), 202)
            self.assertTrue(wait_for(lambda: toggle("opening").is_selected() and
                                     next_text("opening") == "Next " + schedules[0]["next_text"]),
                            next_text("opening"))
        finally:
            shop.stop()
            lamp.stop()

    def test_a_fade_shows_its_target_as_it_runs(self):
        self.open_page()
        self.assertEqual(self.service.command("units", "shelf-right", {"brightness": 0}), 202)
        self.wait_shown("shelf-right", "0")
        self.driver.find_element(By.CSS_SELECTOR, '#transition option[value="5"]').click()
        self.slider("shelf-right").send_keys(Keys.END)
        fading = lambda: (self.card("shelf-right")["state"] == "fading" and
                          self.card("shelf-right")["status"].startswith("Fading to 100 % · now ") and
                          0 < int(self.shown("shelf-right")) < 255)
        self.assertTrue(wait_for(fading, 4), self.card("shelf-right"))
        self.assertEqual(self.card("shelf-right")["percent"], "100 %")
        self.assertTrue(wait_for(lambda: self.card("shelf-right")["state"] == "confirmed", 10), self.card("shelf-right"))
        self.assertEqual(self.shown("shelf-right"), "255")

    def test_shows_lost_while_the_service_is_stopped_and_live_when_it_is_back(self):
        self.open_page()
        self.assertEqual(self.service.stop()[0], 0)
        self.assertTrue(wait_for(lambda: self.connection() == "lost", 15))
        self.service.start()
        self.assertTrue(wait_for(lambda: self.connection() == "live", 15))

    def test_a_banner_says_while_the_levels_are_not_remembered(self):
        directory = os.path.join(self.directory, "blocked")
        os.mkdir(directory)
        blocked = os.path.join(directory, "state")
        with open(blocked, "w") as out:
            out.write("not a directory\n")
        levels = os.path.join(blocked, "levels")
        shop = Service(directory, units_table([("counter", self.units.ports[0])]), levels=levels)
        try:
            self.open_page(shop)
            banner = self.driver.find_element(By.ID, "levels-file")
            self.assertFalse(banner.is_displayed())
            self.assertEqual(shop.command("units", "counter", {"brightness": 9}), 202)
            self.assertTrue(wait_for(banner.is_displayed))
            self.assertEqual(banner.text, "Levels are not being remembered: cannot lock %s.lock: Not a directory"
                             % levels)
            os.remove(blocked)
            os.mkdir(blocked)
            self.assertTrue(wait_for(lambda: not banner.is_displayed()))
        finally:
            shop.stop()

    @unittest.skipUnless(SCREENSHOT, "VANTREL_SCREENSHOT names no file")
    def test_screenshots_of_a_unit_in_each_state(self):
        # SCREENSHOT at 1280x800, and beside it the page on a phone, 390x844.
        directory = os.path.join(self.directory, "screenshot")
        os.mkdir(directory)
        names = ["counter", "shelf-left", "shelf-right"]
        text = units_table(list(zip(names, self.units.ports)) + [
            ("window", self.mute.ports[0]), ("porch", free_port()), ("cellar", self.dark.ports[0])])
        shop = Service(directory, text + GROUPS_AND_SCENES, 'title = "Shop lights"\n')
        try:
            self.assertEqual(shop.command("scenes", "open", {}), 202)
            self.assertEqual(shop.command("units", "porch", {"brightness": 100}), 202)
            self.open_page(shop)
            self.wait_shown("shelf-left", "204")
            self.assertTrue(wait_for(lambda: self.card("porch")["problem"]))
            self.driver.find_element(By.CSS_SELECTOR, '#transition option[value="30"]').click()
            self.slider("shelf-right").send_keys(Keys.HOME)
            self.assertTrue(wait_for(lambda: self.card("shelf-right")["state"] == "fading"))
            self.driver.find_element(By.CSS_SELECTOR, '#transition option[value=""]').click()
            phone = os.path.join(os.path.dirname(SCREENSHOT), "control-page-phone.png")
            for (width, height), path in (((390, 844), phone), ((1280, 800), SCREENSHOT)):
                self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
                self.slider("window").send_keys(Keys.PAGE_UP)  # a command in flight, again
                self.assertTrue(wait_for(lambda: self.card("window")["state"] == "sending"))
                self.driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0);")
                self.assertTrue(self.driver.save_screenshot(path))
        finally:
            self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
            shop.stop()

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
