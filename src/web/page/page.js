// Expects, on the origin that served it: GET /api/state and the stream GET /api/events (events state, unit, group,
// levels_file, schedule), the state being {"title"?, "units": [{name, type, level, sent, last_on, problem}], "groups":
// [{name, members, level}], "scenes": [name], "saved_scenes": [name], "levels_file": {remembered, problem?},
// "schedules": [{name, on, next, next_text}]};
// POST /api/units|groups|scenes|schedules/NAME with a JSON body, answering 2xx, or an error status with {"error": "..."};
// POST /api/scenes {"save": NAME, "units"?: [name]} or {"remove": NAME}, answering 200 {"saved", "units", "left_out"}
// or {"removed"}.
"use strict";

(function () {
  const DEFAULT_TITLE = "Vantrel lights";
  const SEND_INTERVAL_MS = 100;  // at most 10 commands a second from one slider
  const PENDING_MS = 30000;      // a command neither confirmed nor failed by then, after its fade, was replaced
  const RETRY_MS = 3000;         // a stream the browser gave up on is opened again after this
  const ANSWER_MS = 10000;       // a command with no answer by then has failed

  const rows = new Map();        // "unit NAME" or "group NAME" -> row
  const schedules = new Map();   // NAME -> {next, toggle}
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

  /// Sends one command; resolves to "" when it was accepted, else to the reason to show; `answered` hears
  /// an accepted answer's JSON.
  async function post(path, body, answered) {
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
    if (answer.ok) {
      if (answered) answered(await answer.json().catch(() => null));
      return "";
    }
    try {
      const reply = await answer.json();
      if (reply && typeof reply.error === "string" && reply.error !== "") return reply.error;
    } catch (e) {
      // not JSON: the status says enough
    }
    return (answer.status + " " + answer.statusText).trim();
  }

  // The service's words for a failed command, as the page says them: "refused" is the unit refusing the
  // connection, not the page refusing anything.
  const PROBLEM_WORDS = {
    "refused": "No connection",
    "no reply": "No reply",
    "wrong reply": "Wrong reply",
    "lookup failed": "Address not found",
  };

  function clock(date) {
    return date.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", second: "2-digit", hour12: false });
  }

  // A remembered level's time: it may be days old, so with its date.
  function dateClock(date) {
    return date.toLocaleString([], { day: "numeric", month: "short", hour: "2-digit", minute: "2-digit", hour12: false });
  }

  function problemText(problem) {
    if (!problem.text) return "";
    const words = PROBLEM_WORDS[problem.text] || problem.text.charAt(0).toUpperCase() + problem.text.slice(1);
    // A problem already there when the page opened happened at a time the page never learnt.
    return words + (problem.before ? ", before " : " at ") + clock(problem.at);
  }

  function noProblem() {
    return { text: "", at: null, before: false };
  }

  // What the row's value shows: the user's position while the slider is held, a command's target while it is
  // in flight, else the confirmed level; null when none is known.
  function shownLevel(row) {
    if (row.active) return Number(row.slider.value);
    if (row.pending) return row.pending.target;
    return row.level;
  }

  function state(row) {
    if (row.pending) return row.pending.fade && row.pending.accepted ? "fading" : "sending";
    if (row.localProblem.text || row.serverProblem.text) return "problem";
    return row.level === null ? "unknown" : "confirmed";
  }

  function statusText(row, now) {
    const current = row.level === null ? "" : " · now " + percent(row.level);
    if (now === "sending" && row.pending.target !== null) return "Sending " + percent(row.pending.target) + "…" + current;
    if (now === "sending") return "Sending…" + current;
    if (now === "fading") return "Fading to " + percent(row.pending.target) + current;
    // The level from before the machine started is a hint: the unit may have been switched since.
    if (row.level === null && row.remembered) {
      return "Not confirmed since start · last " + percent(row.remembered.level) + " at " + dateClock(row.remembered.at);
    }
    if (row.level === null) return "Level unknown: never confirmed";
    return "";
  }

  function render(row) {
    const now = state(row);
    const known = row.level !== null;
    row.li.setAttribute("data-state", now);
    row.li.setAttribute("data-level", known ? String(row.level) : "");
    // Unknown, and no command in flight: also when its only command failed.
    row.li.classList.toggle("unknown", !known && row.pending === null);
    row.switch.setAttribute("aria-checked", known && row.level > 0 ? "true" : "false");
    row.switch.classList.toggle("unknown", !known);
    row.status.textContent = statusText(row, now);
    // A command in flight hides the last one's failure: it is being tried again.
    row.problem.textContent = row.pending ? "" : problemText(row.localProblem.text ? row.localProblem : row.serverProblem);
    const level = shownLevel(row);
    row.percent.textContent = level === null ? "–" : percent(level);
    row.levelText.textContent = level === null ? "" : String(level);
    row.value.classList.toggle("pending", row.active || row.pending !== null);
    if (row.active) return;
    row.slider.value = level === null ? "0" : String(level);
    row.slider.setAttribute("aria-valuetext", level === null ? "level not known" : percent(level));
  }

  function showSliderPosition(row) {
    const text = percent(Number(row.slider.value));
    row.slider.setAttribute("aria-valuetext", text);
    render(row);
  }

  function endPending(row) {
    clearTimeout(row.pendingTimer);
    row.pendingTimer = null;
    row.pending = null;
  }

  // A command now in flight for `row`, towards `target` (null when the page cannot know it): it ends when
  // the unit confirms the target or fails, or, should another command have replaced it unseen, after a while.
  function startPending(row, target) {
    endPending(row);
    const seconds = Number(byId("transition").value || "0");
    row.pending = { target: target, fade: seconds > 0 && row.level !== null, accepted: false };
    row.localProblem = noProblem();
    row.pendingTimer = setTimeout(() => {
      row.pendingTimer = null;
      row.pending = null;
      render(row);
    }, seconds * 1000 + PENDING_MS);
  }

  function released(row) {
    return row.active && row.released && row.inFlight === 0 && row.sendTimer === null;
  }

  async function send(row, fields, target) {
    const pending = [row, ...membersOf(row)];
    for (const each of pending) startPending(each, each === row ? target : memberTarget(each, fields));
    render(row);
    pending.forEach(render);
    row.inFlight += 1;
    const problem = await post(row.path, commandBody(fields));
    row.inFlight -= 1;
    for (const each of pending) {
      if (!each.pending) continue;
      if (problem) {
        endPending(each);
      } else {
        each.pending.accepted = true;
      }
    }
    if (problem) row.localProblem = { text: problem, at: new Date(), before: false };
    pending.forEach(render);
    return problem;
  }

  function membersOf(row) {
    if (row.kind !== "group") return [];
    return row.memberNames.map((name) => rows.get("unit " + name)).filter((member) => member);
  }

  // The level a member of a group is sent to: ON goes back to its last level above 0, as the service does it.
  function memberTarget(member, fields) {
    if (typeof fields.brightness === "number") return fields.brightness;
    if (fields.state === "OFF") return 0;
    return member.lastOn !== null && member.lastOn > 0 ? member.lastOn : 255;
  }

  function switchTarget(row, on) {
    if (!on) return 0;
    if (row.kind === "unit") return memberTarget(row, { state: "ON" });
    const members = membersOf(row);
    if (members.length === 0) return null;
    const levels = members.map((member) => memberTarget(member, { state: "ON" }));
    return Math.floor(levels.reduce((a, b) => a + b, 0) / levels.length);
  }

  async function sendSliderLevel(row) {
    const value = Number(row.slider.value);
    if (value !== row.lastSent) {
      row.lastSent = value;
      row.lastSentAt = performance.now();
      await send(row, { brightness: value }, value);
    }
    if (released(row)) {
      row.active = false;
      row.released = false;
      row.lastSent = null;
      render(row);
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
      lastOn: null,
      remembered: null,    // {level, at}: from before the machine started, while the level is not known
      memberNames: [],
      serverProblem: noProblem(),
      localProblem: noProblem(),
      pending: null,       // {target, fade, accepted}: a command in flight
      pendingTimer: null,
      active: false,       // the slider shows the user's position, not the confirmed level
      released: false,
      lastSent: null,
      lastSentAt: -Infinity,
      inFlight: 0,
      sendTimer: null,
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
    row.members = element("p", "members");
    row.status = element("p", "status");
    row.status.setAttribute("data-status", "");
    row.status.setAttribute("aria-live", "polite");
    heading.append(label, row.members, row.status);
    head.append(heading, row.switch);

    const body = element("div", "row-body");
    row.slider = element("input");
    row.slider.type = "range";
    row.slider.id = id;
    row.slider.min = "0";
    row.slider.max = "255";
    row.slider.step = "1";
    row.value = element("div", "value");
    row.percent = element("output", "percent");
    row.percent.setAttribute("for", id);
    row.levelText = element("span", "level");
    row.levelText.setAttribute("aria-hidden", "true");
    row.value.append(row.percent, row.levelText);
    body.append(row.slider, row.value);

    row.problem = element("p", "problem");
    row.problem.setAttribute("data-problem", "");
    row.li.append(head, body, row.problem);

    row.slider.addEventListener("input", () => {
      row.active = true;
      row.released = false;
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
      const on = row.switch.getAttribute("aria-checked") !== "true";
      send(row, { state: on ? "ON" : "OFF" }, switchTarget(row, on));
    });
    return row;
  }

  function makeSceneButton(name, saved) {
    const button = element("button", saved ? "scene saved" : "scene", name);
    button.type = "button";
    button.setAttribute("data-scene", name);
    button.addEventListener("click", async () => {
      const problem = await post("/api/scenes/" + encodeURIComponent(name), commandBody({}));
      byId("message").textContent = problem ? name + ": " + problem : "";
    });
    if (!saved) return button;
    button.title = "Saved scene";
    const remove = element("button", "remove-scene", "×");
    remove.type = "button";
    remove.setAttribute("data-remove", name);
    remove.setAttribute("aria-label", "Remove the saved scene " + name);
    remove.addEventListener("click", async () => {
      if (!window.confirm("Remove the saved scene “" + name + "”?")) return;
      const problem = await post("/api/scenes", JSON.stringify({ remove: name }));
      byId("message").textContent = problem ? name + ": " + problem : "";
    });
    const both = element("span", "saved-scene");
    both.append(button, remove);
    return both;
  }

  // The lights a save may be limited to: none ticked saves them all.
  function buildSaveTargets(units, groups) {
    byId("save-targets").replaceChildren(...[...groups, ...units].map((item) => {
      const label = element("label", "save-target");
      const box = element("input");
      box.type = "checkbox";
      box.value = item.name;
      label.append(box, " " + item.name);
      return label;
    }));
  }

  async function saveScene(event) {
    event.preventDefault();
    const name = byId("save-name").value.trim();
    const units = [...byId("save-targets").querySelectorAll("input:checked")].map((box) => box.value);
    const request = { save: name };
    if (units.length > 0) request.units = units;
    let said = "";
    const problem = await post("/api/scenes", JSON.stringify(request), (answer) => {
      if (!answer || typeof answer.units !== "number") return;
      said = "Saved scene “" + name + "”: " + answer.units + (answer.units === 1 ? " light" : " lights") +
          (Array.isArray(answer.left_out) && answer.left_out.length > 0
            ? "; left out, level not known: " + answer.left_out.join(", ") : "") + ".";
    });
    byId("save-message").textContent = problem ? problem : said;
    if (!problem) byId("save-name").value = "";
  }

  // The next time is the service's local time, as the schedule itself keeps it, not the browser's.
  function makeScheduleRow(name) {
    const li = element("li", "schedule");
    li.setAttribute("data-schedule", name);
    const label = element("label", "schedule-name");
    const toggle = element("input");
    toggle.type = "checkbox";
    toggle.setAttribute("aria-label", "Schedule " + name);
    label.append(toggle, element("span", "", name));
    const next = element("span", "schedule-next");
    li.append(label, next);
    toggle.addEventListener("change", async () => {
      const on = toggle.checked;
      const problem = await post("/api/schedules/" + encodeURIComponent(name), JSON.stringify({ on: on }));
      byId("schedule-message").textContent = problem ? name + ": " + problem : "";
      if (problem) toggle.checked = !on;
    });
    schedules.set(name, { next: next, toggle: toggle });
    return li;
  }

  function showSchedule(item) {
    if (!item || typeof item.name !== "string") return;
    const row = schedules.get(item.name);
    if (!row) return;
    row.toggle.checked = item.on === true;
    row.next.textContent = item.on !== true ? "Off" : typeof item.next_text === "string" ? "Next " + item.next_text : "Not due";
    row.next.title = typeof item.next === "string" ? item.next : "";
  }

  // `live`: from an event, which comes as it happens; a whole state may tell of what happened before.
  function update(kind, item, live) {
    if (!item || typeof item.name !== "string") return;
    const row = rows.get(kind + " " + item.name);
    if (!row) return;
    row.level = typeof item.level === "number" ? item.level : null;
    if ("last_on" in item) row.lastOn = typeof item.last_on === "number" ? item.last_on : null;
    const remembered = item.remembered;
    row.remembered = remembered && typeof remembered.level === "number" && typeof remembered.at === "string" &&
        !isNaN(Date.parse(remembered.at)) ? { level: remembered.level, at: new Date(remembered.at) } : null;
    if ("problem" in item) {
      const text = item.problem ? String(item.problem) : "";
      if (text !== row.serverProblem.text || (text && live)) {
        row.serverProblem = text ? { text: text, at: new Date(), before: !live } : noProblem();
      }
    }
    if (Array.isArray(item.members)) {
      row.memberNames = item.members.filter((name) => typeof name === "string");
      row.members.textContent = row.memberNames.join(", ");
    }
    if (row.pending && live) {
      const failed = row.serverProblem.text !== "";
      if (failed || (row.pending.target !== null && row.level === row.pending.target)) endPending(row);
    }
    if (kind === "unit") {
      // A group's command is over once none of its members' is in flight.
      for (const group of rows.values()) {
        if (group.kind === "group" && group.pending && group.memberNames.includes(item.name) &&
            membersOf(group).every((member) => !member.pending)) {
          endPending(group);
          render(group);
        }
      }
    }
    render(row);
  }

  function build(units, groups, scenes, saved, scheduleNames) {
    for (const row of rows.values()) {
      clearTimeout(row.sendTimer);
      clearTimeout(row.pendingTimer);
    }
    rows.clear();
    const lists = { unit: byId("units"), group: byId("groups") };
    for (const [kind, items] of [["group", groups], ["unit", units]]) {
      lists[kind].replaceChildren(...items.map((item, index) => {
        const row = makeRow(kind, item.name, index);
        rows.set(kind + " " + item.name, row);
        return row.li;
      }));
      byId(kind + "s-section").hidden = items.length === 0;
    }
    byId("scenes").replaceChildren(...scenes.map((name) => makeSceneButton(name, saved.includes(name))));
    byId("scenes-section").hidden = scenes.length === 0 && units.length === 0;
    buildSaveTargets(units, groups);
    schedules.clear();
    byId("schedules").replaceChildren(...scheduleNames.map(makeScheduleRow));
    byId("schedules-section").hidden = scheduleNames.length === 0;
  }

  function applyState(state) {
    if (!state || typeof state !== "object") return;
    const named = (list) => (Array.isArray(list) ? list : []).filter((item) => item && typeof item.name === "string");
    const units = named(state.units);
    const groups = named(state.groups);
    const names = (list) => (Array.isArray(list) ? list : []).filter((name) => typeof name === "string");
    const scenes = names(state.scenes);
    const saved = names(state.saved_scenes);
    const timed = named(state.schedules);
    showLevelsFile(state.levels_file);

    const title = typeof state.title === "string" && state.title !== "" ? state.title : DEFAULT_TITLE;
    byId("title").textContent = title;
    document.title = title;

    const shape = JSON.stringify([units.map((u) => u.name), groups.map((g) => g.name), scenes, saved,
                                  timed.map((t) => t.name)]);
    if (shape !== layout) {
      build(units, groups, scenes, saved, timed.map((t) => t.name));
      layout = shape;
    }
    timed.forEach(showSchedule);
    groups.forEach((group) => update("group", group, false));
    units.forEach((unit) => update("unit", unit, false));
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
    stream.addEventListener("unit", (event) => update("unit", parse(event.data), true));
    stream.addEventListener("group", (event) => update("group", parse(event.data), true));
    stream.addEventListener("levels_file", (event) => showLevelsFile(parse(event.data)));
    stream.addEventListener("schedule", (event) => showSchedule(parse(event.data)));
  }

  byId("save-form").addEventListener("submit", saveScene);
  fetch("/api/state", { credentials: "same-origin" })
    .then((answer) => (answer.ok ? answer.json() : null))
    .then((state) => {
      if (!streamState) applyState(state);
    })
    .catch(() => {});
  listen();
})();
