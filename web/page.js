// The page: draws the model's run on a canvas and turns clicks and keys into
// calls of the module's C interface (web/marovel_web.h). It holds no model
// logic: every number it shows comes from the module.
"use strict";

// The window's colours and words (render/scene.h, render/town_map.h).
const STATE_COLOURS = [
  [0.20, 0.43, 1.00], [0.08, 0.67, 0.20], [1.00, 0.59, 0.00],
  [0.00, 0.80, 0.85], [0.55, 0.24, 0.80], [0.90, 0.08, 0.59]];
const STATE_NAMES = ["not evacuated", "evacuated", "gave up", "en route", "towed", "out of gas"];
const INFO_NAMES = ["Not evacuated", "Evacuated", "Gave up", "En route", "Towed", "Out of gas"];
const TINT_ALPHA = 0.6;
const CLEAR_GREY = "rgb(160, 160, 160)";
const TOWN_COLOURS = [  // land, water, road, one-way road, house, exit, door
  [214, 222, 196], [120, 170, 220], [150, 150, 150], [105, 105, 115], [176, 112, 72],
  [220, 30, 30], [70, 40, 25]];
const MARK_TEXTS = {
  track: "storm's track (white line); the storm's place on it (white square), an outline at the " +
         "start while the storm waits off the map",
  zone: "threat zone (red circle): waiting households inside it are threatened",
  threatened: "threatened house (yellow outline)",
};
const CAR_FRAME_PIXELS = 20;  // the car sheet's frames, side by side along its bottom edge
const RATE_SLOW_MS = 333, RATE_FAST_MS = 50;  // Down and Up, as in the window
const HISTORY_LIMIT = 200000;                  // ticks the plot and the counts file keep
const ERROR_SPREADS = { low: 0.001, moderate: 360, high: 1e30 };

function rgb(c, alpha = 1) {
  return `rgba(${Math.round(c[0] * 255)}, ${Math.round(c[1] * 255)}, ${Math.round(c[2] * 255)}, ${alpha})`;
}

// The shortest decimal that is the same number where the model holds a float
// (the error spread 0.001 is held as 0.0010000000474974513).
function shortNumber(v) {
  if (!Number.isFinite(v)) return v > 0 ? "inf" : String(v);
  for (let k = 1; k <= 17; ++k) {
    const t = Number(v.toPrecision(k));
    if (t === v || (Math.fround(t) === v && Math.fround(v) === v)) return String(t);
  }
  return String(v);
}

function loadPicture(url) {
  const img = new Image();
  img.src = url;
  return img.decode().then(() => img);
}

