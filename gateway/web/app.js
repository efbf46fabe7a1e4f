// The morventd dashboard: reads /api/readers and /api/tags once, then follows
// /api/events (Server-Sent Events) for tag events, reader states and rates.
// History and a tag's trail are searched on request (/api/history,
// /api/tags/{epc}/trail).
"use strict";

const $ = (selector, root = document) => root.querySelector(selector);
const readers = new Map();  // name -> reader object from the API
const tags = new Map();     // tagKey(tag) -> {row, data}
const colors = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2"];
const DEPARTED_SHOWN_MS = 4000;
let paused = false;
let held = [];

function text(value) { return value === null || value === undefined ? "" : String(value); }
function time(iso) { return iso ? new Date(iso).toLocaleTimeString() : ""; }
function dateTime(iso) { return iso ? new Date(iso).toLocaleString() : ""; }
function cell(row, value, cls) {
  const td = row.insertCell();
  td.textContent = text(value);
  if (cls) td.className = cls;
  return td;
}

// ---- pages ----
function show() {
  const page = (location.hash || "#readers").slice(1);
  document.querySelectorAll(".page").forEach((p) => p.classList.toggle("shown", p.id === "page-" + page));
  document.querySelectorAll("nav a").forEach((a) => a.classList.toggle("active", a.dataset.page === page));
  if (page === "rate") drawChart();
}
window.addEventListener("hashchange", show);

// ---- readers ----
function sparkline(history) {
  const w = 120, h = 24, max = Math.max(1, ...history);
  const n = Math.max(history.length, 2);
  const points = history.map((v, i) => `${(i * w / (n - 1)).toFixed(1)},${(h - v / max * (h - 2) - 1).toFixed(1)}`);
  return `<svg width="${w}" height="${h}" viewBox="0 0 ${w} ${h}"><polyline fill="none" stroke="#1f77b4" ` +
         `stroke-width="1.2" points="${points.join(" ")}"/></svg>`;
}

function renderReaders() {
  const body = $("#readers-table tbody");
  body.textContent = "";
  for (const r of readers.values()) {
    const row = body.insertRow();
    row.dataset.reader = r.name;
    row.dataset.state = r.state;
    cell(row, r.name);
    cell(row, r.link);
    const state = document.createElement("span");
    state.className = "state " + r.state;
    state.textContent = r.state;
    row.insertCell().appendChild(state);
    cell(row, time(r.since)).title = text(r.detail);
    cell(row, (r.reads_per_s || 0).toFixed(1));
    row.insertCell().innerHTML = sparkline(r.history || []);
    cell(row, r.tags_in_view);
    cell(row, r.reconnects);
    cell(row, r.last_error, "error");
  }
  const places = $("#locations");
  places.textContent = "";
  for (const place of new Set([...readers.values()].map((r) => r.location || r.name))) places.append(new Option(place));
  for (const select of document.querySelectorAll(".reader-select")) {
    const chosen = select.value;
    if (select.options.length === readers.size) continue;
    select.textContent = "";
    for (const name of readers.keys()) select.add(new Option(name, name));
    if (chosen) select.value = chosen;
  }
}

// ---- live tags ----
// A tag matches the filter by a part of its EPC or of its GS1 identity
// ("sgtin", "0614141.812345"), in either case.
function matches(data) {
  const f = $("#filter").value.trim().toLowerCase();
  return !f || data.epc.toLowerCase().includes(f) || text(data.uri).toLowerCase().includes(f);
}

function applyFilter() {
  let shown = 0;
  for (const t of tags.values()) {
    const visible = matches(t.data);
    t.row.hidden = !visible;
    if (visible) shown++;
  }
  $("#tag-count").textContent = `${shown} of ${tags.size} tags`;
}

function fillTag(t) {
  const row = t.row, d = t.data;
  row.textContent = "";
  cell(row, d.epc, "epc");
  cell(row, d.uri, "uri");
  cell(row, d.tid, "tid");
  cell(row, d.reader);
  cell(row, d.location);
  cell(row, time(d.first_seen));
  cell(row, time(d.last_seen));
  cell(row, d.total !== undefined ? d.total : d.count);
}

// A row per reader and tag, or with events by location one per tag, which
// moves from location to location.
function tagKey(t) { return t.scope === "location" ? t.epc : t.reader + " " + t.epc; }

