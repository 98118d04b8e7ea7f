// SPDX-License-Identifier: Apache-2.0
// The look-development page: draws each shader instance's options panel from the description the
// server serves, sends every change through it, and shows the render as it refines.
"use strict";

const state = { lights: [], instances: [], shown: "", generation: 0, sweep: null };

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === "class") e.className = v;
    else if (k === "text") e.textContent = v;
    else e.setAttribute(k, v);
  }
  for (const c of children) if (c) e.append(c);
  return e;
}

async function call(method, path, body) {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.body = JSON.stringify(body);
    options.headers["Content-Type"] = "application/json";
  }
  const res = await fetch(path, options);
  let data = {};
  try { data = await res.json(); } catch (e) { data = { error: "the server's answer was not readable" }; }
  return { ok: res.ok, data };
}

// ---- Values in the page's units ------------------------------------------------------------------

const units = { percentage: "%", distance: "m" };
const scale = (kind) => (kind === "percentage" ? 100 : 1);

function shown(v, kind) {
  const n = v * scale(kind);
  return String(Math.round(n * 1e6) / 1e6);
}

// Text typed into a field, as the value the panel takes: a number when it reads as one, else the
// text itself, so the panel answers with its own message.
function typed(text, kind) {
  const t = text.trim();
  const n = Number(t);
  return t !== "" && Number.isFinite(n) ? n / scale(kind) : text;
}

function srgb(v) {
  v = Math.min(1, Math.max(0, v));
  return Math.round(255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * Math.pow(v, 1 / 2.4) - 0.055));
}

// The lights a prefix selects, as the shader matches them: leading spaces ignored, an empty
// prefix selects every light.
function selectedLights(prefix) {
  const p = prefix.replace(/^ +/, "");
  if (p === "") return state.lights.slice();
  return state.lights.filter((n) => n.startsWith(p));
}

// ---- The panels ------------------------------------------------------------------------------------

function controlRow(inst, c) {
  const id = `c-${inst}-${c.id}`;
  const row = el("div", { class: "control", "data-name": c.name, "data-kind": c.kind, "data-instance": inst });
  const label = el("label", { for: id, text: c.label });
  const cell = el("span", { class: "value" });
  const message = el("div", { class: "message", role: "alert" });
  row.append(label, cell);
  // Ranges in the message are the panel's stored values; percentages add the range as shown.
  const note = c.kind === "percentage" && c.range ? ` (${shown(c.range[0], c.kind)} % to ${shown(c.range[1], c.kind)} %)` : "";
  const send = (value) => change(inst, c.name, value, row, note);
  if (c.kind === "colour") {
    for (let k = 0; k < 3; ++k) {
      const input = el("input", { type: "text", id: k ? `${id}-${k}` : id, "aria-label": `${c.label} ${"RGB"[k]}` });
      input.addEventListener("change", () => {
        const parts = [...cell.querySelectorAll("input")].map((i) => typed(i.value, c.kind));
        send(parts);
      });
      cell.append(input);
    }
    cell.append(el("span", { class: "swatch" }));
  } else if (c.kind === "toggle") {
    const input = el("input", { type: "checkbox", id });
    input.addEventListener("change", () => send(input.checked));
    cell.append(input);
  } else if (c.kind === "string") {
    const input = el("input", { type: "text", id, class: "prefix", list: "light-names", autocomplete: "off" });
    const selects = el("div", { class: "selects" });
    input.addEventListener("input", () => showSelection(selects, input.value));
    input.addEventListener("change", () => send(input.value));
    cell.append(input);
    row.append(selects);
  } else {
    const input = el("input", { type: "text", id, inputmode: "decimal" });
    input.addEventListener("change", () => send(typed(input.value, c.kind)));
    cell.append(input);
    if (units[c.kind]) cell.append(el("span", { class: "unit", text: units[c.kind] }));
    if (c.range && c.kind === "percentage")
      cell.append(el("span", { class: "range", text: `${shown(c.range[0], c.kind)} to ${shown(c.range[1], c.kind)}` }));
  }
  row.append(message);
  return row;
}

function showSelection(target, prefix) {
  const names = selectedLights(prefix);
  target.textContent = names.length ? `selects ${names.join(", ")}` : "selects no light";
}

// Puts the server's values into a panel's fields, and enables or disables them.
function fill(inst) {
  const panel = state.instances[inst].panel;
  if (!panel) return;
  for (const c of panel.controls) {
    const row = document.querySelector(`.control[data-instance="${inst}"][data-name="${CSS.escape(c.name)}"]`);
    if (!row) continue;
    const inputs = row.querySelectorAll("input");
    if (c.kind === "colour" && Array.isArray(c.value)) {
      inputs.forEach((input, k) => (input.value = shown(c.value[k], c.kind)));
      row.querySelector(".swatch").style.background = `rgb(${c.value.map(srgb).join(",")})`;
    } else if (c.kind === "toggle") {
      inputs[0].checked = !!c.value;
    } else if (c.kind === "string") {
      inputs[0].value = c.value;
      showSelection(row.querySelector(".selects"), c.value);
    } else if (typeof c.value === "number") {
      inputs[0].value = shown(c.value, c.kind);
    }
    row.classList.toggle("disabled", !c.enabled);
    inputs.forEach((input) => (input.disabled = !c.enabled));
  }
}

