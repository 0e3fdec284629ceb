// The page of qvvcard serve: sends the form to the API, shows the card, its
// QR code and a link that saves it under its own file name, and fills the
// form from a vCard file. What it knows of the fields (their slots, checks
// and parts of the position) is in the data attributes the server wrote.
"use strict";

(function () {
  const $ = (id) => document.getElementById(id);
  const form = $("form");
  const make = $("make");
  const raw = $("raw");
  const errorBox = $("error");
  const statusBox = $("status");
  const result = $("result");
  const resultTitle = $("result-title");
  const cardBox = $("card");
  const qr = $("qr");
  const qrNote = $("qr-note");
  const download = $("download");
  const openButton = $("open-file");
  const openInput = $("open");
  const decimal = form.querySelector("[data-decimal]");
  const geoFields = Array.from(form.querySelectorAll("[data-geo]"));
  const qrHint = qrNote.textContent;
  let cardUrl = null;
  let qrUrl = null;

  // --- Messages next to fields -------------------------------------------
  // kind: "error" (the server refused the value), "warn" (a gentle check),
  // "note" (what the page did for the field), "left" (the card left it out).

  function describedBy(el, id, add) {
    const ids = (el.getAttribute("aria-describedby") || "").split(/\s+/).filter((x) => x && x !== id);
    if (add) ids.push(id);
    if (ids.length) el.setAttribute("aria-describedby", ids.join(" "));
    else el.removeAttribute("aria-describedby");
  }

  // Where a message about el stands: under its field, or at the end of its
  // box for a flag or a whole slot.
  function placeOf(el) {
    if (el.type === "checkbox") return el.closest(".box");
    return el.closest(".field") || el;
  }

  function say(el, kind, text) {
    const id = el.id + "-" + kind;
    let msg = $(id);
    if (!msg) {
      msg = document.createElement("p");
      msg.id = id;
      msg.className = "msg msg-" + kind;
      placeOf(el).appendChild(msg);
    }
    msg.textContent = text;
    describedBy(el, id, true);
    if (kind === "error") {
      el.setAttribute("aria-invalid", "true");
      el.setAttribute("aria-errormessage", id);
    }
  }

  function unsay(el, kind) {
    const id = el.id + "-" + kind;
    const msg = $(id);
    if (msg) msg.remove();
    describedBy(el, id, false);
    if (kind === "error") {
      el.removeAttribute("aria-invalid");
      el.removeAttribute("aria-errormessage");
    }
  }

  function unsayAll(kind) {
    for (const msg of Array.from(form.querySelectorAll(".msg-" + kind))) {
      const el = $(msg.id.slice(0, msg.id.length - kind.length - 1));
      if (el) unsay(el, kind);
      else msg.remove();
    }
  }

  // Opens every section around el, so that it shows.
  function reveal(el) {
    for (let d = el.closest("details"); d; d = d.parentElement.closest("details")) d.open = true;
  }

  function labelOf(el) {
    const label = document.querySelector('label[for="' + el.id + '"]');
    return label ? label.textContent.trim() : el.name || el.id;
  }

  // What a field is called on the page: its box (or its part of the
  // position) and its label.
  function fieldName(el) {
    const words = labelOf(el);
    const group = el.closest("fieldset.axis, .box");
    const head = group && group.querySelector(":scope > legend, :scope > summary");
    const title = head ? head.textContent.trim() : "";
    return title && title !== words ? title + ", " + words : words;
  }

  // --- Gentle checks: they warn, and the card is made all the same --------
  // They run when the card is made (not as a field is left, which would
  // move the button under a pointer on its way to it).

  function isDate(text) {
    const m = /^(\d{4})-?(\d{2})-?(\d{2})(T[0-9:.Z+-]*)?$/.exec(text);
    if (!m) return false;
    const y = +m[1], mo = +m[2], d = +m[3];
    const day = new Date(Date.UTC(y, mo - 1, d));
    return day.getUTCFullYear() === y && day.getUTCMonth() === mo - 1 && day.getUTCDate() === d;
  }

  const checks = {
    email: (v) => v.includes("@") ? "" : "This address has no @. Check it: the card keeps it as typed.",
    tel: (v) => /[0-9]/.test(v) ? "" : "This number has no digit. Check it: the card keeps it as typed.",
    date: (v) => isDate(v) ? "" :
      "This is not a date such as 1990-05-17. Check it: the card keeps it as typed.",
  };

  function check(el) {
    unsay(el, "warn");
    const value = el.value.trim();
    const warning = value === "" ? "" : checks[el.dataset.check](value);
    if (warning) say(el, "warn", warning);
  }

  // --- What is sent -------------------------------------------------------

  // A slot with a value and no type flag would be left off the card: it
  // gets its default type, ticked where it shows.
  function typeSlots() {
    for (const box of form.querySelectorAll("[data-slot][data-default]")) {
      unsay(box, "note");
      const texts = Array.from(box.querySelectorAll("[data-slot-text]"));
      const flags = Array.from(box.querySelectorAll("[data-slot-flag]"));
      if (!texts.some((t) => t.value !== "") || flags.some((f) => f.checked)) continue;
      const flag = $(box.dataset.default);
      flag.checked = true;
      reveal(flag);
      say(box, "note", "\u201c" + labelOf(flag) + "\u201d is ticked: the card needs a kind for this " +
        (box.querySelector("[data-check=tel]") ? "number" : "address") + ".");
    }
  }

  // The decimal position as the server takes it: "lat,lon".
  function decimalValue() {
    const text = decimal.value.trim().replace(/\s*,\s*/, ",");
    return /^\S+\s+\S+$/.test(text) ? text.replace(/\s+/, ",") : text;
  }

  // The form's values as the API takes them: texts as typed (empty ones
  // left out), ticked boxes as true; the position either as the decimal
  // pseudo-field or as its separate fields, with the hemispheres shown.
  function values() {
    const out = {};
    const useDecimal = decimal.value.trim() !== "";
    const anyGeo = geoFields.some((el) => el.value.trim() !== "");
    for (const el of form.elements) {
      if (!el.name || el.disabled) continue;
      if (el.hasAttribute("data-hemisphere")) {
        if (anyGeo && !useDecimal) out[el.name] = el.value;
      } else if (el.hasAttribute("data-geo")) {
        if (!useDecimal && el.value !== "") out[el.name] = el.value;
      } else if (el.type === "checkbox") {
        if (el.checked) out[el.name] = true;
      } else if (el.value !== "") {
        out[el.name] = el.value;
      }
    }
    if (useDecimal) out[decimal.id] = decimalValue();
    return out;
  }

  // The two ways to give the position replace each other.
  decimal.addEventListener("input", function () {
    if (decimal.value.trim() !== "") for (const el of geoFields) el.value = "";
  });
  for (const el of geoFields) {
    el.addEventListener("input", function () {
      if (el.value.trim() !== "") decimal.value = "";
    });
  }

  // --- Answers ------------------------------------------------------------

  // The UTF-8 file name of Content-Disposition (filename*), else the plain one.
  function fileNameOf(disposition) {
    const text = disposition || "";
    const encoded = /filename\*=UTF-8''([^;\s]+)/i.exec(text);
    if (encoded) {
      try {
        return decodeURIComponent(encoded[1]);
      } catch (e) {
        // fall through to the plain name
      }
    }
    const plain = /filename="([^"]*)"/i.exec(text);
    return plain ? plain[1] : "card.vcf";
  }

  // The field a problem is about (the position for its overflow).
  function fieldOf(problem) {
    if (!problem || !problem.field) return null;
    if (problem.status === "0x800A0006") {
      return geoFields.find((el) => el.value !== "") || decimal;
    }
    const el = $(problem.field);
    return el && form.contains(el) && el.matches("input, select, textarea") ? el : null;
  }

  // A problem in plain words.
  function describe(problem, httpStatus) {
    if (!problem || typeof problem.error !== "string") {
      return "The server answered with an error (" + httpStatus + ").";
    }
    if (problem.status === "0x800A0006") {
      return "The position on the globe cannot be written: its degrees, minutes and seconds " +
        "add up to more than 32767 (or less than -32768). Check those numbers.";
    }
    if (httpStatus === 413) return "There is too much text for the server: " + problem.error + ".";
    const words = problem.error.replace("16-bit integer", "whole number from -32768 to 32767");
    return words.charAt(0).toUpperCase() + words.slice(1) + ".";
  }

  async function problemOf(response) {
    try {
      return await response.json();
    } catch (e) {
      return null;
    }
  }

  function setQr(blob, version) {
    if (qrUrl) URL.revokeObjectURL(qrUrl);
    qrUrl = blob ? URL.createObjectURL(blob) : null;
    if (qrUrl) {
      qr.src = qrUrl;
      qr.dataset.version = version || "";
      qr.hidden = false;
    } else {
      qr.removeAttribute("src");
      delete qr.dataset.version;
      qr.hidden = true;
    }
  }

  // Nothing of an earlier card stays on screen.
  function clearResult() {
    result.hidden = true;
    cardBox.textContent = "";
    setQr(null);
    if (cardUrl) URL.revokeObjectURL(cardUrl);
    cardUrl = null;
    download.removeAttribute("href");
  }

  function showError(text) {
    errorBox.textContent = text;
    errorBox.hidden = false;
    statusBox.textContent = "";
  }

  // The server refused the values: every problem next to its field, the
  // first in the box under the button too, and the focus on its field.
  function showRefusal(problem, httpStatus, prefix) {
    clearResult();
    const all = problem && Array.isArray(problem.problems) && problem.problems.length
      ? problem.problems : [problem];
    let first = null;
    let placed = 0;
    for (const p of all) {
      const el = fieldOf(p);
      if (!el) continue;
      say(el, "error", describe(p, httpStatus));
      reveal(el);
      placed++;
      if (!first) first = el;
    }
    const lead = all[0] && all[0].status !== "0x800A0006" ? fieldOf(all[0]) : null;
    let text = prefix + (lead ? fieldName(lead) + ": " : "") + describe(all[0], httpStatus);
    if (all.length > 1) {
      text += " " + (all.length - 1) + (all.length === 2 ? " more value needs" : " more values need") +
        " a look" + (placed > 1 ? ", shown next to " + (all.length === 2 ? "it." : "them.") : ".");
    }
    showError(text);
    if (first) first.focus();
  }

  // The slots the card left out (values without a type flag).
  function showLeftOut(header) {
    if (!header) return;
    for (const name of header.split(",").map((s) => s.trim()).filter(Boolean)) {
      const box = form.querySelector('[data-slot="' + name.replace(/[^A-Za-z0-9]/g, "") + '"]');
      if (!box) continue;
      reveal(box);
      say(box, "left", "The card leaves this out: tick what kind it is and make the card again.");
    }
  }

  // --- Make card ----------------------------------------------------------

  async function makeCard(event) {
    event.preventDefault();
    unsayAll("error");
    unsayAll("left");
    errorBox.hidden = true;
    typeSlots();
    for (const el of form.querySelectorAll("[data-check]")) check(el);
    statusBox.textContent = "Making the card...";
    make.setAttribute("aria-busy", "true");
    try {
      const headers = { "Content-Type": "application/json" };
      if (raw.checked) headers["X-Raw-Values"] = "1";
      const body = JSON.stringify(values());
      let response;
      try {
        response = await fetch("v1/card", { method: "POST", headers: headers, body: body });
      } catch (e) {
        clearResult();
        showError("The server cannot be reached. Is qvvcard serve still running?");
        return;
      }
      if (!response.ok) {
        showRefusal(await problemOf(response), response.status, "The card was not made. ");
        return;
      }
      const card = await response.text();
      const name = fileNameOf(response.headers.get("Content-Disposition"));
      cardBox.textContent = card;
      if (cardUrl) URL.revokeObjectURL(cardUrl);
      cardUrl = URL.createObjectURL(new Blob([card], { type: "text/vcard" }));
      download.href = cardUrl;
      download.download = name;
      download.textContent = "Download " + name;
      showLeftOut(response.headers.get("X-Slots-Left-Out"));
      setQr(null);
      qrNote.textContent = "Making the QR code...";
      result.hidden = false;
      resultTitle.focus({ preventScroll: true });
      result.scrollIntoView({ block: "start" });
      statusBox.textContent = "Card made: " + name;

      // The QR code of the same values: the server leaves out what a
      // phone's scanner does not need.
      let answer = null;
      try {
        answer = await fetch("v1/qr.svg", { method: "POST", headers: headers, body: body });
      } catch (e) {
        answer = null;
      }
      if (answer && answer.ok) {
        setQr(await answer.blob(), answer.headers.get("X-QR-Version"));
        qrNote.textContent = qrHint;
      } else {
        setQr(null);
        qrNote.textContent = answer
          ? "No QR code: " + describe(await problemOf(answer), answer.status)
          : "No QR code: the server cannot be reached.";
      }
    } finally {
      make.removeAttribute("aria-busy");
    }
  }

  // --- Open a vCard file --------------------------------------------------

  // Empties the form and fills it from one card's values (property names
  // to texts, flags as true); says how many it took and how many had no
  // field.
  function fill(card) {
    form.reset();
    for (const kind of ["error", "warn", "note", "left"]) unsayAll(kind);
    clearResult();
    let filled = 0;
    let unplaced = 0;
    for (const [name, value] of Object.entries(card)) {
      const el = name === decimal.id ? decimal : form.elements.namedItem(name);
      if (!el || !el.matches || value === null || value === false || value === "") {
        if (!el || !el.matches) unplaced++;
        continue;
      }
      if (el.type === "checkbox") {
        el.checked = value === true || (typeof value === "number" && value !== 0) ||
          /^(true|yes|1|-1)$/i.test(String(value));
        if (!el.checked) continue;
      } else if (el.tagName === "SELECT") {
        const letter = String(value).toUpperCase();
        if (!Array.from(el.options).some((o) => o.value === letter)) {
          unplaced++;
          continue;
        }
        el.value = letter;
      } else {
        el.value = String(value);
      }
      filled++;
      reveal(el);
      if (el.dataset.check) check(el);
    }
    return { filled: filled, unplaced: unplaced };
  }

  async function openFile() {
    const file = openInput.files && openInput.files[0];
    if (!file) return;
    errorBox.hidden = true;
    statusBox.textContent = "Reading " + file.name + "...";
    let response;
    try {
      response = await fetch("v1/cards?to=jsonl", {
        method: "POST",
        headers: { "Content-Type": "text/vcard" },
        body: await file.arrayBuffer(),
      });
    } catch (e) {
      showError("The server cannot be reached. Is qvvcard serve still running?");
      return;
    } finally {
      openInput.value = "";
    }
    if (response.status === 415) {
      showError("This server cannot read vCard files: " + file.name + " was not opened.");
      return;
    }
    if (!response.ok) {
      const problem = await problemOf(response);
      showError(file.name + " cannot be opened: " + describe(problem, response.status));
      return;
    }
    const lines = (await response.text()).split("\n").filter((l) => l.trim() !== "");
    let card = null;
    try {
      card = lines.length ? JSON.parse(lines[0]) : null;
    } catch (e) {
      card = null;
    }
    if (!card || typeof card !== "object" || Array.isArray(card)) {
      showError(lines.length ? "The server's answer for " + file.name + " cannot be read."
        : file.name + " holds no card.");
      return;
    }
    const done = fill(card);
    let text = "Filled " + done.filled + (done.filled === 1 ? " field" : " fields") + " from " +
      (lines.length > 1 ? "the first of the " + lines.length + " cards in " : "") + file.name;
    if (done.unplaced) {
      text += "; " + done.unplaced + (done.unplaced === 1 ? " value has" : " values have") +
        " no field here";
    }
    statusBox.textContent = text + ". Check them and press Make card.";
  }

  form.addEventListener("submit", makeCard);
  form.addEventListener("input", function (event) {
    const el = event.target;
    if (el.getAttribute("aria-invalid") === "true") unsay(el, "error");
    if (el.dataset && el.dataset.check) unsay(el, "warn");
  });
  openButton.addEventListener("click", function () {
    openInput.click();
  });
  openInput.addEventListener("change", openFile);
})();
