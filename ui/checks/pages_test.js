// The pages in a real browser: headless Chromium loads the staged payload's Load.html and
// Download.html in a window of the stub's size, with a scripted script object in place of the
// host's, and plays a download, an extraction and an installation through the page's callbacks.
// Checked: no script error in any language, the calls the host receives, the progress bar's
// rendered width, the message of every failure, and that the texts fit the window. Each state is
// kept as a screenshot in build/screenshots/ and checked with axe-core against WCAG 2.1 AA, what a
// screen reader is given is checked in every language, a keyboard-only run goes through every
// state, and high contrast, forced colours and a screen at 200 % have checks of their own.
"use strict";
const { test, describe, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { pathToFileURL } = require("node:url");
const vm = require("node:vm");
const { setTimeout: delay } = require("node:timers/promises");
const { ScriptHost, signatures, checkCommandCall } = require("./script_host");
const { axeViolations, describeViolations } = require("./accessibility");

const root = path.join(__dirname, "..", "..");
const screenshotFolder = path.join(root, "build", "screenshots");
// The host window's client area, in page pixels.
const windowSize = { width: 651, height: 272 };
const waitMilliseconds = 10000;
// The page's progress polls: left out when comparing the commands the page gave.
const polledProperties = ["downloadTotal", "downloadCurrent", "extractProgress"];

// The page's data, read the way the pages read it.
const reference = new ScriptHost();
const { stubParams } = reference.context;
const languages = vm.runInNewContext(
  `${fs.readFileSync(path.join(root, "ui", "js", "installparams.js"), "utf8")}; installParams.LANG`);

// CTest passes the Chromium that CMake found; by hand, the one on PATH.
function findChromium() {
  if (process.env.SORVANE_CHROMIUM) {
    return process.env.SORVANE_CHROMIUM;
  }
  for (const folder of (process.env.PATH || "").split(path.delimiter)) {
    const candidate = path.join(folder, "chromium");
    if (folder && fs.existsSync(candidate)) {
      return candidate;
    }
  }
  return null;
}
const chromium = findChromium();

// Runs in the page before any of its scripts: the product's script object with the host's argument
// checks. Every accepted call goes to the test through the binding, in order and across page
// loads; jobs wait until the test finishes them with a result code. Once the page is being left,
// binding calls no longer arrive, so calls from then on go to a journal in the file pages' local
// storage, which the next file page can read.
function installScriptObject(checkCall, commandTypes, properties, bindingName, journalKey) {
  let leaving = false;
  window.addEventListener("pagehide", () => {
    leaving = true;
  });
  const record = (call) => {
    if (leaving) {
      localStorage.setItem(journalKey, JSON.stringify([...JSON.parse(localStorage.getItem(journalKey) || "[]"), call]));
    } else {
      window[bindingName](JSON.stringify(call));
    }
  };
  const jobs = ["download", "extract", "install"];
  const pending = {};
  // Properties that grow with the clock: key -> { start, perSecond, end, since }.
  const flows = {};
  const scriptObject = {};
  for (const name of Object.keys(commandTypes)) {
    const types = commandTypes[name];
    scriptObject[name] = (...args) => {
      checkCall(name, types, args);
      record([name, ...args.map((arg) => (typeof arg === "function" ? "<callback>" : arg))]);
      if (name === "getProperty") {
        const flow = flows[args[0]];
        if (flow) {
          return String(Math.min(flow.end, Math.floor(flow.start + (flow.perSecond * (Date.now() - flow.since)) / 1000)));
        }
        if (!Object.prototype.hasOwnProperty.call(properties, args[0])) {
          properties[args[0]] = "";
        }
        return properties[args[0]];
      }
      if (jobs.includes(name)) {
        if (Object.keys(pending).length) {
          throw new Error(`${name} started while ${Object.keys(pending)} runs`);
        }
        pending[name] = args[args.length - 1];
      }
      return undefined;
    };
  }
  Object.defineProperty(window, "external", { value: scriptObject, configurable: true });
  window.testScriptHost = {
    setProperties: (values) => Object.assign(properties, values),
    // A counter that grows steadily from `start` up to `end`, as a transfer's does.
    flow: (key, start, perSecond, end) => {
      flows[key] = { start, perSecond, end, since: Date.now() };
    },
    // The job's worker calls the page back.
    finish: (job, result) => {
      const callback = pending[job];
      if (!callback) {
        throw new Error(`no ${job} job is running`);
      }
      delete pending[job];
      callback(result);
    }
  };
}

// What the download page shows: texts, the progress bar's rendered geometry (null while hidden),
// and every place where a text does not fit the window.
function readView() {
  const shown = (id) => {
    const element = document.getElementById(id);
    return element && getComputedStyle(element).display !== "none" ? element : null;
  };
  const box = (id) => document.getElementById(id).getBoundingClientRect();
  const fill = shown("progress-fill");
  const error = shown("error");
  const percent = shown("percent");
  const status = document.getElementById("status");
  const detail = shown("detail");
  const timeLeft = shown("time-left");
  const faults = [];
  for (const element of [detail, timeLeft]) {
    if (element && element.scrollWidth > element.clientWidth) {
      faults.push(`the ${element.id} line is wider than its box`);
    }
  }
  if (box("title").right > box("close").left) {
    faults.push("the title runs under the close button");
  }
  if (status.scrollWidth > status.clientWidth) {
    faults.push("the status line is wider than its box");
  }
  if (error && (error.getBoundingClientRect().bottom > box("panel").bottom || error.scrollWidth > error.clientWidth)) {
    faults.push("the error message runs out of the window");
  }
  const offline = shown("offline");
  if (offline && (offline.getBoundingClientRect().bottom > box("panel").bottom - 8 ||
      offline.getBoundingClientRect().right > box("panel").right - 16 || offline.scrollWidth > offline.clientWidth ||
      (error && error.getBoundingClientRect().bottom > offline.getBoundingClientRect().top))) {
    faults.push("the full installer's button does not fit under the message");
  }
  const form = shown("proxy-form");
  if (form) {
    const text = shown("proxy-text") || shown("proxy-refused");
    if (text && text.getBoundingClientRect().bottom > box("proxy-user-label").top) {
      faults.push("the sign-in form's text runs into its fields");
    }
    for (const id of ["proxy-user-label", "proxy-password-label"]) {
      if (document.getElementById(id).scrollWidth > document.getElementById(id).clientWidth) {
        faults.push(`the ${id} is wider than its field`);
      }
    }
    if (box("proxy-cancel").bottom > box("panel").bottom - 8 || box("proxy-cancel").right > box("panel").right - 16) {
      faults.push("the sign-in form's buttons run out of the window");
    }
  }
  return {
    title: document.title,
    shownTitle: document.getElementById("title").textContent,
    status: status.textContent,
    percent: percent ? percent.textContent : null,
    fill: fill ? fill.getBoundingClientRect().width : null,
    // Where the fill's rounded head ends, from the track's left edge: the fill's width when its
    // three parts sit on one line.
    fillEnd: fill ? box("progress-head").right - box("progress").left : null,
    error: error ? error.textContent : null,
    detail: detail ? detail.textContent : null,
    timeLeft: timeLeft ? timeLeft.textContent : null,
    offline: offline ? offline.textContent : null,
    // The sign-in form: null while hidden, else its message (the explanation or the refusal) and
    // what the fields hold.
    proxyForm: form ? {
      text: (shown("proxy-text") || shown("proxy-refused")).textContent,
      userName: document.getElementById("proxy-user").value,
      password: document.getElementById("proxy-password").value
    } : null,
    faults
  };
}

// What a screen reader is given: the page language, the progress bar's role, name and values, and
// the live regions with their politeness and text.
function readAria() {
  const element = (id) => document.getElementById(id);
  const attributes = (id, names) => Object.fromEntries(names.map((name) => [name, element(id).getAttribute(name)]));
  const bar = attributes("progress", ["role", "aria-valuemin", "aria-valuemax", "aria-valuenow", "aria-valuetext"]);
  bar.name = element(element("progress").getAttribute("aria-labelledby")).textContent;
  return {
    lang: document.documentElement.getAttribute("lang"),
    bar,
    status: { ...attributes("status", ["role", "aria-live"]), text: element("status").textContent },
    error: { ...attributes("error", ["role", "aria-live"]), text: element("error").textContent },
    announcement: { ...attributes("announcement", ["aria-live"]), text: element("announcement").textContent }
  };
}

// The control that has the keyboard focus, and whether its focus ring shows (an outline of at least
// two pixels).
function readFocus() {
  const focused = document.activeElement;
  const style = getComputedStyle(focused);
  return {
    id: focused.id || focused.tagName,
    ring: style.outlineStyle !== "none" && parseFloat(style.outlineWidth) >= 2
  };
}

// How high contrast shows: the images that are still drawn, and whether the bar's fill stands out
// from its track and the close button's glyph shows.
function readLook() {
  const style = (id) => getComputedStyle(document.getElementById(id));
  const withImages = ["panel", "progress", "progress-end", "progress-value", "progress-head", "close", "branding"]
    .filter((id) => document.getElementById(id).getClientRects().length > 0 &&
      (style(id).backgroundImage !== "none" || id === "branding"));
  return {
    highContrast: document.documentElement.className.split(" ").includes("high-contrast"),
    withImages,
    fillStandsOut: style("progress-fill").backgroundColor !== style("progress").backgroundColor,
    closeGlyph: getComputedStyle(document.querySelector("#close .glyph")).display !== "none"
  };
}

// The binding through which the page's script object reports its calls.
const bindingName = "recordScriptObjectCall";

// A browser page of the stub's window size, kept open and reused: a new renderer costs most of
// a second, a new document a fraction of one. Its current run receives what the page does.
class PageSlot {
  static async open(browser) {
    const slot = new PageSlot();
    slot.run = null;
    slot.scriptId = null;
    // A context of its own gives the page a window of its own: a page in a background tab would
    // get throttled timers and no animation frames.
    const context = await browser.createBrowserContext();
    slot.page = await context.newPage();
    slot.page.on("pageerror", (error) => slot.run?.errors.push(`page error: ${error.message}`));
    slot.page.on("console", (message) => {
      if (message.type() === "error") {
        slot.run?.errors.push(`console: ${message.text()}`);
      }
    });
    slot.page.on("requestfailed", (request) => slot.run?.errors.push(`not loaded: ${request.url()}`));
    const session = await slot.page.createCDPSession();
    session.on("Runtime.bindingCalled", (event) => {
      if (event.name === bindingName) {
        slot.run?.calls.push(JSON.parse(event.payload));
      }
    });
    // Without the Runtime domain the binding is not put into the pages.
    await session.send("Runtime.enable");
    await session.send("Runtime.addBinding", { name: bindingName });
    await slot.page.setViewport(windowSize);
    slot.session = session;
    return slot;
  }
}

// One run of a page, from its load in a slot with these script-object properties.
class PageRun {
  static count = 0;

  static async open(slot, payload, pageName, properties) {
    // Leave the last run's page first, so that its unload belongs to no run.
    await slot.page.goto("about:blank");
    if (slot.scriptId) {
      await slot.page.removeScriptToEvaluateOnNewDocument(slot.scriptId);
    }
    const run = new PageRun();
    run.journalKey = `calls after leaving, run ${++PageRun.count}`;
    run.page = slot.page;
    run.calls = [];
    run.errors = [];
    slot.run = run;
    const allProperties = {
      osVersion: "10.0",
      arch: "x64",
      lang: "en",
      downloadTotal: "1",
      downloadCurrent: "0",
      installProgress: "0",
      ...properties
    };
    // As source text, because the argument check is a function.
    const values = [signatures, allProperties, bindingName, run.journalKey].map((value) => JSON.stringify(value));
    ({ identifier: slot.scriptId } = await slot.page.evaluateOnNewDocument(
      `(${installScriptObject})(${checkCommandCall}, ${values.join(", ")});`));
    await slot.page.goto(pathToFileURL(path.join(payload, pageName)).href, { waitUntil: "load" });
    return run;
  }

  // The calls without the progress polls.
  commands() {
    return this.calls.filter(([name, key]) => !(name === "getProperty" && polledProperties.includes(key)));
  }

  // Whether the page gave a command that starts with these values (the name, then arguments).
  has(...call) {
    return this.commands().some((given) => call.every((value, i) => given[i] === value));
  }

  async until(what, predicate) {
    const end = Date.now() + waitMilliseconds;
    while (!(await predicate())) {
      if (Date.now() > end) {
        const view = await this.page.evaluate(readView).catch(() => "(no view)");
        throw new Error(`timed out waiting for ${what}\ncommands: ${JSON.stringify(this.commands())}\n` +
          `view: ${JSON.stringify(view)}\nerrors: ${JSON.stringify(this.errors)}`);
      }
      await delay(20);
    }
  }

  untilCommand(...call) {
    return this.until(`the command ${JSON.stringify(call)}`, () => this.has(...call));
  }

  // Waits until the view shows these values, and returns the whole view.
  async untilView(expected) {
    let view;
    await this.until(`the view ${JSON.stringify(expected)}`, async () => {
      view = await this.page.evaluate(readView);
      return Object.entries(expected).every(([key, value]) => JSON.stringify(view[key]) === JSON.stringify(value));
    });
    return view;
  }

  setProperties(values) {
    return this.page.evaluate((v) => window.testScriptHost.setProperties(v), values);
  }

  finish(job, result) {
    return this.page.evaluate((j, r) => window.testScriptHost.finish(j, r), job, result);
  }

  flow(key, start, perSecond, end) {
    return this.page.evaluate((...args) => window.testScriptHost.flow(...args), key, start, perSecond, end);
  }

  // Leaves the page for another file page, and returns the calls the page gave while it was left.
  async leave(filePage) {
    await this.page.goto(pathToFileURL(filePage).href);
    return this.page.evaluate((key) => JSON.parse(localStorage.getItem(key) || "[]"), this.journalKey);
  }

  async screenshot(name) {
    await this.page.screenshot({ path: path.join(screenshotFolder, `${name}.png`) });
  }

  // A state of the page: its screenshot, and no WCAG 2.1 AA violation that axe-core finds in it.
  async checkState(name) {
    await this.screenshot(name);
    const violations = await axeViolations(this.page);
    assert.deepEqual(violations, [], describeViolations(name, violations));
  }

  assertClean(view) {
    assert.deepEqual(this.errors, [], "no script error, no console error, every file loaded");
    if (view) {
      assert.deepEqual(view.faults, [], "every text fits the window");
    }
  }
}

const offlineUrl = "https://www.example.com/SorvaneProFull.exe";

const downloadStart = [
  ["getProperty", "lang"],
  ["getProperty", "highContrast"],
  ["disableCloseWindow", true],
  ["setInstallStatus", 2],
  ["download", stubParams.packageUrl, "<callback>"]
];

describe("the pages in headless Chromium", { skip: chromium ? false : "chromium not found: run scripts/install-deps" }, () => {
  let scratch;
  let payload;
  // The same pages for a release with a full installer (stubParams.offlineUrl).
  let offlinePayload;
  let browser;

  before(async () => {
    scratch = fs.mkdtempSync(path.join(os.tmpdir(), "pages-test-"));
    payload = path.join(scratch, "payload");
    const staged = spawnSync(path.join(root, "scripts", "stage-payload"), [payload], { encoding: "utf8" });
    assert.equal(staged.status, 0, staged.stderr);
    fs.writeFileSync(path.join(scratch, "other.html"), "<!DOCTYPE html><title>other</title>");
    offlinePayload = path.join(scratch, "payload-offline");
    fs.cpSync(payload, offlinePayload, { recursive: true });
    const params = path.join(offlinePayload, "js", "stubparams.js");
    fs.writeFileSync(params, fs.readFileSync(params, "utf8").replace('"offlineUrl": ""', `"offlineUrl": "${offlineUrl}"`));
    fs.mkdirSync(screenshotFolder, { recursive: true });
    // Puppeteer's headless mode is Chromium's new headless mode; root needs --no-sandbox.
    const puppeteer = require("puppeteer-core");
    browser = await puppeteer.launch({
      executablePath: chromium,
      headless: true,
      args: ["--no-sandbox", "--disable-gpu"]
    });
  });

  after(async () => {
    await browser?.close();
    fs.rmSync(scratch, { recursive: true, force: true });
  });

  const idleSlots = [];

  // Loads a page in an idle slot (or a new one), runs body on it, and gives the slot back.
  // look: { forcedColors: true } emulates a browser's forced colours, { scale: 2 } a screen at
  // twice the pixels per inch, where the host makes the window and the page twice as large,
  // { offline: true } the pages of a release with a full installer.
  async function withPage(pageName, properties, body, look = {}) {
    const slot = idleSlots.pop() || (await PageSlot.open(browser));
    try {
      if (look.forcedColors) {
        // Puppeteer's own media emulation does not know this feature; Chromium's protocol does.
        await slot.session.send("Emulation.setEmulatedMedia", { features: [{ name: "forced-colors", value: "active" }] });
      }
      if (look.scale) {
        await slot.page.setViewport({ ...windowSize, deviceScaleFactor: look.scale });
      }
      await body(await PageRun.open(slot, look.offline ? offlinePayload : payload, pageName, properties));
    } finally {
      slot.run = null;
      if (look.forcedColors) {
        await slot.session.send("Emulation.setEmulatedMedia", { features: [] });
      }
      if (look.scale) {
        await slot.page.setViewport(windowSize);
      }
      idleSlots.push(slot);
    }
  }

  describe("Load.html", { concurrency: 4 }, () => {
    for (const lang of languages) {
      test(`lang ${lang}: prepares the window and the run, then the download page starts in ${lang}`, () =>
        withPage("Load.html", { lang }, async (run) => {
          const texts = reference.texts(lang);
          await run.untilCommand("download");
          assert.deepEqual(run.commands(), [
            ["getProperty", "osVersion"],
            ["setInstallStatus", 0],
            ["manageShortcut", stubParams.shortcutName, true],
            ["setWindowSize", windowSize.width, windowSize.height],
            ["setChannel", stubParams.channel],
            ...downloadStart
          ]);
          assert.equal(path.basename(new URL(run.page.url()).pathname), "Download.html");
          const view = await run.untilView({ percent: "0%" });
          assert.deepEqual(
            [view.title, view.shownTitle, view.status, view.fill, view.error],
            [texts.title, texts.title, texts.downloading, null, null]
          );
          assert.equal(await run.page.$eval("#close", (close) => close.title), texts.closeTooltip);
          run.assertClean(view);
          await run.checkState(`start-${lang}`);
        }));
    }

    test("osVersion 6.0: the old-system message in the page's language, status 4, and no more", () =>
      withPage("Load.html", { osVersion: "6.0", lang: "de" }, async (run) => {
        const texts = reference.texts("de");
        await run.untilCommand("closeWindow");
        assert.deepEqual(run.commands(), [
          ["getProperty", "osVersion"],
          ["getProperty", "lang"],
          ["messageBox", texts.oldSystem, texts.title],
          ["setInstallStatus", 4],
          ["closeWindow"]
        ]);
        assert.equal(path.basename(new URL(run.page.url()).pathname), "Load.html");
        run.assertClean();
        await run.checkState("load-old-system");
      }));
  });

  describe("Download.html", { concurrency: 4 }, () => {
    test("the progress bar follows the download, then the extraction, and the run hands over", () =>
      withPage("Download.html", {}, async (run) => {
        const texts = reference.texts("en");
        await run.untilCommand("download");
        // [properties, percent shown, fill width in pixels (null: hidden)]. The download fills
        // 80 % of the 571-pixel track; the fill is never narrower than its two 8-pixel caps and
        // never goes back.
        const downloadSteps = [
          [{ downloadTotal: "1000", downloadCurrent: "0" }, "0%", null],
          [{ downloadCurrent: "5" }, "0%", 16],
          [{ downloadCurrent: "500" }, "40%", 228],
          [{ downloadCurrent: "200" }, "40%", 228],
          [{ downloadCurrent: "1000" }, "80%", 457]
        ];
        for (const [properties, percent, fill] of downloadSteps) {
          await run.setProperties(properties);
          const view = await run.untilView({ percent, fill, fillEnd: fill, status: texts.downloading });
          run.assertClean(view);
          if (percent === "40%" && properties.downloadCurrent === "500") {
            await run.checkState("downloading");
          }
        }

        const downloaded = Date.now();
        await run.finish("download", 0);
        await run.untilView({ status: texts.extracting, percent: "80%", fill: 457 });
        await run.untilCommand("extract");
        // A lower bound only: a busy machine makes the wait longer, never shorter.
        assert.ok(Date.now() - downloaded >= 950, "the extraction waits a second after the download");
        const extractSteps = [
          [{ extractProgress: "50" }, "90%", 514],
          [{ extractProgress: "100" }, "100%", 571]
        ];
        for (const [properties, percent, fill] of extractSteps) {
          await run.setProperties(properties);
          run.assertClean(await run.untilView({ percent, fill, fillEnd: fill, status: texts.extracting }));
          if (percent === "90%") {
            await run.checkState("extracting");
          }
        }

        await run.finish("extract", 0);
        run.assertClean(await run.untilView({ status: texts.installing, percent: "100%", fill: 571 }));
        await run.checkState("installing");
        await run.finish("install", 0);
        await run.untilCommand("closeWindow");
        assert.deepEqual(run.commands(), [
          ...downloadStart,
          ["extract", "<callback>"],
          ["install", "", "<callback>"],
          ["setInstallStatus", 1],
          ["manageShortcut", stubParams.shortcutName, false],
          ["openPage", stubParams.thankYouUrl],
          ["closeWindow"]
        ]);
        run.assertClean();
        await run.checkState("success");
      }));

    // [job, result, message]: what each failing result code of the download and the extraction
    // shows, in every language.
    const failures = [
      ["download", 1, "networkProblem"],
      ["download", 2, "packageMissing"],
      ["download", 3, "diskFull"],
      ["download", 4, "networkProblem"],
      ["download", 5, "noNetwork"],
      ["download", 6, "networkSignIn"],
      ["download", 8, "untrustedCertificate"],
      ["download", 9, "certificateDate"],
      ["download", 10, "serverNotFound"],
      ["extract", 1, "generalError"],
      ["extract", 2, "diskFull"],
      ["extract", 3, "generalError"]
    ];
    for (const [job, result, message] of failures) {
      for (const lang of languages) {
        test(`${job} result ${result}, lang ${lang}: shows ${message} and closes with status 2`, () =>
          withPage("Download.html", { lang }, async (run) => {
            const texts = reference.texts(lang);
            await run.untilCommand("download");
            const jobCalls = [];
            if (job === "extract") {
              await run.finish("download", 0);
              await run.untilCommand("extract");
              jobCalls.push(["extract", "<callback>"]);
            }
            await run.finish(job, result);
            await run.untilCommand("closeWindow");
            assert.deepEqual(run.commands(), [
              ...downloadStart,
              ...jobCalls,
              ["messageBox", texts[message], texts.title],
              ["closeWindow"]
            ]);
            const view = await run.untilView({ error: texts[message], percent: null });
            run.assertClean(view);
            const aria = await run.page.evaluate(readAria);
            assert.deepEqual(aria.error, { role: "alert", "aria-live": "assertive", text: texts[message] });
            assert.equal(aria.lang, texts.languageTag);
            await run.checkState(`error-${job}-${result}-${lang}`);
          }));
      }
    }

    // A proxy that wants a sign-in (download result 7): the form, keyboard first; a sign-in tries
    // the same place again, a refusal says so, and Cancel ends in the proxy's message.
    for (const lang of languages) {
      test(`lang ${lang}: the proxy's sign-in form, a refused sign-in, and Cancel`, () =>
        withPage("Download.html", { lang }, async (run) => {
          const texts = reference.texts(lang);
          const password = "s3cret p\u00e4ss";
          await run.untilCommand("download");
          await run.finish("download", 7);
          let view = await run.untilView({ proxyForm: { text: texts.proxyFormText, userName: "", password: "" }, percent: null });
          run.assertClean(view);
          assert.deepEqual(await run.page.evaluate(readFocus), { id: "proxy-user", ring: true }, "the first field has the focus");
          assert.deepEqual(await run.page.evaluate(() => [...document.querySelectorAll("#proxy-form input")]
            .map((input) => [input.type, input.labels[0].textContent, input.name])),
          [["text", texts.proxyUserName, ""], ["password", texts.proxyPassword, ""]]);
          await run.checkState(`proxy-sign-in-${lang}`);
          const order = [];
          for (let i = 0; i < 5; i += 1) {
            await run.page.keyboard.press("Tab");
            order.push(await run.page.evaluate(readFocus));
          }
          assert.deepEqual(order, ["proxy-password", "proxy-sign-in", "proxy-cancel", "close", "proxy-user"]
            .map((id) => ({ id, ring: true })), "the focus order");
          await run.page.keyboard.type("anna");
          await run.page.keyboard.press("Tab");
          await run.page.keyboard.type(password);
          await run.page.keyboard.press("Enter");
          await run.untilCommand("proxySignIn");
          await run.until("the download again", () => run.commands().filter(([name]) => name === "download").length === 2);
          assert.deepEqual(run.commands().slice(downloadStart.length), [
            ["proxySignIn", "anna", password],
            ["download", stubParams.packageUrl, "<callback>"]
          ]);
          run.assertClean(await run.untilView({ proxyForm: null, status: texts.downloading, percent: "0%" }));

          await run.finish("download", 7);
          view = await run.untilView({ proxyForm: { text: texts.proxyRefused, userName: "anna", password: "" } });
          run.assertClean(view);
          assert.equal((await run.page.evaluate(readFocus)).id, "proxy-password", "the user name kept, the password asked again");
          assert.equal((await run.page.evaluate(readAria)).lang, texts.languageTag);
          assert.deepEqual(await run.page.evaluate(() => {
            const refused = document.getElementById("proxy-refused");
            return [refused.getAttribute("role"), refused.textContent];
          }), ["alert", texts.proxyRefused]);
          await run.checkState(`proxy-sign-in-refused-${lang}`);
          await run.page.click("#proxy-cancel");
          await run.untilCommand("closeWindow");
          assert.deepEqual(run.commands().slice(downloadStart.length + 2), [
            ["messageBox", texts.proxySignIn, texts.title],
            ["closeWindow"]
          ]);
          view = await run.untilView({ error: texts.proxySignIn, proxyForm: null });
          run.assertClean(view);
          assert.ok(!JSON.stringify(run.commands().filter(([name]) => name !== "proxySignIn")).includes("s3cret"));
          assert.ok(!run.page.url().includes("s3cret") && !run.page.url().includes("anna"), "nothing in the URL");
          await run.checkState(`error-download-7-${lang}`);
        }));
    }

    // A release with a full installer: every network failure's message offers it, with the
    // keyboard as with the mouse; shown here with each language's longest such message.
    const networkFailures = [1, 2, 4, 5, 6, 8, 9, 10];
    for (const lang of languages) {
      test(`lang ${lang}: a network failure offers the full installer, which ends the run`, () =>
        withPage("Download.html", { lang }, async (run) => {
          const texts = reference.texts(lang);
          const [result, message] = networkFailures
            .map((code) => [code, reference.context.downloadErrorText(texts, code)])
            .sort((a, b) => b[1].length - a[1].length)[0];
          await run.untilCommand("download");
          await run.finish("download", result);
          const view = await run.untilView({ error: message, offline: texts.offlineInstaller, percent: null });
          run.assertClean(view);
          assert.deepEqual(await run.page.evaluate(readFocus), { id: "offline", ring: true }, "the button has the focus");
          const aria = await run.page.evaluate(readAria);
          assert.deepEqual(aria.error, { role: "alert", "aria-live": "assertive", text: message });
          await run.checkState(`offline-offer-download-${result}-${lang}`);
          const order = [];
          for (let i = 0; i < 2; i += 1) {
            await run.page.keyboard.press("Tab");
            order.push((await run.page.evaluate(readFocus)).id);
          }
          assert.deepEqual(order, ["close", "offline"]);
          await run.page.keyboard.press("Enter");
          await run.untilCommand("closeWindow");
          assert.deepEqual(run.commands(), [
            ...downloadStart,
            ["disableCloseWindow", false],
            ["openPage", offlineUrl],
            ["closeWindow"]
          ]);
          run.assertClean();
        }, { offline: true }));
    }

    test("a release with a full installer: a full disk keeps its message box and offers nothing", () =>
      withPage("Download.html", {}, async (run) => {
        await run.untilCommand("download");
        await run.finish("download", 3);
        await run.untilCommand("closeWindow");
        assert.deepEqual(run.commands().slice(downloadStart.length),
          [["messageBox", reference.texts("en").diskFull, reference.texts("en").title], ["closeWindow"]]);
        run.assertClean(await run.untilView({ offline: null }));
      }, { offline: true }));

    // 120 MiB, from 37.2 MiB on at 1 MiB a second: the sizes show at the first poll, the time left
    // (about 80 s, "2 min") once the rate has been steady for two seconds.
    for (const lang of languages) {
      test(`lang ${lang}: the sizes of the download at once, the time left once the rate is steady`, () =>
        withPage("Download.html", { lang }, async (run) => {
          const texts = reference.texts(lang);
          const { fillText, timeLeftText } = reference.context;
          const total = 120 * 1048576;
          const megabytes = texts.sizeUnits.split("|")[1];
          await run.untilCommand("download");
          await run.setProperties({ downloadTotal: String(total) });
          await run.flow("downloadCurrent", 39007437, 1048576, total);
          const escaped = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
          const sizes = new RegExp(`^${escaped(fillText(texts.sizeProgress, fillText(megabytes, "#"),
            fillText(megabytes, "120"))).replace("#", "\\d{2}[.,]\\d")}$`);
          let view;
          await run.until("the sizes", async () => {
            view = await run.page.evaluate(readView);
            return sizes.test(view.detail || "");
          });
          assert.equal(view.timeLeft, "", "no estimate from the first sample");
          view = await run.untilView({ timeLeft: timeLeftText(texts, 80) });
          assert.match(view.detail, sizes);
          run.assertClean(view);
          const spoken = reference.context.spokenTimeLeftText(texts, 80);
          // Both at one moment: the next poll changes the sizes.
          const now = await run.page.evaluate(`({ view: (${readView})(), aria: (${readAria})() })`);
          const { aria } = now;
          assert.equal(aria.lang, texts.languageTag);
          assert.deepEqual(aria.bar, {
            role: "progressbar",
            "aria-valuemin": "0",
            "aria-valuemax": "100",
            "aria-valuenow": now.view.percent.replace("%", ""),
            "aria-valuetext": `${now.view.detail}${texts.listSeparator}${spoken}`,
            name: texts.downloading
          });
          assert.deepEqual([aria.status.role, aria.status["aria-live"], aria.status.text],
            ["status", "polite", texts.downloading]);
          assert.deepEqual(aria.announcement, { "aria-live": "polite", text: spoken });
          await run.checkState(`downloading-time-left-${lang}`);
          await run.finish("download", 0);
          run.assertClean(await run.untilView({ status: texts.extracting, detail: "", timeLeft: "" }));
        }));
    }

    const installEndings = [
      [1, [["closeWindow"]]],
      [2, [["setInstallStatus", 3], ["closeWindow"]]],
      [3, [["closeWindow"]]],
      [4, [["setInstallStatus", 3], ["closeWindow"]]]
    ];
    for (const [result, ending] of installEndings) {
      test(`install result ${result} ends with ${JSON.stringify(ending)}, the shortcut kept`, () =>
        withPage("Download.html", {}, async (run) => {
          await run.untilCommand("download");
          await run.finish("download", 0);
          await run.untilCommand("extract");
          await run.finish("extract", 0);
          await run.finish("install", result);
          await run.untilCommand("closeWindow");
          assert.deepEqual(run.commands().slice(downloadStart.length), [
            ["extract", "<callback>"],
            ["install", "", "<callback>"],
            ...ending
          ]);
          run.assertClean(await run.page.evaluate(readView));
        }));
    }

    test("the close button only minimises during the run; the title band drags the window", () =>
      withPage("Download.html", {}, async (run) => {
        await run.untilCommand("download");
        await run.page.click("#close");
        await run.untilCommand("hideWindow");
        await run.page.mouse.move(200, 20);
        await run.page.mouse.down();
        await run.page.mouse.up();
        await run.untilCommand("dragWindow");
        assert.deepEqual(run.commands().slice(downloadStart.length), [["hideWindow"], ["dragWindow"]]);
        run.assertClean();
      }));

    // With the keyboard alone, in every state: the focus starts on the progress bar; Tab and
    // Shift+Tab go round the bar and the close button with a visible ring and never leave the page;
    // Enter, Space and Escape each ask to close (here: minimise, the run protects the window).
    test("keyboard only: the focus order, the focus ring and the keys that close, in every state", () =>
      withPage("Download.html", { downloadTotal: String(120 * 1048576) }, async (run) => {
        const keyboard = run.page.keyboard;
        const hides = () => run.commands().filter(([name]) => name === "hideWindow").length;
        await run.untilCommand("download");
        assert.deepEqual(await run.page.evaluate(readFocus), { id: "progress", ring: true }, "the first focus");
        const round = async (state) => {
          // Keyboard only: Tab to the bar from wherever the last state left the focus.
          for (let presses = 0; (await run.page.evaluate(readFocus)).id !== "progress"; presses += 1) {
            assert.ok(presses < 3, `${state}: Tab does not reach the progress bar`);
            await keyboard.press("Tab");
          }
          const order = [];
          for (let i = 0; i < 4; i += 1) {
            await keyboard.press("Tab");
            order.push(await run.page.evaluate(readFocus));
          }
          await keyboard.down("Shift");
          for (let i = 0; i < 2; i += 1) {
            await keyboard.press("Tab");
            order.push(await run.page.evaluate(readFocus));
          }
          await keyboard.up("Shift");
          const close = { id: "close", ring: true };
          const bar = { id: "progress", ring: true };
          assert.deepEqual(order, [close, bar, close, bar, close, bar], `${state}: the focus order`);
          await keyboard.press("Tab");
          await run.checkState(`keyboard-${state}`);
          const before = hides();
          await keyboard.press("Enter");
          await keyboard.press("Space");
          await keyboard.press("Escape");
          await run.until(`${state}: three requests to close`, () => hides() === before + 3);
        };
        await round("downloading");
        await run.flow("downloadCurrent", 39007437, 1048576, 120 * 1048576);
        await run.untilView({ timeLeft: reference.context.timeLeftText(reference.texts("en"), 80) });
        await round("downloading-time-left");
        await run.finish("download", 0);
        await run.untilCommand("extract");
        await round("extracting");
        await run.finish("extract", 0);
        await run.untilCommand("install");
        await round("installing");
        await run.finish("install", 1);
        await run.untilCommand("closeWindow");
        run.assertClean();
      }));

    test("keyboard only: a failure's message keeps the same controls", () =>
      withPage("Download.html", { lang: "de" }, async (run) => {
        await run.untilCommand("download");
        await run.finish("download", 3);
        await run.untilView({ error: reference.texts("de").diskFull });
        const order = [];
        for (let i = 0; i < 3; i += 1) {
          await run.page.keyboard.press("Tab");
          order.push((await run.page.evaluate(readFocus)).id);
        }
        assert.deepEqual(order, ["close", "progress", "close"]);
        await run.page.keyboard.press("Escape");
        await run.untilCommand("hideWindow");
        await run.checkState("keyboard-error-download-3-de");
      }));

    // High contrast from the system (the script object's "highContrast"), and a browser's forced
    // colours: no background image, no painted corner, the fill still apart from its track.
    const looks = [
      ["high-contrast", { highContrast: "1" }, {}],
      ["forced-colors", {}, { forcedColors: true }]
    ];
    for (const [name, properties, look] of looks) {
      for (const lang of ["en", "jp"]) {
        test(`${name}, lang ${lang}: system colours only, the bar and the texts visible, downloading and failed`, () =>
          withPage("Download.html", { ...properties, lang, downloadTotal: "1000" }, async (run) => {
            const texts = reference.texts(lang);
            await run.untilCommand("download");
            await run.setProperties({ downloadCurrent: "500" });
            run.assertClean(await run.untilView({ percent: "40%" }));
            assert.deepEqual(await run.page.evaluate(readLook),
              { highContrast: true, withImages: [], fillStandsOut: true, closeGlyph: true });
            await run.checkState(`${name}-downloading-${lang}`);
            await run.finish("download", 3);
            run.assertClean(await run.untilView({ error: texts.diskFull }));
            await run.checkState(`${name}-error-download-3-${lang}`);
          }, look));
      }
    }

    // The states that wait for the user, in the same looks: the sign-in form, then (with a full
    // installer) its Cancel's offer.
    for (const [name, properties, look] of looks) {
      test(`${name}: the proxy's sign-in form and the full installer's offer in system colours`, () =>
        withPage("Download.html", { ...properties, lang: "de" }, async (run) => {
          const texts = reference.texts("de");
          await run.untilCommand("download");
          await run.finish("download", 7);
          run.assertClean(await run.untilView({ proxyForm: { text: texts.proxyFormText, userName: "", password: "" } }));
          assert.deepEqual((await run.page.evaluate(readLook)).withImages, []);
          await run.checkState(`${name}-proxy-sign-in-de`);
          await run.page.click("#proxy-cancel");
          run.assertClean(await run.untilView({ error: texts.proxySignIn, offline: texts.offlineInstaller }));
          await run.checkState(`${name}-offline-offer-download-7-de`);
        }, { ...look, offline: true }));
    }

    test("a console error fails the page checks", () =>
      withPage("Download.html", {}, async (run) => {
        await run.untilCommand("download");
        await run.page.evaluate(() => console.error("planted"));
        await run.until("the console error", () => run.errors.length > 0);
        assert.throws(() => run.assertClean(), /console: planted/);
      }));

    test("without high contrast the images stay", () =>
      withPage("Download.html", { highContrast: "0" }, async (run) => {
        await run.untilCommand("download");
        const look = await run.page.evaluate(readLook);
        assert.equal(look.highContrast, false);
        assert.deepEqual(look.withImages.sort(), ["branding", "close", "panel", "progress"].sort());
      }));

    // Twice the pixels per inch, as the host sizes the window and the page for a screen at 200 %
    // (the way Windows makes this window's text twice as large): the longest texts (German and
    // Japanese first) still fit, in every language, with the glyphs as drawn at that size.
    for (const lang of ["de", "jp", "fr", "it", "nl", "en"]) {
      test(`200 %, lang ${lang}: the time left and the longest failure message fit the window`, () =>
        withPage("Download.html", { lang, downloadTotal: String(120 * 1048576) }, async (run) => {
          const texts = reference.texts(lang);
          await run.untilCommand("download");
          await run.flow("downloadCurrent", 39007437, 1048576, 120 * 1048576);
          run.assertClean(await run.untilView({ timeLeft: reference.context.timeLeftText(texts, 80) }));
          await run.checkState(`scale-200-downloading-time-left-${lang}`);
          await run.finish("download", 3);
          run.assertClean(await run.untilView({ error: texts.diskFull }));
          await run.checkState(`scale-200-error-download-3-${lang}`);
        }, { scale: 2 }));
    }

    test("a planted violation fails the accessibility check, naming the state, the rule and the element", () =>
      withPage("Download.html", {}, async (run) => {
        await run.untilCommand("download");
        await run.page.evaluate(() => document.getElementById("branding").removeAttribute("alt"));
        await assert.rejects(run.checkState("planted-violation"), (error) => {
          assert.match(error.message, /state "planted-violation": 1 WCAG 2\.1 AA violation/);
          assert.match(error.message, /image-alt \(Images must have alternative text\)/);
          assert.match(error.message, /#branding <img id="branding"/);
          return true;
        });
      }));

    test("leaving the page lets the window close again", () =>
      withPage("Download.html", {}, async (run) => {
        await run.untilCommand("download");
        assert.deepEqual(await run.leave(path.join(scratch, "other.html")), [["disableCloseWindow", false]]);
        run.assertClean();
      }));
  });
});