function buildPanel(inst, entry) {
  const box = el("div", { class: "panel", "data-instance": inst });
  const p = entry.panel;
  box.append(el("h2", { text: `${p ? p.title : entry.server} (surface "${entry.surface}")` }));
  if (!p) {
    box.append(el("p", { text: "This shader has no options panel." }));
    return box;
  }
  const controls = new Map(p.controls.map((c) => [c.id, c]));
  const groups = new Map(p.groups.map((g) => [g.id, g]));
  const placed = new Set();
  const addMembers = (groupId, parent, depth) => {
    const g = groups.get(groupId);
    placed.add(groupId);
    if (!g || depth > 32) return;
    for (const id of g.members) {
      if (placed.has(id)) continue;
      if (controls.has(id)) {
        placed.add(id);
        parent.append(controlRow(inst, controls.get(id)));
      } else if (groups.has(id)) {
        const set = el("fieldset", { class: "group" });
        if (groups.get(id).label) set.append(el("legend", { text: groups.get(id).label }));
        parent.append(set);
        addMembers(id, set, depth + 1);
      }
    }
  };
  for (const tabs of p.tabSets) {
    const bar = el("div", { class: "tabs", role: "tablist" });
    box.append(bar);
    placed.add(tabs.id);
    tabs.members.forEach((pageId, k) => {
      const g = groups.get(pageId);
      const name = g && g.label ? g.label : `Page ${k + 1}`;
      const tab = el("button", { type: "button", role: "tab", "aria-selected": k === 0 ? "true" : "false", text: name });
      const page = el("div", { class: "page", role: "tabpanel", "aria-label": name });
      if (k) page.hidden = true;
      tab.addEventListener("click", () => {
        bar.querySelectorAll("button").forEach((b) => b.setAttribute("aria-selected", b === tab ? "true" : "false"));
        box.querySelectorAll(".page").forEach((pg) => (pg.hidden = pg !== page));
      });
      bar.append(tab);
      box.append(page);
      addMembers(pageId, page, 0);
    });
  }
  const member = (id) => p.groups.some((g) => g.members.includes(id));
  for (const g of p.groups)
    if (!placed.has(g.id) && !member(g.id)) {
      const set = el("fieldset", { class: "group" });
      if (g.label) set.append(el("legend", { text: g.label }));
      box.append(set);
      addMembers(g.id, set, 0);
    }
  for (const c of p.controls) if (!placed.has(c.id)) box.append(controlRow(inst, c));
  return box;
}

async function change(inst, name, value, row, note) {
  const message = row.querySelector(".message");
  const { ok, data } = await call("POST", "/api/set", { instance: inst, name, value });
  if (!ok) {
    const text = data.error || "refused";
    message.textContent = text.includes("out of range") ? text + note : text;
    fill(inst);  // the panel keeps its value
    return;
  }
  message.textContent = "";
  applyAnswer(data);
  poll();
}

// Answers to changes may arrive out of order: only one newer than every answer shown so far
// replaces the fields, so a late answer to an earlier change cannot undo a later one.
function applyAnswer(data) {
  if (state.generation !== undefined && data.generation < state.generation) return;
  state.instances = data.instances;
  state.instances.forEach((_, k) => fill(k));
  state.generation = data.generation;
}

// ---- The picture ----------------------------------------------------------------------------------

async function poll() {
  let data;
  try {
    const res = await fetch("/api/status");
    data = await res.json();
  } catch (e) {
    document.getElementById("render-state").textContent = "the server does not answer";
    return;
  }
  const img = document.getElementById("render");
  const stateText = document.getElementById("render-state");
  const g = data.generation;
  let want = "";
  if (data.full === g) want = "full";
  else if (data.preview === g) want = "preview";
  const key = `${want}:${g}`;
  if (want && key !== state.shown) {
    // Pictures asked for one after the other (a preview, then the full one) may arrive in either
    // order: only the one asked for last is shown, and one that fails is asked for again.
    state.shown = key;
    const next = new Image();
    next.onload = () => {
      if (state.shown !== key) return;
      img.src = next.src;
      img.dataset.stage = want;
      img.dataset.generation = String(g);
    };
    next.onerror = () => {
      if (state.shown === key) state.shown = "";
    };
    next.src = `/api/image?stage=${want}&g=${g}`;
  }
  stateText.textContent = data.error ? data.error : want === "full" ? "full quality" : want === "preview" ? "preview, refining" : "rendering";
  stateText.classList.toggle("error", !!data.error);
  showSweep(data.sweep);
}

