// Expects, on the origin that served it: GET /api/state and the stream GET /api/events (events state, unit, group,
// levels_file), the state being {"title"?, "units": [{name, level, last_on, problem}], "groups": [{name, members,
// level}], "scenes": [name], "levels_file": {remembered, problem?}};
// POST /api/units|groups|scenes/NAME with a JSON body, answering 2xx, or an error status with {"error": "..."}.
"use strict";

(function () {
  const DEFAULT_TITLE = "Vantrel lights";
  const SEND_INTERVAL_MS = 100;  // at most 10 commands a second from one slider
  const SETTLE_MS = 1500;        // a released slider shows the confirmed level at the latest after this
  const RETRY_MS = 3000;         // a stream the browser gave up on is opened again after this
  const ANSWER_MS = 10000;       // a command with no answer by then has failed

  const rows = new Map();        // "unit NAME" or "group NAME" -> row
  let layout = "";               // the names shown, in order: rows are built again only when they change
  let streamState = false;       // once the stream gave a state, a slower GET /api/state must not overwrite it

  const byId = (id) => document.getElementById(id);

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function percent(level) {
    return Math.round(level * 100 / 255) + " %";
  }

  function commandBody(fields) {
    const seconds = byId("transition").value;
    if (seconds !== "") fields.transition = Number(seconds);
    return JSON.stringify(fields);
  }

  /// Sends one command; resolves to "" when it was accepted, else to the reason to show.
  async function post(path, body) {
    let answer;
    try {
      answer = await fetch(path, {
        method: "POST",
        credentials: "same-origin",
        headers: { "Content-Type": "application/json" },
        body: body,
        signal: AbortSignal.timeout(ANSWER_MS),
      });
    } catch (e) {
      return e.name === "TimeoutError" ? "no answer from the service" : "no connection to the service";
    }
    if (answer.ok) return "";
    try {
      const reply = await answer.json();
      if (reply && typeof reply.error === "string" && reply.error !== "") return reply.error;
    } catch (e) {
      // not JSON: the status says enough
    }
    return (answer.status + " " + answer.statusText).trim();
  }

  function render(row) {
    const known = row.level !== null;
    row.li.classList.toggle("unknown", !known);
    row.confirmed.textContent = known ? String(row.level) : "";
    row.switch.setAttribute("aria-checked", known && row.level > 0 ? "true" : "false");
    row.problem.textContent = row.localProblem || row.serverProblem;
    if (row.active) return;
    row.slider.value = known ? String(row.level) : "0";
    row.percent.textContent = known ? percent(row.level) : "–";
    row.slider.setAttribute("aria-valuetext", known ? percent(row.level) : "level not known");
  }

  function showSliderPosition(row) {
    const text = percent(Number(row.slider.value));
    row.percent.textContent = text;
    row.slider.setAttribute("aria-valuetext", text);
  }

  function settle(row) {
    clearTimeout(row.settleTimer);
    row.settleTimer = null;
    row.active = false;
    row.released = false;
    row.lastSent = null;
    render(row);
  }

  function released(row) {
    return row.active && row.released && row.inFlight === 0 && row.sendTimer === null;
  }

  async function send(row, fields) {
    row.inFlight += 1;
    const problem = await post(row.path, commandBody(fields));
    row.inFlight -= 1;
    row.localProblem = problem;
    render(row);
    return problem;
  }

  async function sendSliderLevel(row) {
    const value = Number(row.slider.value);
    if (value !== row.lastSent) {
      row.lastSent = value;
      row.lastSentAt = performance.now();
      const problem = await send(row, { brightness: value });
      if (problem && released(row)) settle(row);
    }
    if (released(row)) {
      clearTimeout(row.settleTimer);
      row.settleTimer = setTimeout(() => settle(row), SETTLE_MS);
    }
  }

  // Sends now, or once SEND_INTERVAL_MS has passed since the last send; the slider's value is read when it is sent,
  // so the last position is never lost.
  function queueSliderLevel(row) {
    if (row.sendTimer !== null) return;
    const wait = row.lastSentAt + SEND_INTERVAL_MS - performance.now();
    if (wait <= 0) {
      sendSliderLevel(row);
      return;
    }
    row.sendTimer = setTimeout(() => {
      row.sendTimer = null;
      sendSliderLevel(row);
    }, wait);
  }

  function makeRow(kind, name, index) {
    const id = kind + "-" + index;
    const row = {
      kind: kind,
      path: "/api/" + kind + "s/" + encodeURIComponent(name),
      level: null,
      serverProblem: "",
      localProblem: "",
      active: false,       // the slider shows the user's position, not the confirmed level
      released: false,
      lastSent: null,
      lastSentAt: -Infinity,
      inFlight: 0,
      sendTimer: null,
      settleTimer: null,
    };

    row.li = element("li", "row");
    row.li.setAttribute("data-" + kind, name);

    const head = element("div", "row-head");
    const heading = element("div", "heading");
    const label = element("label", "name", name);
    label.htmlFor = id;
    row.switch = element("button", "switch");
    row.switch.type = "button";
    row.switch.setAttribute("role", "switch");
    row.switch.setAttribute("aria-checked", "false");
    row.switch.setAttribute("aria-label", name + " on/off");
    const detail = element("p", "detail");
    const known = element("span", "known", "Level ");
    row.confirmed = element("span");
    row.confirmed.setAttribute("data-confirmed", "");
    known.append(row.confirmed);
    row.members = element("span", "members");
    detail.append(known, element("span", "not-known", "No level confirmed yet"), row.members);
    heading.append(label, detail);
    head.append(heading, row.switch);

    const body = element("div", "row-body");
    row.slider = element("input");
    row.slider.type = "range";
    row.slider.id = id;
    row.slider.min = "0";
    row.slider.max = "255";
    row.slider.step = "1";
    row.percent = element("output", "percent");
    row.percent.setAttribute("for", id);
    body.append(row.slider, row.percent);

    row.problem = element("p", "problem");
    row.problem.setAttribute("data-problem", "");
    row.li.append(head, body, row.problem);

    row.slider.addEventListener("input", () => {
      row.active = true;
      row.released = false;
      clearTimeout(row.settleTimer);
      showSliderPosition(row);
      queueSliderLevel(row);
    });
    // A drag ends, or a key moved the slider: the final value goes out too.
    row.slider.addEventListener("change", () => {
      row.active = true;
      row.released = true;
      showSliderPosition(row);
      queueSliderLevel(row);
    });
    row.switch.addEventListener("click", () => {
      send(row, { state: row.switch.getAttribute("aria-checked") === "true" ? "OFF" : "ON" });
    });
    return row;
  }

  function makeSceneButton(name) {
    const button = element("button", "scene", name);
    button.type = "button";
    button.setAttribute("data-scene", name);
    button.addEventListener("click", async () => {
      const problem = await post("/api/scenes/" + encodeURIComponent(name), commandBody({}));
      byId("message").textContent = problem ? name + ": " + problem : "";
    });
    return button;
  }

  function update(kind, item) {
    if (!item || typeof item.name !== "string") return;
    const row = rows.get(kind + " " + item.name);
    if (!row) return;
    row.level = typeof item.level === "number" ? item.level : null;
    if ("problem" in item) row.serverProblem = item.problem ? String(item.problem) : "";
    if (Array.isArray(item.members)) row.members.textContent = item.members.length ? " · " + item.members.join(", ") : "";
    // Another level came between: the slider's value must go out again even if it was sent already.
    if (row.active && row.level !== row.lastSent) row.lastSent = null;
    if (row.active && row.sendTimer === null && row.released && (row.inFlight === 0 || row.level === row.lastSent)) {
      settle(row);
    } else {
      render(row);
    }
  }

  function build(units, groups, scenes) {
    for (const row of rows.values()) {
      clearTimeout(row.sendTimer);
      clearTimeout(row.settleTimer);
    }
    rows.clear();
    const lists = { unit: byId("units"), group: byId("groups") };
    for (const [kind, items] of [["unit", units], ["group", groups]]) {
      lists[kind].replaceChildren(...items.map((item, index) => {
        const row = makeRow(kind, item.name, index);
        rows.set(kind + " " + item.name, row);
        return row.li;
      }));
      byId(kind + "s-section").hidden = items.length === 0;
    }
    byId("scenes").replaceChildren(...scenes.map(makeSceneButton));
    byId("scenes-section").hidden = scenes.length === 0;
  }

  function applyState(state) {
    if (!state || typeof state !== "object") return;
    const named = (list) => (Array.isArray(list) ? list : []).filter((item) => item && typeof item.name === "string");
    const units = named(state.units);
    const groups = named(state.groups);
    const scenes = (Array.isArray(state.scenes) ? state.scenes : []).filter((name) => typeof name === "string");
    showLevelsFile(state.levels_file);

    const title = typeof state.title === "string" && state.title !== "" ? state.title : DEFAULT_TITLE;
    byId("title").textContent = title;
    document.title = title;

    const shape = JSON.stringify([units.map((u) => u.name), groups.map((g) => g.name), scenes]);
    if (shape !== layout) {
      build(units, groups, scenes);
      layout = shape;
    }
    units.forEach((unit) => update("unit", unit));
    groups.forEach((group) => update("group", group));
  }

  function parse(text) {
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  }

  function showConnection(live) {
    const status = document.querySelector("[data-connection]");
    status.setAttribute("data-connection", live ? "live" : "lost");
    status.textContent = live ? "Live" : "Disconnected – reconnecting…";
  }

  function showLevelsFile(levelsFile) {
    if (!levelsFile || typeof levelsFile !== "object") return;
    const banner = byId("levels-file");
    banner.hidden = levelsFile.remembered;
    banner.textContent = levelsFile.remembered ? "" : "Levels are not being remembered: " + levelsFile.problem;
  }

  function listen() {
    const stream = new EventSource("/api/events");
    stream.addEventListener("open", () => showConnection(true));
    stream.addEventListener("error", () => {
      showConnection(false);
      // The browser retries a dropped stream itself, but gives up on an answer that is not a stream (a restart
      // in progress, too many streams): then it is up to the page.
      if (stream.readyState === EventSource.CLOSED) setTimeout(listen, RETRY_MS);
    });
    stream.addEventListener("state", (event) => {
      const state = parse(event.data);
      if (!state) return;
      streamState = true;
      applyState(state);
      showConnection(true);
    });
    stream.addEventListener("unit", (event) => update("unit", parse(event.data)));
    stream.addEventListener("group", (event) => update("group", parse(event.data)));
    stream.addEventListener("levels_file", (event) => showLevelsFile(parse(event.data)));
  }

  fetch("/api/state", { credentials: "same-origin" })
    .then((answer) => (answer.ok ? answer.json() : null))
    .then((state) => {
      if (!streamState) applyState(state);
    })
    .catch(() => {});
  listen();
})();