function tagEvent(e) {
  const key = tagKey(e);
  let t = tags.get(key);
  if (!t) {
    if (e.type === "depart") return;
    const row = $("#tags-table tbody").insertRow(0);
    row.dataset.epc = e.epc;
    row.dataset.reader = e.reader;
    row.dataset.shownAt = Date.now();
    row.addEventListener("click", () => chooseTag(t.data));
    t = { row, data: {} };
    tags.set(key, t);
    row.classList.add("arrived");
    setTimeout(() => row.classList.remove("arrived"), 1500);
  }
  clearTimeout(t.removal);
  Object.assign(t.data, e);
  t.row.classList.toggle("departed", e.type === "depart");
  if (e.type === "depart") {
    t.removal = setTimeout(() => { t.row.remove(); tags.delete(key); applyFilter(); }, DEPARTED_SHOWN_MS);
  }
  fillTag(t);
  t.row.hidden = !matches(t.data);
  applyFilter();
}

function chooseTag(data) {
  const form = $("#tag-form");
  form.reader.value = data.reader;
  form.epc.value = data.epc;
  location.hash = "#tag";
  loadTrail();
}

$("#filter").addEventListener("input", applyFilter);
$("#pause").addEventListener("click", () => {
  paused = !paused;
  $("#pause").textContent = paused ? "Resume" : "Pause";
  if (!paused) { const events = held; held = []; events.forEach(tagEvent); }
});

// ---- read rate ----
function drawChart() {
  const canvas = $("#rate-chart");
  if (!canvas.offsetParent) return;
  const g = canvas.getContext("2d"), W = canvas.width, H = canvas.height, left = 50, bottom = 24;
  g.clearRect(0, 0, W, H);
  let max = 1;
  for (const r of readers.values()) max = Math.max(max, ...(r.history || []));
  const step = Math.pow(10, Math.floor(Math.log10(max)));
  max = Math.ceil(max / step) * step;
  g.font = "11px sans-serif";
  g.strokeStyle = "#e3e6eb";
  g.fillStyle = "#666";
  for (let i = 0; i <= 4; i++) {
    const y = (H - bottom) - i * (H - bottom - 10) / 4;
    g.beginPath(); g.moveTo(left, y); g.lineTo(W - 10, y); g.stroke();
    g.fillText(String(Math.round(max * i / 4)), 6, y + 4);
  }
  for (let m = 0; m <= 10; m += 2) {
    const label = m === 10 ? "now" : `-${10 - m} min`;
    g.fillText(label, left + m * (W - left - 10) / 10 - g.measureText(label).width / (m === 10 ? 1 : 2), H - 6);
  }
  const legend = $("#rate-legend");
  legend.textContent = "";
  let i = 0;
  for (const r of readers.values()) {
    const color = colors[i++ % colors.length], h = r.history || [];
    g.strokeStyle = color;
    g.lineWidth = 1.5;
    g.beginPath();
    h.forEach((v, k) => {
      const x = left + (600 - h.length + k) * (W - left - 10) / 599;
      const y = (H - bottom) - v / max * (H - bottom - 10);
      k ? g.lineTo(x, y) : g.moveTo(x, y);
    });
    g.stroke();
    const item = document.createElement("span");
    item.innerHTML = `<i style="background:${color}"></i>`;
    item.append(`${r.name}: ${(r.reads_per_s || 0).toFixed(1)}/s`);
    legend.append(item);
  }
}

function rates(e) {
  for (const [name, v] of Object.entries(e.readers)) {
    const r = readers.get(name);
    if (!r) continue;
    r.history = (r.history || []).concat([v.rate]).slice(-600);
    r.reads_per_s = v.rate;
    r.tags_in_view = v.tags_in_view;
    r.reconnects = v.reconnects;
  }
  renderReaders();
  drawChart();
}

// ---- history ----
// The search the form describes, as query parameters; "" fields left out.
function historyParams() {
  const form = $("#history-form"), params = new URLSearchParams();
  const tag = form.tag.value.trim();
  if (tag) params.set(tag.startsWith("urn:") ? "uri" : "epc", tag.replace(/\s+/g, ""));
  if (form.location.value.trim()) params.set("location", form.location.value.trim());
  if (form.type.value) params.set("type", form.type.value);
  // The browser's local time, sent with its zone.
  if (form.from.value) params.set("from", new Date(form.from.value).toISOString());
  if (form.to.value) params.set("to", new Date(form.to.value).toISOString());
  return params;
}

function updateExport() {
  const params = historyParams();
  params.set("format", "csv");
  $("#history-csv").href = "/api/history?" + params;
}

let historyNext = null;

