// A scripted stand-in for the host of the pages' scripts: the product's script object (`external`)
// with the same argument checks, timers that run only when a test advances them, and a view that
// records what the page would show. The page scripts run in a vm context that has nothing else,
// so a script that reaches for a browser object or a global timer fails.
"use strict";
const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const jsFolder = path.join(__dirname, "..", "js");

// The product object's commands with the argument types it accepts (integers arrive as VT_I4,
// strings as VT_BSTR, booleans as VT_BOOL, functions as VT_DISPATCH; anything else is refused).
// restoreWindow and retryMessageBox are unknown names to the product object.
const signatures = {
  setWindowSize: ["int", "int"],
  closeWindow: [],
  download: ["string", "function"],
  extract: ["function"],
  install: ["string", "function"],
  getProperty: ["string"],
  setChannel: ["string"],
  setInstallStatus: ["int"],
  startInstallProgram: ["string"],
  hideWindow: [],
  dragWindow: [],
  messageBox: ["string", "string"],
  disableCloseWindow: ["boolean"],
  openPage: ["string"],
  manageShortcut: ["string", "boolean"],
  proxySignIn: ["string", "string"]
};

const jobs = ["download", "extract", "install"];

// Throws as the product object refuses a call of the command name whose argument types are types:
// a wrong argument count, a wrong type, or a status out of range. It uses nothing from outside, so
// the browser checks put this same function into their pages.
function checkCommandCall(name, types, args) {
  const typeOf = (value) => {
    if (typeof value === "number") {
      return Number.isInteger(value) && value >= -0x80000000 && value <= 0x7fffffff ? "int" : "double";
    }
    return typeof value;
  };
  if (args.length !== types.length) {
    throw new Error(`${name}: ${args.length} arguments (DISP_E_BADPARAMCOUNT)`);
  }
  args.forEach((arg, i) => {
    if (typeOf(arg) !== types[i]) {
      throw new Error(`${name}: argument ${i} is ${typeOf(arg)}, not ${types[i]} (DISP_E_TYPEMISMATCH)`);
    }
  });
  if (name === "setInstallStatus" && (args[0] < 0 || args[0] > 4)) {
    throw new Error("setInstallStatus: STG_E_INVALIDPARAMETER");
  }
}

class ScriptHost {
  // options.quiet: the quiet run's view, which has only the four methods of the host's own (no form,
  // no choice); otherwise the window's view.
  constructor(properties, options = {}) {
    this.quiet = Boolean(options.quiet);
    this.properties = {
      osVersion: "6.1",
      arch: "x64",
      lang: "en",
      downloadTotal: "1",
      downloadCurrent: "0",
      extractProgress: "0",
      ...properties
    };
    this.calls = [];
    this.shown = [];
    this.pendingJobs = {};
    this.now = 0;
    this.timerList = [];
    this.nextTimerId = 1;
    this.external = this.makeExternal();
    this.timers = this.makeTimers();
    this.view = this.makeView();
    this.context = vm.createContext({ external: this.external });
    for (const file of ["contents.js", "stubparams.js", "external.js"]) {
      const code = fs.readFileSync(path.join(jsFolder, file), "utf8");
      vm.runInContext(code, this.context, { filename: file });
    }
  }

  makeExternal() {
    const external = {};
    for (const [name, types] of Object.entries(signatures)) {
      external[name] = (...args) => {
        checkCommandCall(name, types, args);
        this.calls.push([name, ...args.map((arg) => (typeof arg === "function" ? "<callback>" : arg))]);
        return this.perform(name, args);
      };
    }
    return external;
  }

  perform(name, args) {
    if (name === "getProperty") {
      const key = args[0];
      if (!Object.prototype.hasOwnProperty.call(this.properties, key)) {
        this.properties[key] = "";
      }
      return this.properties[key];
    }
    if (jobs.includes(name)) {
      if (Object.keys(this.pendingJobs).length) {
        throw new Error(`${name} started while ${Object.keys(this.pendingJobs)} runs`);
      }
      this.pendingJobs[name] = args[args.length - 1];
    }
    return undefined;
  }

  makeTimers() {
    const add = (callback, milliseconds, repeat) => {
      const timer = { id: this.nextTimerId++, callback, milliseconds, repeat, due: this.now + milliseconds };
      this.timerList.push(timer);
      return timer.id;
    };
    const remove = (id) => {
      this.timerList = this.timerList.filter((timer) => timer.id !== id);
    };
    return {
      setTimeout: (callback, milliseconds) => add(callback, milliseconds, false),
      setInterval: (callback, milliseconds) => add(callback, milliseconds, true),
      clearTimeout: remove,
      clearInterval: remove
    };
  }

  makeView() {
    const view = {
      navigate: (page) => this.shown.push(["navigate", page]),
      showTexts: (texts, highContrast) => {
        this.shown.push(["showTexts", texts.title]);
        this.highContrast = highContrast;
      },
      showProgress: (fraction, stage, sizeText, timeText, valueText, announcement) => {
        this.shown.push(["showProgress", fraction, stage]);
        this.detail = [sizeText, timeText];
        this.spoken = [valueText, announcement];
      },
      showError: (text) => this.shown.push(["showError", text])
    };
    if (this.quiet) {
      return view;
    }
    view.showOfflineOffer = (text, label) => this.shown.push(["showOfflineOffer", text, label]);
    view.showProxySignIn = (refused) => this.shown.push(["showProxySignIn", refused]);
    return view;
  }

  // Runs every timer that falls due within the next milliseconds, in the order they fall due.
  advance(milliseconds) {
    const end = this.now + milliseconds;
    for (;;) {
      const due = this.timerList.filter((timer) => timer.due <= end).sort((a, b) => a.due - b.due || a.id - b.id);
      if (!due.length) {
        break;
      }
      const timer = due[0];
      this.now = timer.due;
      if (timer.repeat) {
        timer.due += timer.milliseconds;
      } else {
        this.timerList = this.timerList.filter((other) => other !== timer);
      }
      timer.callback();
    }
    this.now = end;
  }

  // The worker of a job calls the page back with its result code.
  finish(job, result) {
    const callback = this.pendingJobs[job];
    if (!callback) {
      throw new Error(`no ${job} job is running`);
    }
    delete this.pendingJobs[job];
    callback(result);
  }

  // The script object's calls without the progress polls.
  commands() {
    const polled = ["downloadTotal", "downloadCurrent", "extractProgress"];
    return this.calls.filter(([name, key]) => !(name === "getProperty" && polled.includes(key)));
  }

  lastProgress() {
    const shown = this.shown.filter(([kind]) => kind === "showProgress");
    return shown[shown.length - 1];
  }

  texts(lang) {
    return vm.runInContext(`textsForLanguage(${JSON.stringify(lang)})`, this.context);
  }
}

module.exports = { ScriptHost, jsFolder, signatures, checkCommandCall };
