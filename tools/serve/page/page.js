// The page of qvvcard serve: sends the form to the API, shows the card, its
// QR code and a link that saves it under its own file name.
"use strict";

(function () {
  const form = document.getElementById("form");
  const make = document.getElementById("make");
  const raw = document.getElementById("raw");
  const errorBox = document.getElementById("error");
  const statusBox = document.getElementById("status");
  const result = document.getElementById("result");
  const cardBox = document.getElementById("card");
  const qr = document.getElementById("qr");
  const qrNote = document.getElementById("qr-note");
  const download = document.getElementById("download");
  const qrHint = qrNote.textContent;
  let cardUrl = null;
  let qrUrl = null;
  let marked = null; // the field an error points at

  // The form's values as the API takes them: texts as typed (empty ones
  // left out), ticked boxes as true.
  function values() {
    const out = {};
    for (const el of form.elements) {
      if (!el.name || el.disabled) continue;
      if (el.type === "checkbox") {
        if (el.checked) out[el.name] = true;
      } else if (el.value !== "") {
        out[el.name] = el.value;
      }
    }
    return out;
  }

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

  // What a field is called on the page: its group and its label.
  function fieldName(el) {
    const label = document.querySelector('label[for="' + el.id + '"]');
    const words = label ? label.textContent.trim() : el.name;
    const group = el.closest(".group");
    let title = "";
    if (group) {
      const head = group.querySelector(":scope > legend, :scope > summary");
      if (head) title = head.textContent.trim();
    }
    return title && title !== words ? title + ", " + words : words;
  }

  // An API error in plain words.
  function describe(problem, status) {
    if (!problem || typeof problem.error !== "string") {
      return "The server answered with an error (" + status + ").";
    }
    if (problem.status === "0x800A0006") {
      return "The position on the globe cannot be written: its degrees, minutes and seconds " +
        "add up to more than 32767 (or less than -32768). Check those numbers.";
    }
    if (status === 413) return "There is too much text for the server: " + problem.error + ".";
    const el = problem.field ? form.elements.namedItem(problem.field) : null;
    if (el && el.id) {
      return fieldName(el) + ": " + problem.error.replace("16-bit integer",
        "whole number from -32768 to 32767") + ".";
    }
    return problem.error.charAt(0).toUpperCase() + problem.error.slice(1) + ".";
  }

  async function errorOf(response) {
    let problem = null;
    try {
      problem = await response.json();
    } catch (e) {
      problem = null;
    }
    return { text: describe(problem, response.status), field: problem && problem.field };
  }

  function unmark() {
    if (marked) {
      marked.removeAttribute("aria-invalid");
      marked.removeAttribute("aria-errormessage");
      marked = null;
    }
  }

  function showError(text, field) {
    errorBox.textContent = text;
    errorBox.hidden = false;
    statusBox.textContent = "";
    const el = field ? form.elements.namedItem(field) : null;
    if (el && el.id) {
      const closed = el.closest("details:not([open])");
      if (closed) closed.open = true;
      el.setAttribute("aria-invalid", "true");
      el.setAttribute("aria-errormessage", "error");
      marked = el;
      el.focus();
    }
  }

  function setQr(blob) {
    if (qrUrl) URL.revokeObjectURL(qrUrl);
    qrUrl = blob ? URL.createObjectURL(blob) : null;
    if (qrUrl) {
      qr.src = qrUrl;
      qr.hidden = false;
    } else {
      qr.removeAttribute("src");
      qr.hidden = true;
    }
  }

  async function makeCard(event) {
    event.preventDefault();
    unmark();
    errorBox.hidden = true;
    statusBox.textContent = "Making the card...";
    make.setAttribute("aria-busy", "true");
    try {
      const headers = { "Content-Type": "application/json" };
      if (raw.checked) headers["X-Raw-Values"] = "1";
      let response;
      try {
        response = await fetch("v1/card", {
          method: "POST",
          headers: headers,
          body: JSON.stringify(values()),
        });
      } catch (e) {
        showError("The server cannot be reached. Is qvvcard serve still running?");
        return;
      }
      if (!response.ok) {
        const problem = await errorOf(response);
        showError(problem.text, problem.field);
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
      result.hidden = false;

      // The QR code of this very card (a new request would give it a new
      // UID and time).
      let answer = null;
      try {
        answer = await fetch("v1/qr.svg", {
          method: "POST",
          headers: { "Content-Type": "text/vcard; charset=utf-8" },
          body: card,
        });
      } catch (e) {
        answer = null;
      }
      if (answer && answer.ok) {
        setQr(await answer.blob());
        qrNote.textContent = qrHint;
      } else {
        setQr(null);
        qrNote.textContent = answer
          ? "No QR code: " + (await errorOf(answer)).text
          : "No QR code: the server cannot be reached.";
      }
      statusBox.textContent = "Card made: " + name;
    } finally {
      make.removeAttribute("aria-busy");
    }
  }

  form.addEventListener("submit", makeCard);
  form.addEventListener("input", function (event) {
    if (event.target === marked) unmark();
  });
})();