async function searchHistory(more) {
  const params = historyParams();
  if (more && historyNext) params.set("after", historyNext);
  const body = $("#history-table tbody");
  if (!more) body.textContent = "";
  const res = await fetch("/api/history?" + params);
  const answer = await res.json();
  if (!res.ok) {
    say("#history-result", false, `${res.status}: ${answer.error}`);
    $("#history-more").hidden = true;
    return;
  }
  for (const e of answer.events) {
    const row = body.insertRow();
    row.dataset.seq = e.seq;
    row.dataset.time = e.last_seen;
    row.dataset.epc = e.epc;
    cell(row, dateTime(e.last_seen));
    cell(row, e.type);
    cell(row, e.epc, "epc");
    cell(row, e.uri, "epc");
    cell(row, e.reader);
    cell(row, e.location || e.reader);
    cell(row, e.count);
    row.addEventListener("click", () => chooseTag(e));
  }
  historyNext = answer.next;
  $("#history-more").hidden = !historyNext;
  const shown = body.rows.length;
  say("#history-result", true, shown ? `${shown} events, newest first${historyNext ? "; older ones follow" : ""}` : "no events match");
}

$("#history-form").addEventListener("submit", (ev) => { ev.preventDefault(); updateExport(); searchHistory(false); });
$("#history-form").addEventListener("input", updateExport);
$("#history-more").addEventListener("click", () => searchHistory(true));

// The stays of the tag the Tag page shows, oldest first.
async function loadTrail() {
  const epc = $("#tag-form").epc.value.trim();
  const body = $("#trail tbody"), note = $("#trail-result");
  body.textContent = "";
  if (!epc) { note.textContent = "Choose a tag to see where it has been."; return; }
  const res = await fetch(`/api/tags/${encodeURIComponent(epc)}/trail`);
  const answer = await res.json();
  if (!res.ok) { note.textContent = `${res.status}: ${answer.error}`; return; }
  for (const v of answer.visits) {
    const row = body.insertRow();
    row.dataset.location = v.location;
    cell(row, v.location);
    cell(row, v.since ? dateTime(v.since) : "before the history");
    cell(row, v.until ? dateTime(v.until) : "still there");
    cell(row, v.readers.join(", "));
  }
  note.textContent = answer.visits.length ? `last read ${dateTime(answer.last_seen)}` : `no history of ${epc}`;
}

$("#trail-load").addEventListener("click", loadTrail);

// ---- operations ----
function token() { return $("#token").value; }
$("#token").value = localStorage.getItem("morventd-token") || "";
$("#token").addEventListener("change", () => localStorage.setItem("morventd-token", token()));

async function call(method, path, body) {
  const headers = { "Content-Type": "application/json" };
  if (token()) headers.Authorization = "Bearer " + token();
  const res = await fetch(path, { method, headers, body: body ? JSON.stringify(body) : undefined });
  let answer;
  try { answer = await res.json(); } catch (err) { answer = { error: res.statusText }; }
  answer.httpStatus = res.status;
  return answer;
}

function describe(a) {
  if (a.ok) return "done";
  let s = `${a.httpStatus}: ${a.error || "failed"}`;
  if (a.meaning) s += ` — ${a.meaning}`;
  if (a.tag_error) s += `; tag error ${a.tag_error} — ${a.tag_meaning}`;
  return s;
}

function say(target, ok, message) {
  const box = $(target);
  box.className = "result " + (ok ? "ok" : "failed");
  box.textContent = message;
}

function report(target, answer, okText) {
  say(target, answer.ok, answer.ok ? okText : describe(answer));
}

function tagTarget() {
  const form = $("#tag-form");
  const body = {};
  if (form.epc.value.trim()) body.epc = form.epc.value.trim();
  if (form.password.value.trim()) body.password = form.password.value.trim();
  return { reader: form.reader.value, body };
}

// The tag the page shows, for a change: changes go to it by its EPC, never
// to whichever tag happens to answer. Null (and said so) when none is shown.
function shownTag() {
  const target = tagTarget();
  if (target.body.epc) return target;
  say("#tag-result", false, "No tag chosen: click a tag on Live tags or enter its EPC; only reads go to any tag.");
  return null;
}

$("#tag-form").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const { reader, body } = tagTarget();
  const table = $("#banks tbody");
  table.textContent = "";
  for (const [bank, words] of [["reserved", 4], ["epc", 8], ["tid", 6], ["user", 8]]) {
    const a = await call("POST", `/api/readers/${encodeURIComponent(reader)}/tags/read`, { ...body, bank, words });
    const row = table.insertRow();
    row.dataset.bank = bank;
    cell(row, bank);
    cell(row, a.ok ? a.data.replace(/(.{4})/g, "$1 ").trim() : describe(a), a.ok ? "" : "error");
  }
});

$("#write-form").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const shown = shownTag(), form = ev.target;
  if (!shown) return;
  const a = await call("POST", `/api/readers/${encodeURIComponent(shown.reader)}/tags/write`,
                       { ...shown.body, bank: "user", pointer: Number(form.pointer.value), data: form.data.value.trim() });
  report("#tag-result", a, `user memory of ${a.epc} written`);
});