// ---- Sweep ----------------------------------------------------------------------------------------

function fillSweepControls() {
  const select = document.getElementById("sweep-control");
  select.textContent = "";
  const seen = new Set();
  for (const entry of state.instances) {
    if (!entry.panel) continue;
    for (const c of entry.panel.controls)
      if (["percentage", "number", "distance", "integer"].includes(c.kind) && !seen.has(c.name)) {
        seen.add(c.name);
        select.append(el("option", { value: c.name, "data-kind": c.kind, text: c.label.replace(/:$/, "") }));
      }
  }
}

async function startSweep() {
  const select = document.getElementById("sweep-control");
  const option = select.selectedOptions[0];
  const message = document.getElementById("sweep-message");
  if (!option) return;
  const kind = option.dataset.kind;
  const texts = document.getElementById("sweep-values").value.split(",").map((t) => t.trim()).filter((t) => t);
  const values = texts.map((t) => typed(t, kind));
  const { ok, data } = await call("POST", "/api/sweep", { name: option.value, values });
  if (!ok) {
    message.textContent = data.error;
    return;
  }
  message.textContent = "rendering";
  state.sweep = { id: data.id, captions: texts.map((t) => `${option.textContent} ${t}${units[kind] ? " " + units[kind] : ""}`), shown: 0 };
  const cells = document.getElementById("sweep-cells");
  cells.textContent = "";
  state.sweep.captions.forEach((caption) => cells.append(el("figure", {}, el("img", { alt: caption }), el("figcaption", { text: caption }))));
}

function showSweep(s) {
  const mine = state.sweep;
  if (!mine || s.id !== mine.id) return;
  const message = document.getElementById("sweep-message");
  if (s.error) message.textContent = s.error;
  const figures = document.querySelectorAll("#sweep-cells figure");
  if (s.done < mine.shown) mine.shown = 0;
  for (let k = mine.shown; k < s.done && k < figures.length; ++k)
    figures[k].querySelector("img").src = `/api/sweep/image?cell=${k}&id=${s.id}`;
  mine.shown = Math.max(mine.shown, s.done);
  if (!s.error) message.textContent = s.done >= figures.length ? "done" : `rendering ${s.done + 1} of ${figures.length}`;
}

// ---- Presets ----------------------------------------------------------------------------------------

async function fillPresets() {
  const select = document.getElementById("preset");
  const { ok, data } = await call("GET", "/api/presets");
  const message = document.getElementById("preset-message");
  if (!ok || !data.presets.length) {
    select.disabled = true;
    message.textContent = ok ? data.error || "no presets" : data.error;
    return;
  }
  for (const p of data.presets) select.append(el("option", { value: p.name, title: p.source, text: p.name.replace(/_/g, " ") }));
  select.addEventListener("change", async () => {
    if (!select.value) return;
    const res = await call("POST", "/api/preset", { name: select.value });
    message.textContent = res.ok ? "" : res.data.error;
    message.classList.toggle("error", !res.ok);
    if (!res.ok) return;
    applyAnswer(res.data);
    poll();
  });
}

// ---- Save ----------------------------------------------------------------------------------------

async function save() {
  const message = document.getElementById("save-message");
  const { ok, data } = await call("POST", "/api/save", {});
  message.textContent = ok ? `saved to ${data.saved}` : data.error;
  message.classList.toggle("error", !ok);
}

// ---- Start -----------------------------------------------------------------------------------------

async function start() {
  // The page was given the token's cookie with its first load: the address need not show it.
  if (new URLSearchParams(location.search).has("token")) history.replaceState(null, "", "/");
  const { ok, data } = await call("GET", "/api/panels");
  if (!ok) {
    document.getElementById("render-state").textContent = data.error;
    return;
  }
  state.lights = data.lights;
  state.instances = data.instances;
  document.getElementById("scene").textContent = data.scene;
  const img = document.getElementById("render");
  img.width = data.width;
  img.height = data.height;
  const list = el("datalist", { id: "light-names" });
  for (const name of data.lights) list.append(el("option", { value: name }));
  document.body.append(list);
  const panels = document.getElementById("panels");
  data.instances.forEach((entry, k) => panels.append(buildPanel(k, entry)));
  data.instances.forEach((_, k) => fill(k));
  fillSweepControls();
  const saveButton = document.getElementById("save");
  saveButton.disabled = !data.canSave;
  if (!data.canSave) saveButton.title = "start the server with --save PATH to save";
  saveButton.addEventListener("click", save);
  document.getElementById("sweep-start").addEventListener("click", startSweep);
  fillPresets();
  setInterval(poll, 150);
  poll();
}

start();
