"use strict";
// The live page of one Kestrano: it shows the state the program sends over its own WebSocket
// and sends the technician's changes back, which the program takes or refuses. Every text that
// comes from the program is shown as text, never as markup.
(() => {
  const lowestHertz = 20;
  const highestHertz = 20000;
  const spectrumTopDb = 0;
  const spectrumFloorDb = -100;
  const meterFloorDb = -60;
  // Silence from an open connection for this long means the network dropped without a word.
  const silentMs = 3000;
  const retryMs = 1000;
  const fullRetryMs = 5000;
  const policyClose = 1008;

  const $ = (id) => document.getElementById(id);
  const utf8 = new TextDecoder();
  // What the page has seen, for whoever looks from the browser's console (and the tests).
  const page = {
    updates: 0, control: false, socket: null, lastMessageAt: 0, names: null, presets: null,
    beatsSent: null, setup: { mappings: [], tempoMode: "off", presets: { names: [], loaded: "" } },
  };
  window.kestrano = page;

  // The window's colours: hue by row, saturation 190 and value 225 of 255, as HSL.
  function colour(hue, alpha) {
    const s = 190 / 255, v = 225 / 255;
    const l = v * (1 - s / 2);
    const sl = l === 0 || l === 1 ? 0 : (v - l) / Math.min(l, 1 - l);
    return `hsla(${hue}, ${(sl * 100).toFixed(1)}%, ${(l * 100).toFixed(1)}%, ${alpha})`;
  }

  function setText(element, text) {
    if (element.textContent !== text) element.textContent = text;
  }

  function percentOf(value, low, high) {
    return Math.max(0, Math.min(100, ((value - low) / (high - low)) * 100));
  }

  function scopedKey(name, key) {
    return name ? `${name}/${key}` : key;
  }

  function setLink(live, words) {
    const link = $("link");
    link.className = live ? "link live" : "link down";
    setText(link, words);
  }

  function setControl(control, readOnly) {
    page.control = control;
    const access = $("access");
    access.hidden = control || !readOnly;
    setText(access, readOnly || "");
    for (const element of document.querySelectorAll("#mappings input, #tapButton, #presetChooser")) {
      element.disabled = !control;
    }
  }

  page.send = (command) => {
    if (page.socket && page.socket.readyState === WebSocket.OPEN) {
      page.socket.send(JSON.stringify(command));
    }
  };

  function connect() {
    const socket = new WebSocket(`ws://${location.host}/live`);
    socket.binaryType = "arraybuffer";
    page.socket = socket;
    page.lastMessageAt = performance.now();
    socket.onopen = () => setLink(true, "live");
    socket.onmessage = (event) => {
      page.lastMessageAt = performance.now();
      let message;
      let spectrum = null;
      try {
        if (typeof event.data === "string") {
          message = JSON.parse(event.data);
        } else {
          // JSON text, then, after a zero byte, the spectrum: a byte a point, dB below full scale.
          const bytes = new Uint8Array(event.data);
          const end = bytes.indexOf(0);
          message = JSON.parse(utf8.decode(end < 0 ? bytes : bytes.subarray(0, end)));
          if (end >= 0) spectrum = Array.from(bytes.subarray(end + 1), (below) => -below);
        }
      } catch {
        return;
      }
      handle(message, spectrum);
    };
    socket.onclose = (event) => {
      if (page.socket !== socket) return;
      page.socket = null;
      setControl(false, "");
      const full = event.code === policyClose && event.reason;
      setLink(false, full ? event.reason
        : "no connection: the program stopped or the network dropped; reconnecting…");
      setTimeout(connect, full ? fullRetryMs : retryMs);
    };
  }

  // A connection that went quiet is given up and a new one made, without waiting for the
  // system to notice the old one is gone.
  setInterval(() => {
    const socket = page.socket;
    if (socket && socket.readyState === WebSocket.OPEN &&
        performance.now() - page.lastMessageAt > silentMs) {
      page.socket = null;
      socket.onclose = null;
      socket.close();
      setControl(false, "");
      setLink(false, "no word from the program: reconnecting…");
      setTimeout(connect, 0);
    }
  }, 1000);

  function handle(message, spectrum) {
    if (message.kind === "state") {
      ++page.updates;
      showState(message, spectrum);
    } else if (message.kind === "setup") {
      page.setup = message;
      showSetup(message);
    } else if (message.kind === "access") {
      setControl(message.control === true, String(message.readOnly || ""));
    } else if (message.kind === "answer") {
      setText($("refusal"), String(message.refused || ""));
    }
  }

  function showInput(input) {
    setText($("device"), input.device === null ? "no input device" : String(input.device));
    const level = typeof input.level === "number" ? input.level : null;
    const peak = typeof input.peak === "number" ? input.peak : null;
    $("levelFill").style.width = `${level === null ? 0 : percentOf(level, meterFloorDb, 0)}%`;
    $("peakMark").style.left = `${peak === null ? 0 : percentOf(peak, meterFloorDb, 0)}%`;
    setText($("levelText"), level === null ? "-" : `level ${level.toFixed(1)} dBFS`);
    setText($("peakText"), peak === null ? "" : `peak ${peak.toFixed(1)} dBFS`);
    $("clipLamp").classList.toggle("lit", input.clipping === true);
  }

  function xForHertz(hertz, width) {
    return (Math.log(hertz / lowestHertz) / Math.log(highestHertz / lowestHertz)) * width;
  }

  function showSpectrum(points, mappings) {
    const canvas = $("spectrum");
    const scale = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * scale));
    const height = Math.max(1, Math.round(canvas.clientHeight * scale));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    const context = canvas.getContext("2d");
    context.clearRect(0, 0, width, height);
    const yFor = (db) => ((spectrumTopDb - Math.max(spectrumFloorDb, Math.min(spectrumTopDb, db))) /
      (spectrumTopDb - spectrumFloorDb)) * height;
    context.font = `${12 * scale}px system-ui, sans-serif`;
    // The window's scale: a line and a label at each of these frequencies.
    context.fillStyle = "rgba(128, 128, 128, 0.8)";
    for (const hertz of [50, 100, 200, 500, 1000, 2000, 5000, 10000]) {
      const x = xForHertz(hertz, width);
      context.fillRect(x, 0, scale, height);
      context.fillText(hertz >= 1000 ? `${hertz / 1000}k` : String(hertz), x + 2 * scale, height - 4 * scale);
    }
    mappings.forEach((mapping, row) => {
      if (!(mapping.bandLowCut > 0) && !(mapping.bandHighCut > 0)) return;
      const low = mapping.bandLowCut > 0 ? mapping.bandLowCut : lowestHertz;
      const high = mapping.bandHighCut > 0 ? mapping.bandHighCut : highestHertz;
      const left = xForHertz(Math.max(lowestHertz, low), width);
      const right = xForHertz(Math.min(highestHertz, high), width);
      context.fillStyle = colour(mapping.hue, 0.2);
      context.fillRect(left, 0, right - left, height);
      context.fillStyle = colour(mapping.hue, 1);
      context.fillRect(left, 0, scale, height);
      context.fillRect(right - scale, 0, scale, height);
      context.fillText(mapping.name || "main", left + 3 * scale, (16 + (row % 4) * 14) * scale);
    });
    if (points.length < 2) return;
    context.beginPath();
    context.moveTo(0, height);
    points.forEach((db, index) => context.lineTo(((index + 0.5) / points.length) * width, yFor(db)));
    context.lineTo(width, height);
    context.closePath();
    context.fillStyle = "rgba(48, 140, 230, 0.55)";
    context.fill();
  }

  function numberField(name, key, step, title) {
    const field = document.createElement("input");
    field.type = "number";
    field.step = step;
    field.min = "0";
    field.title = title;
    field.dataset.key = scopedKey(name, key);
    field.addEventListener("change", () =>
      page.send({ do: "set", key: field.dataset.key, value: field.value === "" ? "0" : field.value }));
    // Left, it shows the model's value again: the one taken, or the one kept after a refusal.
    field.addEventListener("blur", () => showSetup(page.setup));
    return field;
  }

  function cell(row, child) {
    const td = document.createElement("td");
    if (child) td.append(child);
    row.append(td);
    return td;
  }

  function buildRows(mappings) {
    const body = document.querySelector("#mappings tbody");
    body.replaceChildren();
    for (const mapping of mappings) {
      const name = String(mapping.name);
      const row = document.createElement("tr");
      row.dataset.mapping = name;
      const swatch = document.createElement("span");
      swatch.className = "swatch";
      swatch.style.background = colour(mapping.hue, 1);
      const nameCell = cell(row, swatch);
      nameCell.append(document.createTextNode(name || "main"));
      nameCell.classList.toggle("main", !name);
      cell(row).className = "address";
      cell(row).className = "mode";
      const active = document.createElement("input");
      active.type = "checkbox";
      active.className = "active";
      active.title = "Whether it sends";
      active.addEventListener("change", () =>
        page.send({ do: "set", key: scopedKey(name, "active"), value: active.checked ? "true" : "false" }));
      cell(row, active);
      const meter = document.createElement("div");
      meter.className = "meter";
      for (const part of ["fill", "threshold on", "threshold off"]) {
        const mark = document.createElement("div");
        mark.className = part;
        meter.append(mark);
      }
      const lamp = document.createElement("span");
      lamp.className = "lamp gate";
      lamp.title = "Lit while on";
      const meterCell = cell(row, meter);
      meterCell.className = "meterCell";
      meterCell.append(lamp);
      cell(row, numberField(name, "triggerOnThreshold", "0.01", "On threshold, 0 to 1")).className = "onThreshold";
      cell(row, numberField(name, "triggerOffThreshold", "0.01", "Off threshold, 0 to 1")).className = "offThreshold";
      cell(row, numberField(name, "bandLowCut", "1", "Low cut in Hz, 0: off")).className = "bandLowCut";
      cell(row, numberField(name, "bandHighCut", "10", "High cut in Hz, 0: off")).className = "bandHighCut";
      body.append(row);
    }
    setControl(page.control, $("access").textContent);
  }

  function showField(field, value) {
    const shown = String(Math.round(value * 1000) / 1000);
    if (document.activeElement !== field && field.value !== shown) field.value = shown;
  }

  function showSetup(setup) {
    const mappings = setup.mappings;
    const names = JSON.stringify(mappings.map((mapping) => mapping.name));
    if (names !== page.names) {
      page.names = names;
      buildRows(mappings);
    }
    const rows = document.querySelectorAll("#mappings tbody tr");
    mappings.forEach((mapping, index) => {
      const row = rows[index];
      setText(row.querySelector(".address"), String(mapping.address));
      setText(row.querySelector(".mode"), String(mapping.mode));
      const active = row.querySelector("input.active");
      if (document.activeElement !== active) active.checked = mapping.active === true;
      row.querySelector(".threshold.on").style.left = `${percentOf(mapping.onThreshold, 0, 1)}%`;
      row.querySelector(".threshold.off").style.left = `${percentOf(mapping.offThreshold, 0, 1)}%`;
      row.querySelector(".threshold.on").hidden = !mapping.gated;
      row.querySelector(".threshold.off").hidden = !mapping.gated;
      row.querySelector(".lamp.gate").hidden = !mapping.gated;
      showField(row.querySelector(".onThreshold input"), mapping.onThreshold);
      showField(row.querySelector(".offThreshold input"), mapping.offThreshold);
      showField(row.querySelector(".bandLowCut input"), mapping.bandLowCut);
      showField(row.querySelector(".bandHighCut input"), mapping.bandHighCut);
    });
    setText($("tempoMode"), String(setup.tempoMode));
    if (setup.presets) showPresets(setup.presets);
  }

  // The presets as options, the loaded one chosen; one whose file is gone is still listed, as is
  // an empty choice while none was taken. Rebuilt only when they change, so that an open list
  // is not pulled from under the technician.
  function showPresets(presets) {
    const chooser = $("presetChooser");
    const loaded = String(presets.loaded || "");
    const names = (Array.isArray(presets.names) ? presets.names : []).map(String);
    if (!names.includes(loaded)) names.unshift(loaded);
    const shown = JSON.stringify([names, loaded]);
    if (shown !== page.presets) {
      page.presets = shown;
      chooser.replaceChildren(...names.map((name) => new Option(name, name, false, name === loaded)));
    }
    chooser.value = loaded;
    $("presetChanged").hidden = presets.changed !== true;
  }

  // Each mapping's meter and lamp, in the setup's order; a reading for a row not there yet waits
  // for the next setup.
  function showReadings(readings) {
    const rows = document.querySelectorAll("#mappings tbody tr");
    readings.forEach((reading, index) => {
      const row = rows[index];
      if (!row) return;
      const position = typeof reading.position === "number" ? reading.position : 0;
      row.querySelector(".fill").style.width = `${percentOf(position, 0, 1)}%`;
      row.querySelector(".lamp.gate").classList.toggle("lit", reading.on === true);
    });
  }

  function showTempo(tempo) {
    const bpm = typeof tempo.bpm === "number" ? `${tempo.bpm.toFixed(1)} BPM` : "-";
    setText($("tempoValue"), bpm + (tempo.held ? " held" : tempo.tapped ? " tapped" : ""));
    setText($("tempoNote"), String(tempo.note || ""));
    if (typeof tempo.beatsSent === "number" && tempo.beatsSent !== page.beatsSent) {
      if (page.beatsSent !== null) {
        const lamp = $("beatLamp");
        lamp.classList.add("lit");
        setTimeout(() => lamp.classList.remove("lit"), 120);
      }
      page.beatsSent = tempo.beatsSent;
    }
  }

  function showState(state, spectrum) {
    showInput(state.input);
    showReadings(state.readings);
    if (spectrum) showSpectrum(spectrum, page.setup.mappings);
    showTempo(state.tempo);
    setText($("status"), String(state.status));
  }

  $("tapButton").addEventListener("click", () => page.send({ do: "tap" }));
  // The chooser goes back to the loaded preset at once: the setup that follows a switch the
  // program took shows the new one, and after a refusal the old one stays.
  $("presetChooser").addEventListener("change", () => {
    const name = $("presetChooser").value;
    showPresets(page.setup.presets);
    if (name) page.send({ do: "preset", name });
  });
  connect();
})();