// The new EPC is hex, or a GS1 identity (urn:epc:...) the gateway encodes
// with the filter given.
$("#epc-form").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const shown = shownTag(), form = ev.target;
  if (!shown) return;
  const value = form.new_epc.value.trim(), body = { ...shown.body };
  if (/^urn:/i.test(value)) {
    body.new_uri = value;
    if (form.filter.value !== "") body.filter = Number(form.filter.value);
  } else {
    body.new_epc = value;
  }
  const a = await call("POST", `/api/readers/${encodeURIComponent(shown.reader)}/tags/write-epc`, body);
  if (a.ok) $("#tag-form").epc.value = a.new_epc;  // the page goes on showing the same tag
  report("#tag-result", a, `EPC of ${a.epc} changed to ${a.new_epc}` + (a.new_uri ? ` (${a.new_uri})` : ""));
});

$("#settings-load").addEventListener("click", async () => {
  const form = $("#settings-form");
  const a = await call("GET", `/api/readers/${encodeURIComponent(form.reader.value)}/settings`);
  if (a.ok) {
    form.power.value = a.power;
    form.scan_time.value = a.scan_time;
    form.region1.value = a.region[0];
    form.region2.value = a.region[1];
  }
  report("#settings-result", a, "settings read");
});

$("#settings-form").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const form = ev.target, body = {};
  if (form.power.value !== "") body.power = Number(form.power.value);
  if (form.scan_time.value !== "") body.scan_time = Number(form.scan_time.value);
  if (form.region1.value !== "" && form.region2.value !== "") body.region = [Number(form.region1.value), Number(form.region2.value)];
  const a = await call("PUT", `/api/readers/${encodeURIComponent(form.reader.value)}/settings`, body);
  report("#settings-result", a, "settings changed");
});

// ---- the gateway's presence ----
// What the page shows of the readers is the gateway's word; once the gateway
// is gone (stopped, crashed, unreachable) that word is stale, and the readers
// are shown offline until it answers again.
const SILENT_MS = 5000;  // the gateway sends read rates every second
let source = null, heardAt = 0, gone = false;

function gatewayGone(why) {
  $("#stream").textContent = why;
  $("#stream").className = "stream";
  if (gone) return;
  gone = true;
  for (const r of readers.values()) Object.assign(r, { state: "offline", detail: why, reads_per_s: 0 });
  renderReaders();
}

// The readers and the tags in view, as the gateway has them now.
async function load() {
  const fresh = await (await fetch("/api/readers")).json();
  for (const r of fresh) readers.set(r.name, r);
  renderReaders();
  const inView = await (await fetch("/api/tags")).json();
  const kept = new Set(inView.map(tagKey));
  for (const [key, t] of tags) if (!kept.has(key)) { t.row.remove(); tags.delete(key); }
  for (const t of inView) tagEvent({ ...t, type: "report", total: t.count });
}

function connect() {
  if (source) source.close();
  source = new EventSource("/api/events");
  heardAt = Date.now();
  source.onopen = async () => {
    heardAt = Date.now();
    $("#stream").textContent = "live";
    $("#stream").className = "stream live";
    if (gone) {
      gone = false;
      try { await load(); } catch (err) { gatewayGone("the gateway is unreachable"); }
    }
  };
  source.onerror = () => {
    gatewayGone("the gateway is unreachable");
    // Refused outright (not a lost connection): the browser gives up, so try again here.
    if (source.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
  };
  const heard = (handle) => (m) => { heardAt = Date.now(); handle(JSON.parse(m.data)); };
  source.addEventListener("tag", heard((e) => { if (paused) held.push(e); else tagEvent(e); }));
  source.addEventListener("reader", heard((r) => {
    const old = readers.get(r.name) || {};
    readers.set(r.name, { ...old, ...r, history: old.history });
    renderReaders();
  }));
  source.addEventListener("rates", heard(rates));
}

// A gateway that hangs keeps the connection open but sends nothing.
setInterval(() => {
  if (source && source.readyState === EventSource.OPEN && Date.now() - heardAt > SILENT_MS) {
    gatewayGone("the gateway is not answering");
    connect();
  }
}, 1000);

// ---- start ----
async function start() {
  show();
  const config = await (await fetch("/api/config")).json();
  $("#gateway").textContent = config.gateway;
  for (const type of config.event_types || []) $("#history-form").type.add(new Option(type, type));
  updateExport();
  $("#writes").textContent = { open: "changes allowed (loopback only)", token: "changes need the token",
                               refused: "changes refused (no token configured)" }[config.writes];
  await load();
  connect();
}
start();
