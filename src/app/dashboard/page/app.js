// The operator's dashboard: draws what the server's model says (GET /api/v1/state, then the
// live stream of /api/v1/events) and sends the operator's few actions. No rules live here:
// the words, states and counts all come from the server.
"use strict";

const params = new URLSearchParams(location.search);
let token = params.get("token") || sessionStorage.getItem("tarvex-token") || "";
let line = {};
const tiles = new Map(); // port -> {root, parts}

const $ = (id) => document.getElementById(id);

function el(tag, cls, parent) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (parent) parent.appendChild(e);
  return e;
}

function withToken(path) {
  return token ? path + (path.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token) : path;
}

function seconds(s) {
  if (s === null || s === undefined) return "–";
  return s < 60 ? s.toFixed(1) + " s" : Math.floor(s / 60) + " min " + Math.round(s % 60) + " s";
}

function rate(bytesPerSecond) {
  if (!bytesPerSecond) return "";
  return bytesPerSecond >= 1024 ? (bytesPerSecond / 1024).toFixed(1) + " KiB/s" : Math.round(bytesPerSecond) + " B/s";
}

async function post(path, body) {
  const headers = { "Content-Type": "application/json" };
  if (token) headers.Authorization = "Bearer " + token;
  const r = await fetch(path, { method: "POST", headers, body: JSON.stringify(body) });
  if (r.status === 401) askToken();
  return r.ok;
}

function drawHeader(h) {
  line = h;
  $("job").textContent = h.job || (h.command === "station" ? "Station" : "Gang");
  const facts = $("facts");
  facts.replaceChildren();
  const fact = (label, value) => {
    if (value) el("span", "", facts).textContent = label + " " + value;
  };
  fact("Product", h.product);
  fact("Bootloader", h.bootloader);
  fact("Firmware", h.firmware);
  fact("Container", h.container_sha256 ? h.container_sha256.slice(0, 12) : "");
  $("passed").textContent = h.counts.passed;
  $("failed").textContent = h.counts.failed;
  $("yield").textContent = h.counts.first_pass_yield === null ? "–" : Math.round(h.counts.first_pass_yield * 1000) / 10 + " %";
  $("median").textContent = seconds(h.counts.median_seconds);
  const stop = $("stop");
  stop.hidden = h.command !== "station";
  stop.disabled = h.stopping;
  stop.textContent = h.stopping ? "Stopping after these units" : "Stop after these units";
}

function makeTile(port) {
  const root = el("article", "tile", $("tiles"));
  root.dataset.port = port;
  const parts = {
    name: el("div", "name", root),
    sub: el("div", "sub", root),
    state: el("div", "state", root),
    detail: el("div", "detail", root),
    bar: el("div", "bar", root),
    why: el("div", "why", root),
    hint: el("div", "hint", root),
    unit: el("div", "unit", root),
    form: el("form", "", root),
  };
  el("div", "", parts.bar);
  const input = el("input", "", parts.form);
  input.placeholder = "Unit id (type or scan)";
  input.setAttribute("aria-label", "Unit id for " + port);
  const send = el("button", "", parts.form);
  send.type = "submit";
  send.textContent = "Set";
  parts.form.hidden = true;
  parts.input = input;
  parts.form.addEventListener("submit", async (ev) => {
    ev.preventDefault();
    const id = input.value.trim();
    if (id && (await post("/api/v1/unit-id", { port, unit_id: id }))) input.value = "";
  });
  parts.ack = el("button", "ack", root);
  parts.ack.type = "button";
  parts.ack.textContent = "Acknowledge";
  parts.ack.addEventListener("click", () => post("/api/v1/ack", { port }));
  const t = { root, parts };
  tiles.set(port, t);
  return t;
}

