// The page of tova view: draws the frames the server sends as float32 values
// in the palette of the PNG export, and asks the server for series of pinned
// spots and rectangles over the whole recording.
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  const COLOURS = ["#00bcd4", "#8bc34a", "#ff4081", "#ffca28", "#7c4dff", "#ff9800", "#03a9f4", "#e91e63"];
  const state = {
    info: null, lut: null, frame: 0, values: null, meta: null, request: 0, zoom: 1,
    low: 0, high: 1, playing: false, pins: [], nextPin: 1, plot: null, drag: null,
  };

  function message(text) { $("message").textContent = text || ""; }

  async function getJson(url, options) {
    const response = await fetch(url, options);
    const body = await response.json();
    if (!response.ok) throw new Error(body.error || response.statusText);
    return body;
  }

  const unit = () => (state.info.celsius ? " \u00b0C" : "");
  function format(v) {
    if (v == null || !Number.isFinite(v)) return "\u2013";
    return state.info.celsius ? v.toFixed(2) : String(Math.round(v * 100) / 100);
  }

  // ---- the frame ------------------------------------------------------------

  function colourAt(position) {
    const lut = state.lut, steps = lut.length / 3;
    if (Number.isNaN(position)) return [0, 0, 0];
    const i = Math.round(Math.min(1, Math.max(0, position)) * (steps - 1)) * 3;
    return [lut[i], lut[i + 1], lut[i + 2]];
  }

  function frameRange(values) {
    let lo = Infinity, hi = -Infinity;
    for (const v of values) if (Number.isFinite(v)) { if (v < lo) lo = v; if (v > hi) hi = v; }
    return lo > hi ? [0, 0] : [lo, hi];
  }

  function chooseRange() {
    const mode = $("scale-mode").value;
    if (mode === "stored" && state.info.displayScale) [state.low, state.high] = state.info.displayScale;
    else if (mode === "frame") [state.low, state.high] = frameRange(state.values);
    else {
      const low = parseFloat($("low").value), high = parseFloat($("high").value);
      if (Number.isFinite(low) && Number.isFinite(high)) [state.low, state.high] = [low, high];
    }
    if (mode !== "fixed") {
      $("low").value = Number(state.low.toFixed(2));
      $("high").value = Number(state.high.toFixed(2));
    }
    $("bar-low").textContent = format(state.low) + unit();
    $("bar-high").textContent = format(state.high) + unit();
  }

  function render() {
    if (!state.values) return;
    chooseRange();
    const { width, height } = state.info;
    const canvas = $("image"), context = canvas.getContext("2d");
    const picture = context.createImageData(width, height);
    const span = state.high - state.low;
    for (let i = 0; i < state.values.length; i++) {
      const v = state.values[i];
      const [r, g, b] = colourAt(span > 0 ? (v - state.low) / span : 0.5);
      picture.data.set([r, g, b, 255], i * 4);
    }
    context.putImageData(picture, 0, 0);
  }

  function renderEntries(sections) {
    const box = $("entries");
    const open = new Set([...box.querySelectorAll("details")].filter((d) => d.open).map((d) => d.dataset.name));
    const first = box.childElementCount === 0;
    box.replaceChildren();
    for (const section of sections) {
      const details = document.createElement("details");
      details.className = "section";
      details.dataset.name = section.name;
      details.open = first ? section.entries.length < 80 : open.has(section.name);
      const summary = document.createElement("summary");
      summary.textContent = section.name;
      details.append(summary);
      for (const entry of section.entries) {
        const div = document.createElement("div");
        div.className = "entry";
        const name = document.createElement("div");
        name.className = "name";
        name.textContent = entry.name;
        const data = document.createElement("pre");
        data.textContent = entry.data;
        div.append(name, data);
        details.append(div);
      }
      box.append(details);
    }
  }

  async function showFrame(n) {
    n = Math.max(0, Math.min(state.info.frames - 1, n | 0));
    const request = ++state.request;
    try {
      const [buffer, meta] = await Promise.all([
        fetch(`/api/frames/${n}/values`).then((r) => {
          if (!r.ok) return r.json().then((b) => { throw new Error(b.error); });
          return r.arrayBuffer();
        }),
        getJson(`/api/frames/${n}`),
      ]);
      if (request !== state.request) return;  // a later frame was asked for meanwhile
      state.values = new Float32Array(buffer);
      state.frame = n;
      state.meta = meta;
      message("");
    } catch (error) {
      if (request === state.request) message(`frame ${n}: ${error.message}`);
      return;
    }
    $("slider").value = n;
    $("frame-number").textContent = n;
    $("entries-frame").textContent = n;
    $("time").textContent = state.meta.timeText || "no time stamp";
    render();
    renderEntries(state.meta.sections);
    updatePinValues();
    if (state.plot) state.plot.redraw(false);
    if (state.hover) showCursor(state.hover.x, state.hover.y);
  }

  // ---- cursor, pins and the plot --------------------------------------------

  function pixelAt(event) {
    const x = Math.floor(event.offsetX / state.zoom), y = Math.floor(event.offsetY / state.zoom);
    return {
      x: Math.max(0, Math.min(state.info.width - 1, x)),
      y: Math.max(0, Math.min(state.info.height - 1, y)),
    };
  }

  function showCursor(x, y) {
    const v = state.values ? state.values[y * state.info.width + x] : NaN;
    $("cursor").textContent = `(${x}, ${y})  ${format(v)}${unit()}`;
  }

  function regionStats(pin) {
    const { width } = state.info;
    let lo = Infinity, hi = -Infinity, sum = 0, count = 0;
    for (let y = pin.y0; y <= pin.y1; y++)
      for (let x = pin.x0; x <= pin.x1; x++) {
        const v = state.values[y * width + x];
        if (!Number.isFinite(v)) continue;
        sum += v; count++;
        if (v < lo) lo = v; if (v > hi) hi = v;
      }
    return count ? { min: lo, mean: sum / count, max: hi } : { min: NaN, mean: NaN, max: NaN };
  }

  function drawOverlay() {
    const canvas = $("overlay"), context = canvas.getContext("2d"), z = state.zoom;
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.lineWidth = 2;
    context.font = "bold 12px system-ui, sans-serif";
    const shapes = state.pins.slice();
    if (state.drag && state.drag.moved) shapes.push({ ...box(state.drag.start, state.drag.end), colour: "#fff", label: "" });
    for (const p of shapes) {
      context.strokeStyle = p.colour;
      context.fillStyle = p.colour;
      if (p.kind === "spot") {
        const cx = (p.x0 + 0.5) * z, cy = (p.y0 + 0.5) * z;
        context.beginPath();
        context.arc(cx, cy, Math.max(4, z), 0, 2 * Math.PI);
        context.stroke();
        context.fillText(p.label, cx + Math.max(5, z) + 2, cy - 4);
      } else {
        context.strokeRect(p.x0 * z, p.y0 * z, (p.x1 - p.x0 + 1) * z, (p.y1 - p.y0 + 1) * z);
        context.fillText(p.label || "", p.x0 * z + 3, p.y0 * z + 13);
      }
    }
  }

  function box(a, b) {
    return { kind: "rectangle", x0: Math.min(a.x, b.x), y0: Math.min(a.y, b.y), x1: Math.max(a.x, b.x), y1: Math.max(a.y, b.y) };
  }

  function updatePinValues() {
    for (const pin of state.pins) {
      const s = regionStats(pin);
      pin.valueCell.textContent = pin.kind === "spot"
        ? `${format(s.mean)}${unit()}`
        : `min ${format(s.min)}  mean ${format(s.mean)}  max ${format(s.max)}${unit()}`;
    }
  }

  async function addPin(shape) {
    const pin = { ...shape, label: `P${state.nextPin}`, colour: COLOURS[(state.nextPin - 1) % COLOURS.length] };
    state.nextPin++;
    const query = pin.kind === "spot" ? `x=${pin.x0}&y=${pin.y0}` : `x0=${pin.x0}&y0=${pin.y0}&x1=${pin.x1}&y1=${pin.y1}`;
    let series;
    try {
      series = await getJson(`/api/series?${query}`, { method: "POST", body: "" });
    } catch (error) {
      message(error.message);
      return;
    }
    pin.id = series.id;
    const li = document.createElement("li");
    li.className = "pin";
    li.dataset.state = "computing";
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = pin.colour;
    const name = document.createElement("span");
    name.textContent = pin.kind === "spot" ? `${pin.label} spot (${pin.x0}, ${pin.y0})`
      : `${pin.label} rectangle (${pin.x0}, ${pin.y0}) \u2013 (${pin.x1}, ${pin.y1})`;
    pin.valueCell = document.createElement("span");
    pin.valueCell.className = "pin-value";
    pin.progress = document.createElement("progress");
    pin.progress.max = series.total;
    const remove = document.createElement("button");
    remove.type = "button";
    remove.textContent = "remove";
    remove.addEventListener("click", () => removePin(pin));
    li.append(swatch, name, pin.valueCell, pin.progress, remove);
    pin.li = li;
    $("pins").append(li);
    state.pins.push(pin);
    updatePinValues();
    drawOverlay();
    follow(pin);
  }

  // Asks for the series' progress until it is finished.
  async function follow(pin) {
    while (state.pins.includes(pin)) {
      let series;
      try {
        series = await getJson(`/api/series/${pin.id}`);
      } catch (error) {
        message(error.message);
        return;
      }
      pin.progress.value = series.done;
      if (series.finished) {
        pin.progress.remove();
        if (series.error) {
          pin.li.dataset.state = "failed";
          message(`${pin.label}: ${series.error}`);
          return;
        }
        pin.series = series;
        pin.li.dataset.state = "done";
        buildPlot();
        return;
      }
      await new Promise((resolve) => setTimeout(resolve, 150));
    }
  }

  function removePin(pin) {
    state.pins = state.pins.filter((p) => p !== pin);
    pin.li.remove();
    fetch(`/api/series/${pin.id}`, { method: "DELETE" }).catch(() => {});
    drawOverlay();
    buildPlot();
  }

  function buildPlot() {
    const holder = $("plot");
    if (state.plot) { state.plot.destroy(); state.plot = null; }
    holder.replaceChildren();
    const ready = state.pins.filter((p) => p.series);
    if (!ready.length) return;
    if (typeof uPlot === "undefined") { holder.textContent = "The plotting library was not built into this tool."; return; }
    const data = [state.info.seconds.map((s, i) => (s == null ? i : s))];
    const series = [{ label: "time (s)" }];
    const nulls = (values) => values.map((v) => (v == null ? null : v));
    for (const pin of ready) {
      if (pin.kind === "spot") {
        data.push(nulls(pin.series.value));
        series.push({ label: pin.label, stroke: pin.colour, width: 2 });
      } else {
        for (const [key, dash] of [["mean", undefined], ["min", [4, 4]], ["max", [4, 4]]]) {
          data.push(nulls(pin.series[key]));
          series.push({ label: `${pin.label} ${key}`, stroke: pin.colour, width: key === "mean" ? 2 : 1, dash });
        }
      }
    }
    const width = Math.max(320, Math.min(holder.parentElement.clientWidth, 1000));
    state.plot = new uPlot({
      width, height: 240, series,
      axes: [{ label: "seconds" }, { label: state.info.celsius ? "\u00b0C" : "value" }],
      scales: { x: { time: false } },
      hooks: {
        // The current frame as a vertical line.
        draw: [(u) => {
          const x = u.valToPos(data[0][state.frame], "x", true);
          const c = u.ctx;
          c.save();
          c.strokeStyle = "#555";
          c.setLineDash([2, 3]);
          c.beginPath();
          c.moveTo(x, u.bbox.top);
          c.lineTo(x, u.bbox.top + u.bbox.height);
          c.stroke();
          c.restore();
        }],
      },
    }, data, holder);
    state.plot.over.addEventListener("click", () => {
      const i = state.plot.cursor.idx;
      if (i != null) showFrame(i);
    });
  }

  // ---- playing and keys -----------------------------------------------------

  async function play() {
    state.playing = !state.playing;
    $("play").innerHTML = state.playing ? "&#10074;&#10074;" : "&#9654;";
    const period = 1000 / (state.info.frameRate || 10);
    while (state.playing) {
      const started = performance.now();
      await showFrame(state.frame + 1 < state.info.frames ? state.frame + 1 : 0);
      const left = period - (performance.now() - started);
      if (left > 0) await new Promise((resolve) => setTimeout(resolve, left));
    }
  }

  function onKey(event) {
    const target = event.target;
    if ((target.tagName === "INPUT" && target.type !== "range") || target.tagName === "SELECT") return;
    const steps = { ArrowLeft: -1, ArrowRight: 1, PageUp: -10, PageDown: 10 };
    if (event.key in steps) showFrame(state.frame + steps[event.key]);
    else if (event.key === "Home") showFrame(0);
    else if (event.key === "End") showFrame(state.info.frames - 1);
    else if (event.key === " ") play();
    else return;
    event.preventDefault();
  }

  // ---- start ----------------------------------------------------------------

  async function start() {
    const [info, palette] = await Promise.all([
      getJson("/api/info"),
      fetch("/api/palette").then((r) => r.arrayBuffer()),
    ]);
    state.info = info;
    state.lut = new Uint8Array(palette);
    document.title = `${info.file} \u2013 tova view`;
    $("file").textContent = info.file;
    $("info").textContent = info.info;
    $("slider").max = info.frames - 1;
    $("frame-count").textContent = info.frames - 1;
    state.zoom = Math.max(1, Math.min(8, Math.floor(720 / info.width)));
    const image = $("image"), overlay = $("overlay");
    image.width = info.width;
    image.height = info.height;
    image.style.width = `${info.width * state.zoom}px`;
    image.style.height = `${info.height * state.zoom}px`;
    overlay.width = info.width * state.zoom;
    overlay.height = info.height * state.zoom;
    $("bar-colours").style.height = `${info.height * state.zoom - 48}px`;
    const bar = $("bar-colours").getContext("2d");
    for (let y = 0; y < 256; y++) {
      const [r, g, b] = colourAt(1 - y / 255);
      bar.fillStyle = `rgb(${r},${g},${b})`;
      bar.fillRect(0, y, 1, 1);
    }
    if (!info.displayScale) {
      $("scale-mode").querySelector('option[value="stored"]').disabled = true;
      $("scale-mode").value = "frame";
    }

    $("slider").addEventListener("input", (e) => showFrame(Number(e.target.value)));
    $("play").addEventListener("click", play);
    $("back").addEventListener("click", () => showFrame(state.frame - 1));
    $("on").addEventListener("click", () => showFrame(state.frame + 1));
    $("scale-mode").addEventListener("change", render);
    for (const id of ["low", "high"])
      $(id).addEventListener("input", () => { $("scale-mode").value = "fixed"; render(); });
    $("clear-pins").addEventListener("click", () => state.pins.slice().forEach(removePin));
    document.addEventListener("keydown", onKey);

    overlay.addEventListener("mousemove", (e) => {
      const p = pixelAt(e);
      state.hover = p;
      showCursor(p.x, p.y);
      if (state.drag) {
        state.drag.end = p;
        state.drag.moved ||= p.x !== state.drag.start.x || p.y !== state.drag.start.y;
        drawOverlay();
      }
    });
    overlay.addEventListener("mouseleave", () => { state.hover = null; });
    overlay.addEventListener("mousedown", (e) => { const p = pixelAt(e); state.drag = { start: p, end: p, moved: false }; });
    window.addEventListener("mouseup", () => {
      const drag = state.drag;
      state.drag = null;
      if (!drag) return;
      if (drag.moved) addPin(box(drag.start, drag.end));
      else addPin({ kind: "spot", x0: drag.start.x, y0: drag.start.y, x1: drag.start.x, y1: drag.start.y });
    });

    await showFrame(0);
    document.body.dataset.ready = "true";
  }

  start().catch((error) => message(error.message));
})();