async function main() {
  const [M, map, car, storm] = await Promise.all([
    createMarovel(), loadPicture(MAROVEL_PICTURES.map), loadPicture(MAROVEL_PICTURES.car),
    loadPicture(MAROVEL_PICTURES.storm)]);
  const api = new Proxy({}, { get: (_, name) => M["_marovel_" + name] });
  const text = (ptr) => M.UTF8ToString(ptr);
  const withString = (s, f) => {
    const bytes = new TextEncoder().encode(s);
    const ptr = M._malloc(bytes.length + 1);
    M.HEAPU8.set(bytes, ptr);
    M.HEAPU8[ptr + bytes.length] = 0;
    try { return f(ptr, bytes.length); } finally { M._free(ptr); }
  };
  const $ = (id) => document.getElementById(id);

  const view = { track: false, zone: false, threatened: false, states: true };
  const run = { on: false, period: 50, owed: 0, last: 0, launch: true, target: -1 };
  let history = [];
  let dirty = true;
  let townMap = null;  // the map of a town without a painted one, one pixel a cell
  let mapCache = null; // the map at the canvas's scale

  const canvas = $("town"), ctx = canvas.getContext("2d");
  const plot = $("plot"), plotCtx = plot.getContext("2d");

  function say(message) { $("message").textContent = message || ""; }
  function counts() { return Array.from(M.HEAP32.subarray(api.counts() >> 2, (api.counts() >> 2) + 6)); }

  function record() {
    if (history.length < HISTORY_LIMIT) history.push([api.ticks_run(), ...counts()]);
  }
  function rebuilt() {
    history = [];
    record();
    townMap = api.builtin_town() ? null : makeTownMap();
    mapCache = null;
    dirty = true;
    syncControls();
  }
  function rebuild(how) {
    if (!api.rebuild(how)) { say(text(api.text())); return false; }
    run.launch = how === 3;
    say("");
    rebuilt();
    return true;
  }
  function tick(n) {
    for (let i = 0; i < n; ++i) { api.tick(1); record(); }
    dirty = true;
  }

  // ---- drawing
  function makeTownMap() {
    const w = api.width(), h = api.height();
    const cells = M.HEAPU8.subarray(api.town_cells(), api.town_cells() + w * h);
    const c = document.createElement("canvas");
    c.width = w; c.height = h;
    const g = c.getContext("2d"), image = g.createImageData(w, h);
    for (let y = 0; y < h; ++y)
      for (let x = 0; x < w; ++x) {
        const colour = TOWN_COLOURS[cells[y * w + x]] || TOWN_COLOURS[0];
        const o = ((h - 1 - y) * w + x) * 4;
        image.data[o] = colour[0]; image.data[o + 1] = colour[1]; image.data[o + 2] = colour[2];
        image.data[o + 3] = 255;
      }
    g.putImageData(image, 0, 0);
    return c;
  }

  function fitCanvas(c) {
    const r = c.getBoundingClientRect(), k = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(r.width * k)), h = Math.max(1, Math.round(r.height * k));
    if (c.width !== w || c.height !== h) { c.width = w; c.height = h; return true; }
    return false;
  }

  function draw() {
    if (fitCanvas(canvas)) mapCache = null;
    const W = api.width(), H = api.height(), cw = canvas.width, ch = canvas.height;
    const s = Math.min(cw / W, ch / H), ox = (cw - W * s) / 2, oy = (ch - H * s) / 2;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = CLEAR_GREY;
    ctx.fillRect(0, 0, cw, ch);
    if (!mapCache) {
      mapCache = document.createElement("canvas");
      mapCache.width = Math.max(1, Math.round(W * s)); mapCache.height = Math.max(1, Math.round(H * s));
      const g = mapCache.getContext("2d");
      g.imageSmoothingEnabled = !townMap;
      g.drawImage(townMap || map, 0, 0, mapCache.width, mapCache.height);
    }
    ctx.drawImage(mapCache, Math.round(ox), Math.round(oy));
    // World coordinates from here: one unit a cell, y up.
    ctx.setTransform(s, 0, 0, -s, ox, oy + H * s);
    const n = W * H;
    const frames = M.HEAPU8.subarray(api.car_frames(), api.car_frames() + n);
    for (let i = 0; i < n; ++i) {
      const f = frames[i];
      if (f === 0) continue;
      const x = i % W, y = (i - x) / W;
      ctx.save();
      ctx.translate(x, y + 1);
      ctx.scale(1, -1);
      ctx.drawImage(car, f * CAR_FRAME_PIXELS, car.height - CAR_FRAME_PIXELS, CAR_FRAME_PIXELS,
                    CAR_FRAME_PIXELS, 0, 0, 1, 1);
      ctx.restore();
    }
    const st = M.HEAPF32.subarray(api.storm() >> 2, (api.storm() >> 2) + 12 + 2 * 65);
    if (Number.isFinite(st[0]) && Number.isFinite(st[1]) && Number.isFinite(st[2]) && Number.isFinite(st[3])) {
      ctx.save();
      ctx.translate(st[0], st[1]);
      ctx.rotate(st[3] * Math.PI / 180);
      ctx.scale(st[2], -st[2]);
      ctx.drawImage(storm, -0.5, -0.5, 1, 1);
      ctx.restore();
    }
    if (view.states || view.threatened) {
      const states = M.HEAPU8.subarray(api.car_states(), api.car_states() + n);
      for (let i = 0; i < n; ++i) {
        const v = states[i];
        if (v === 0) continue;
        const x = i % W, y = (i - x) / W;
        if (view.states && (v & 0x7f) !== 0) {
          ctx.fillStyle = rgb(STATE_COLOURS[(v & 0x7f) - 1], TINT_ALPHA);
          ctx.fillRect(x, y, 1, 1);
        }
        if (view.threatened && (v & 0x80) !== 0) {
          ctx.strokeStyle = "rgb(255, 255, 0)";
          ctx.lineWidth = 2 / s;
          ctx.strokeRect(x + 0.1, y + 0.1, 0.8, 0.8);
        }
      }
    }
    if (view.zone && st[5] === 1) {
      ctx.strokeStyle = "rgb(255, 0, 0)";
      ctx.lineWidth = 2 / s;
      ctx.beginPath();
      ctx.arc(st[6], st[7], st[8], 0, 2 * Math.PI);
      ctx.stroke();
    }
    if (view.track) {
      ctx.strokeStyle = ctx.fillStyle = "rgb(255, 255, 255)";
      ctx.lineWidth = 2 / s;
      ctx.beginPath();
      for (let i = 0; i < 65; ++i) {
        const x = st[12 + 2 * i], y = st[13 + 2 * i];
        if (Number.isFinite(x) && Number.isFinite(y)) ctx.lineTo(x, y);
      }
      ctx.stroke();
      if (st[11] === 1) ctx.fillRect(st[9] - 0.6, st[10] - 0.6, 1.2, 1.2);
      else ctx.strokeRect(st[9] - 0.6, st[10] - 0.6, 1.2, 1.2);
    }
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    drawPlot();
    showCounts();
    const status = text(api.status_line());
    if (document.title !== status) { document.title = status; $("status").textContent = status; }
  }

  function drawPlot() {
    fitCanvas(plot);
    const w = plot.width, h = plot.height, g = plotCtx;
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.clearRect(0, 0, w, h);
    if (history.length === 0) return;
    const total = history[0].slice(1).reduce((a, b) => a + b, 0) || 1;
    const last = Math.max(1, history[history.length - 1][0]);
    const step = Math.max(1, Math.floor(history.length / w));
    g.lineWidth = 1.5;
    for (let k = 0; k < 6; ++k) {
      g.strokeStyle = rgb(STATE_COLOURS[k]);
      g.beginPath();
      for (let i = 0; i < history.length; i += step) {
        const row = history[i];
        g.lineTo((row[0] / last) * (w - 2) + 1, h - 1 - (row[k + 1] / total) * (h - 2));
      }
      g.stroke();
    }
  }

  function showCounts() {
    const c = counts();
    const cells = document.querySelectorAll("#counts td.n");
    c.forEach((v, k) => { if (cells[k].textContent !== String(v)) cells[k].textContent = v; });
    cells[6].textContent = c.reduce((a, b) => a + b, 0);
  }

  function infoText() {
    const c = counts();
    return INFO_NAMES.map((name, k) => `${name}: ${c[k]}`).join("\n") +
      `\nTotal: ${c.reduce((a, b) => a + b, 0)}`;
  }

  // ---- run control
  function frame(now) {
    if (run.on) {
      const dt = Math.min(250, now - (run.last || now));
      if (run.period === 0) {
        const until = performance.now() + 8;
        do tick(10); while (performance.now() < until);
      } else {
        run.owed += dt;
        const n = Math.floor(run.owed / run.period);
        run.owed -= n * run.period;
        if (n > 0) tick(n);
      }
    }
    run.last = now;
    if (dirty) { draw(); dirty = false; }
    requestAnimationFrame(frame);
  }
  function setRunning(on) {
    run.on = on; run.owed = 0;
    $("run").textContent = on ? "Stop" : "Start";
    $("run").setAttribute("aria-pressed", on ? "true" : "false");
  }
  function setPeriod(ms) {
    run.period = ms;
    $("speed").value = ms;
    $("speed-text").textContent = ms === 0 ? "as fast as possible" : ms + " ms";
  }
  function applyError(value) {
    const ok = withString(String(value), (p) => api.set_error(p));
    if (!ok) { say(text(api.text())); syncControls(); return false; }
    return rebuild(0);
  }

  function syncControls() {
    const spread = getParameter("error_spread");
    const level = Object.keys(ERROR_SPREADS).find((k) => Math.fround(ERROR_SPREADS[k]) === Math.fround(spread));
    $("error").value = level || "custom";
    $("error-spread").value = level === "high" ? "" : shortNumber(spread);
    $("error-spread").placeholder = level === "high" ? "inf" : "";
    for (const p of parameters) {
      const v = getParameter(p.name);
      if (p.box) p.box.value = p.choices ? String(v) : shortNumber(v);
      if (p.slider) p.slider.value = String(v);
    }
  }

  // ---- parameters
  function getParameter(name) { return withString(name, (p) => api.get_parameter(p)); }
  function setParameter(name, value) {
    const ok = withString(name, (p) => api.set_parameter(p, value));
    if (!ok) say(text(api.text()));
    return ok;
  }
  const parameters = [];
  for (let i = 0; i < api.parameter_count(); ++i) {
    const p = {
      name: text(api.parameter_name(i)), unit: text(api.parameter_unit(i)),
      meaning: text(api.parameter_meaning(i)), min: api.parameter_min(i), max: api.parameter_max(i),
      integer: api.parameter_kind(i) === 1, def: api.parameter_default(i), choices: null,
    };
    const choices = [];
    for (let k = 0; api.parameter_choice(i, k); ++k) choices.push(text(api.parameter_choice(i, k)));
    if (choices.length) p.choices = choices;
    parameters.push(p);
  }
  function buildParameterList() {
    const list = $("parameter-list");
    for (const p of parameters) {
      const div = document.createElement("div");
      div.className = "parameter";
      const id = "p-" + p.name;
      const label = document.createElement("label");
      label.htmlFor = id;
      label.textContent = p.name + (p.unit ? ` (${p.unit})` : "");
      const help = document.createElement("small");
      help.id = id + "-help";
      const range = `${p.min} to ${p.max === Infinity ? "∞" : p.max}`;
      help.textContent = `${p.meaning}; ${range}, default ${p.choices ? p.choices[p.def - p.min] : p.def}`;
      div.append(label);
      const apply = (value) => {
        if (setParameter(p.name, value)) rebuild(0); else syncControls();
      };
      if (p.choices) {
        p.box = document.createElement("select");
        p.choices.forEach((c, k) => p.box.add(new Option(c, String(p.min + k))));
        p.box.addEventListener("change", () => apply(Number(p.box.value)));
      } else {
        p.box = document.createElement("input");
        p.box.type = "text";
        p.box.inputMode = "decimal";
        p.box.addEventListener("change", () => apply(p.box.value.trim() === "inf" ? Infinity : Number(p.box.value.trim() || NaN)));
        if (Number.isFinite(p.max) && Number.isFinite(p.min) && p.name !== "error_spread") {
          p.slider = document.createElement("input");
          p.slider.type = "range";
          p.slider.min = String(p.min); p.slider.max = String(p.max);
          p.slider.step = p.integer ? "1" : String((p.max - p.min) / 1000);
          p.slider.setAttribute("aria-label", p.name + " slider");
          p.slider.setAttribute("aria-describedby", help.id);
          p.slider.addEventListener("change", () => apply(Number(p.slider.value)));
        }
      }
      p.box.id = id;
      p.box.setAttribute("aria-describedby", help.id);
      div.append(p.box);
      if (p.slider) div.append(p.slider);
      div.append(help);
      list.append(div);
    }
  }

  // ---- towns
  let loadedTown = null;  // {name, text} of the town opened from a file; null for the built-in town
  function loadTownText(name, t) {
    const ok = withString(t, (p, n) => api.load_town(p, n));
    if (!ok) { say(`${name}: ${text(api.text())}`); return false; }
    loadedTown = { name, text: t };
    run.launch = false;
    $("town-name").textContent = "Town: " + name;
    say("");
    rebuilt();
    return true;
  }
  function openTown(file) {
    file.text().then((t) => loadTownText(file.name, t));
  }

  // ---- saving and sharing
  function download(name, blob) {
    const a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  }
  function countsCsv() {
    return "tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,total\n" +
      history.map((r) => [...r, r.slice(1).reduce((a, b) => a + b, 0)].join(",")).join("\n") + "\n";
  }
  // A loaded town travels in the link's fragment, deflated and in base64url:
  // the link opens on the same town from disk or any server, and the
  // fragment never reaches a server. A town too large for a link is left out.
  const MAX_LINK_TOWN = 64 * 1024;  // characters of the packed town
  async function packTown(t) {
    const stream = new Blob([t]).stream().pipeThrough(new CompressionStream("deflate-raw"));
    const bytes = new Uint8Array(await new Response(stream).arrayBuffer());
    let s = "";
    for (const b of bytes) s += String.fromCharCode(b);
    return btoa(s).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
  }
  async function unpackTown(s) {
    const bytes = Uint8Array.from(atob(s.replace(/-/g, "+").replace(/_/g, "/")), (c) => c.charCodeAt(0));
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
    return new Response(stream).text();
  }
  async function shareLink() {
    const q = new URLSearchParams();
    q.set("seed", String(api.seed()));
    if (run.launch) q.set("launch", "1");
    for (const p of parameters) {
      const v = getParameter(p.name);
      if (v !== p.def) q.set(p.name, shortNumber(v));
    }
    let link = location.href.split(/[?#]/)[0] + "?" + q.toString();
    if (loadedTown) {
      const packed = typeof CompressionStream === "function" ? await packTown(loadedTown.text) : "";
      if (packed && packed.length <= MAX_LINK_TOWN) {
        const f = new URLSearchParams();
        f.set("town-name", loadedTown.name);
        f.set("town", packed);
        link += "#" + f.toString();
      } else {
        say(`The link leaves out ${loadedTown.name}, too large for a link: share the file beside it.`);
      }
    }
    return link;
  }
  // The link's town, when it has one; what went wrong with it, or empty text.
  async function applyFragment(fragment) {
    if (!fragment.has("town")) return "";
    const name = fragment.get("town-name") || "shared.town";
    try {
      if (!loadTownText(name, await unpackTown(fragment.get("town")))) return $("message").textContent;
    } catch (e) {
      return `The link's town ${name} could not be read (${e.message}); the built-in town is shown.`;
    }
    return "";
  }
  function applyQuery(q) {
    let setup = false;
    for (const p of parameters) {
      const v = q.get(p.name);
      if (v === null) continue;
      setup = true;
      const value = v === "inf" ? Infinity : Number(v);
      if (!setParameter(p.name, value)) return;
    }
    if (q.has("error")) {
      setup = true;
      if (!withString(q.get("error"), (p) => api.set_error(p))) { say(text(api.text())); return; }
    }
    if (q.has("seed")) { setup = true; api.set_seed(Number(q.get("seed")) | 0); }
    if (setup) rebuild(q.get("launch") === "1" ? 3 : 0);
  }

  // ---- commands, shared by buttons and keys
  const commands = {
    toggle: () => setRunning(!run.on),
    step: () => tick(1),
    reset: () => rebuild(0),
    next: () => rebuild(1),
    previous: () => rebuild(2),
    fast: () => setPeriod(RATE_FAST_MS),
    slow: () => setPeriod(RATE_SLOW_MS),
    info: () => { $("info-text").textContent = infoText(); $("info-dialog").showModal(); },
    low: () => applyError("low"),
    moderate: () => applyError("moderate"),
    high: () => applyError("high"),
    custom: () => { $("error-spread").focus(); },
    track: () => toggleView("track"),
    zone: () => toggleView("zone"),
    threatened: () => toggleView("threatened"),
    states: () => toggleView("states"),
    open: () => $("town-file").click(),
    picture: () => canvas.toBlob((b) => download("marovel.png", b), "image/png"),
  };
  function toggleView(name) {
    view[name] = !view[name];
    $("show-" + name).checked = view[name];
    showMarks();
    dirty = true;
  }
  function showMarks() {
    $("marks").replaceChildren(...Object.keys(MARK_TEXTS).filter((k) => view[k]).map((k) => {
      const li = document.createElement("li");
      li.textContent = MARK_TEXTS[k];
      return li;
    }));
  }
  // Keys act when released, as in the window.
  const KEYS = {
    " ": "toggle", s: "step", r: "reset", ArrowLeft: "previous", ArrowRight: "next",
    ArrowUp: "fast", ArrowDown: "slow", Enter: "info", 1: "low", 2: "moderate", 3: "high",
    4: "custom", t: "track", z: "zone", h: "threatened", c: "states", o: "open", p: "picture",
  };
  function ownKey(e) {
    const t = e.target;
    if (e.ctrlKey || e.altKey || e.metaKey || $("info-dialog").open) return null;
    if (t instanceof HTMLInputElement || t instanceof HTMLSelectElement || t instanceof HTMLTextAreaElement) return null;
    if ((t instanceof HTMLButtonElement || t instanceof HTMLElement && t.tagName === "SUMMARY") &&
        (e.key === " " || e.key === "Enter")) return null;
    return KEYS[e.key.length === 1 ? e.key.toLowerCase() : e.key] || null;
  }
  document.addEventListener("keydown", (e) => { if (ownKey(e)) e.preventDefault(); });
  document.addEventListener("keyup", (e) => {
    const command = ownKey(e);
    if (!command) return;
    e.preventDefault();
    commands[command]();
    dirty = true;
  });

  // ---- wiring
  const countRows = $("counts").tBodies[0];
  STATE_NAMES.concat(["total"]).forEach((name, k) => {
    const tr = countRows.insertRow();
    const sw = tr.insertCell();
    if (k < 6) sw.innerHTML = `<span class="swatch" style="background:${rgb(STATE_COLOURS[k])}"></span>`;
    tr.insertCell().textContent = name;
    const n = tr.insertCell();
    n.className = "n";
    n.id = "count-" + name.replace(/ /g, "-");
  });
  buildParameterList();
  const click = (id, f) => $(id).addEventListener("click", () => { f(); dirty = true; });
  click("run", commands.toggle);
  click("step", commands.step);
  click("reset", commands.reset);
  click("next", commands.next);
  click("previous", commands.previous);
  click("info", commands.info);
  click("info-close", () => $("info-dialog").close());
  click("run-to-go", () => {
    const target = Math.floor(Number($("run-to").value));
    const now = api.ticks_run();
    if (target > now) tick(target - now);
  });
  $("speed").addEventListener("input", () => setPeriod(Number($("speed").value)));
  $("error").addEventListener("change", () => {
    const v = $("error").value;
    if (v === "custom") $("error-spread").focus(); else applyError(v);
  });
  $("error-spread").addEventListener("change", () => applyError($("error-spread").value.trim() || "0"));
  for (const k of Object.keys(view))
    $("show-" + k).addEventListener("change", () => { view[k] = $("show-" + k).checked; showMarks(); dirty = true; });
  $("town-file").addEventListener("change", () => { if ($("town-file").files[0]) openTown($("town-file").files[0]); });
  click("builtin", () => { api.builtin(); loadedTown = null; run.launch = false; $("town-name").textContent = "Built-in town"; rebuilt(); });
  click("save-picture", commands.picture);
  click("save-counts", () => download("marovel-counts.csv", new Blob([countsCsv()], { type: "text/csv" })));
  click("share", () => shareLink().then((link) => {
    $("share-link").value = link;
    $("share-link").select();
    if (navigator.clipboard) navigator.clipboard.writeText(link).catch(() => {});
  }));
  click("defaults", () => { api.default_parameters(); rebuild(0); });
  document.addEventListener("dragover", (e) => { e.preventDefault(); $("drop-hint").hidden = false; });
  document.addEventListener("dragleave", () => { $("drop-hint").hidden = true; });
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    $("drop-hint").hidden = true;
    if (e.dataTransfer.files[0]) openTown(e.dataTransfer.files[0]);
  });
  window.addEventListener("resize", () => { dirty = true; });

  // ---- start
  api.start();
  rebuilt();
  const query = new URLSearchParams(location.search);
  const townProblem = await applyFragment(new URLSearchParams(location.hash.slice(1)));
  applyQuery(query);
  if (townProblem) say(townProblem);
  if (query.has("fingerprint")) {
    const [seed, error, ticks] = query.get("fingerprint").split(",");
    const ok = withString(error || "low", (p) => api.fingerprint_run(Number(seed) | 0, p, Number(ticks) | 0));
    $("fingerprint").textContent = ok ? text(api.text()) : "marovel-sim: " + text(api.text());
  }
  setPeriod(run.period);
  showMarks();
  draw();
  dirty = false;
  window.marovelFirstFrame = performance.now();
  requestAnimationFrame(frame);
  // For the tests and the benchmark: the module and one frame (a tick and its drawing).
  window.marovel = { M, api, frame: () => { tick(1); draw(); }, draw, history: () => history };
}

main().catch((e) => {
  document.getElementById("message").textContent = "The model could not start: " + e;
  throw e;
});