function drawTile(tile) {
  const t = tiles.get(tile.port) || makeTile(tile.port);
  const p = t.parts;
  t.root.className = "tile " + tile.state + (tile.acknowledged ? " acknowledged" : "");
  t.root.dataset.state = tile.state;
  p.name.textContent = tile.name;
  p.sub.textContent = [tile.name !== tile.port ? tile.port : "", tile.serial_number ? "adapter " + tile.serial_number : ""].filter(Boolean).join(" · ");
  p.state.textContent = tile.label;
  const loading = tile.state === "loading";
  let detail = tile.detail || "";
  if (loading) {
    detail = [tile.item, tile.percent === null ? "" : tile.percent + " %", rate(tile.rate),
      tile.seconds_left === null ? "" : seconds(tile.seconds_left) + " left"].filter(Boolean).join(" · ");
  } else if (tile.state === "fail" && tile.acknowledged) {
    detail = "acknowledged" + (detail ? " · " + detail : "");
  }
  p.detail.textContent = detail;
  p.bar.hidden = !loading;
  p.bar.firstChild.style.width = (tile.percent || 0) + "%";
  const failed = tile.state === "fail" || tile.state === "cancelled";
  const outcome = tile.panel_code ? "panel code " + tile.panel_code : (tile.outcome || "").replace("_", " ");
  p.why.textContent = failed ? [outcome, tile.message].filter(Boolean).join(" · ") : "";
  p.hint.textContent = failed && tile.hint ? tile.hint : "";
  const unit = [tile.unit_id ? "Unit " + tile.unit_id : "", tile.attempt ? "attempt " + tile.attempt + (tile.attempts ? " of " + tile.attempts : "") : "",
    tile.next_unit_id ? "next: " + tile.next_unit_id : "", tile.passed + " passed, " + tile.failed + " failed"].filter(Boolean);
  p.unit.textContent = unit.join(" · ");
  p.ack.hidden = !(tile.state === "fail" && !tile.acknowledged);
  // The field is there only while the port waits for its unit's id. A scanner types into the
  // field that has the focus: the first tile that asks gets it, unless another field has it.
  const asking = Boolean(line.unit_ids_from_dashboard && tile.wants_unit_id);
  const wasHidden = p.form.hidden;
  p.form.hidden = !asking;
  if (asking && wasHidden && !(document.activeElement instanceof HTMLInputElement)) p.input.focus();
}

function unitRow(u, atTop) {
  const body = $("units");
  const tr = document.createElement("tr");
  const cells = [new Date(u.time).toLocaleTimeString(), u.port, u.unit_id || "–", u.outcome, u.seconds.toFixed(1)];
  cells.forEach((text, i) => {
    const td = el("td", i === 3 ? (u.passed ? "pass" : "fail") : "", tr);
    td.textContent = i === 3 ? (u.passed ? "PASS" : "FAIL") + " (" + text + ")" : text;
  });
  if (atTop) body.insertBefore(tr, body.firstChild); else body.appendChild(tr);
  while (body.rows.length > 50) body.deleteRow(body.rows.length - 1);
}

function drawState(s) {
  drawHeader(s.line);
  const seen = new Set(s.ports.map((t) => t.port));
  for (const [port, t] of tiles) {
    if (!seen.has(port)) { t.root.remove(); tiles.delete(port); }
  }
  s.ports.forEach(drawTile);
  $("units").replaceChildren();
  s.units.forEach((u) => unitRow(u, false));
}

function connected(yes) {
  $("connection").hidden = yes;
  document.body.dataset.connected = yes ? "yes" : "no";
}

function askToken() {
  $("token").hidden = false;
}

$("token").addEventListener("submit", (ev) => {
  ev.preventDefault();
  token = $("token-input").value.trim();
  sessionStorage.setItem("tarvex-token", token);
  location.reload();
});

$("stop").addEventListener("click", () => post("/api/v1/stop", {}));

let source = null;
function connect() {
  // The stream starts with a full snapshot, so a page that reconnects shows the truth at once.
  source = new EventSource(withToken("/api/v1/events"));
  source.onopen = () => connected(true);
  source.onerror = async () => {
    connected(false);
    if (source.readyState === EventSource.CLOSED) {
      // The browser gave up (a refused request): see why, and try again later.
      const r = await fetch(withToken("/api/v1/state")).catch(() => null);
      if (r && r.status === 401) { askToken(); return; }
      setTimeout(connect, 2000);
    }
  };
  source.addEventListener("state", (e) => { connected(true); drawState(JSON.parse(e.data)); });
  source.addEventListener("tile", (e) => drawTile(JSON.parse(e.data)));
  source.addEventListener("header", (e) => drawHeader(JSON.parse(e.data)));
  source.addEventListener("unit", (e) => unitRow(JSON.parse(e.data), true));
}

connected(false);
connect();
