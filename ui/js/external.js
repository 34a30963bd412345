// The installer workflow of the pages: every call of the script object `external`, in the order
// that the host expects. This file holds no DOM code and uses no browser object, so that the same
// file runs headless in a bare script engine. What the pages show goes through a small view
// object that each page passes in; timers come from a timers object with setTimeout, setInterval,
// clearTimeout and clearInterval (the window in a browser, a host object elsewhere).
//
// The script object checks how it is called: getProperty only inside an expression, every other
// command only as a statement of its own, with integer, boolean and string arguments exactly as
// written here. Never use the value of a command other than getProperty.
//
// Needs pageTexts/textsForLanguage (contents.js) and stubParams (stubparams.js).

var workflowSettings = {
  downloadPage: "Download.html",
  windowWidth: 651,
  windowHeight: 272,
  pollMilliseconds: 400,
  extractDelayMilliseconds: 1000,
  // Share of the progress bar that the download fills; the extraction fills the rest.
  downloadShare: 0.8
};

// Status values of setInstallStatus. Status 2 is set when the download starts, so a run that ends
// before a later status is reported as failed, with its logs.
var installStatus = {
  notStarted: 0,
  completed: 1,
  errorOccurred: 2,
  canceled: 3,
  notSupported: 4
};

// The download page's run while that page is shown, else null.
var downloadRun = null;

// A whole number from a property text or a callback argument; 0 for anything else.
function toWholeNumber(value) {
  var number = parseInt(String(value), 10);
  return isNaN(number) ? 0 : number;
}

// True for an "osVersion" of Windows 7 (6.1) or later. The version arrives as "major.minor"
// text, so it is compared as numbers ("10.0" sorts before "6.1" as text). Text that is no
// version counts as 0.0, the host's own value for an unknown version.
function isSupportedOsVersion(text) {
  var match = /^\s*(\d+)(?:\.(\d+))?/.exec(String(text));
  var major = match ? parseInt(match[1], 10) : 0;
  var minor = match && match[2] ? parseInt(match[2], 10) : 0;
  return major > 6 || (major === 6 && minor >= 1);
}

// The message that the page shows for a failed download (result codes of the download command).
function downloadErrorText(texts, result) {
  if (result === 3) {
    return texts.diskFull;
  }
  if (result === 5) {
    return texts.noNetwork;
  }
  return texts.networkProblem;
}

// The message that the page shows for a failed extraction (result codes of the extract command).
function extractErrorText(texts, result) {
  return result === 2 ? texts.diskFull : texts.generalError;
}

// done out of total as a fraction from 0 to 1; 0 while the total is unknown.
function fractionOf(done, total) {
  if (total <= 0 || done <= 0) {
    return 0;
  }
  return done >= total ? 1 : done / total;
}

// Load.html: refuses systems older than Windows 7, otherwise prepares the window and the run and
// moves on to the download page (view.navigate).
function runLoadPage(view) {
  var osVersion = external.getProperty("osVersion");
  var texts;
  if (!isSupportedOsVersion(osVersion)) {
    texts = textsForLanguage(external.getProperty("lang"));
    external.messageBox(texts.oldSystem, texts.title);
    external.setInstallStatus(installStatus.notSupported);
    external.closeWindow();
    return;
  }
  external.setInstallStatus(installStatus.notStarted);
  external.manageShortcut(stubParams.shortcutName, true);
  external.setWindowSize(workflowSettings.windowWidth, workflowSettings.windowHeight);
  external.setChannel(stubParams.channel);
  view.navigate(workflowSettings.downloadPage);
}

// Download.html, on load: protects the window from closing, then downloads, extracts and installs
// the package, each job started from the previous one's callback. The view receives
// showTexts(texts) once, showProgress(fraction, stage) with a fraction from 0 to 1 that never goes
// back and a stage of "downloading", "extracting" or "installing", and showError(text) before a
// failure's message box.
function startDownloadPage(view, timers) {
  var run = {
    view: view,
    timers: timers,
    texts: textsForLanguage(external.getProperty("lang")),
    stage: "downloading",
    // The job whose callback is awaited: "download", "extract", "install" or "" for none.
    awaiting: "",
    fraction: 0,
    poll: null,
    extractTimer: null,
    closeDisabled: false
  };
  if (downloadRun !== null) {
    stopDownloadPage();
  }
  downloadRun = run;
  view.showTexts(run.texts);
  external.disableCloseWindow(true);
  run.closeDisabled = true;
  external.setInstallStatus(installStatus.errorOccurred);
  showProgress(run, 0);
  run.poll = timers.setInterval(function () {
    pollProgress(run);
  }, workflowSettings.pollMilliseconds);
  run.awaiting = "download";
  external.download(stubParams.packageUrl, function (result) {
    onDownloaded(run, result);
  });
}

// Download.html, on unload: stops the timers, lets the window close again, and makes callbacks
// that arrive later do nothing.
function stopDownloadPage() {
  var run = downloadRun;
  if (run === null) {
    return;
  }
  downloadRun = null;
  stopTimers(run);
  run.awaiting = "";
  if (run.closeDisabled) {
    run.closeDisabled = false;
    external.disableCloseWindow(false);
  }
}

// The page's close button. While the download page has closing disabled, the window is only
// minimised, as the host does for a close request from the system: the closeWindow command itself
// would end the run under a running job.
function requestClose() {
  if (downloadRun !== null && downloadRun.closeDisabled) {
    external.hideWindow();
    return;
  }
  external.closeWindow();
}

// The pages' title area, on a press of the main mouse button: the user drags the window.
function startWindowDrag() {
  external.dragWindow();
}

function isCurrent(run, job) {
  return run === downloadRun && run.awaiting === job;
}

function stopTimers(run) {
  if (run.poll !== null) {
    run.timers.clearInterval(run.poll);
    run.poll = null;
  }
  if (run.extractTimer !== null) {
    run.timers.clearTimeout(run.extractTimer);
    run.extractTimer = null;
  }
}

function showProgress(run, fraction) {
  if (fraction > run.fraction) {
    run.fraction = fraction;
  }
  run.view.showProgress(run.fraction, run.stage);
}

function pollProgress(run) {
  var share = workflowSettings.downloadShare;
  var total;
  var current;
  if (run !== downloadRun) {
    return;
  }
  if (run.stage === "downloading") {
    total = toWholeNumber(external.getProperty("downloadTotal"));
    current = toWholeNumber(external.getProperty("downloadCurrent"));
    showProgress(run, share * fractionOf(current, total));
  } else if (run.stage === "extracting") {
    current = toWholeNumber(external.getProperty("extractProgress"));
    showProgress(run, share + (1 - share) * fractionOf(current, 100));
  }
}

function onDownloaded(run, result) {
  if (!isCurrent(run, "download")) {
    return;
  }
  run.awaiting = "";
  result = toWholeNumber(result);
  if (result !== 0) {
    fail(run, downloadErrorText(run.texts, result));
    return;
  }
  run.stage = "extracting";
  showProgress(run, workflowSettings.downloadShare);
  run.extractTimer = run.timers.setTimeout(function () {
    run.extractTimer = null;
    startExtract(run);
  }, workflowSettings.extractDelayMilliseconds);
}

function startExtract(run) {
  if (run !== downloadRun) {
    return;
  }
  run.awaiting = "extract";
  external.extract(function (result) {
    onExtracted(run, result);
  });
}

function onExtracted(run, result) {
  if (!isCurrent(run, "extract")) {
    return;
  }
  run.awaiting = "";
  result = toWholeNumber(result);
  if (result !== 0) {
    fail(run, extractErrorText(run.texts, result));
    return;
  }
  // The installer shows its own progress, and the host hides this window while it runs.
  if (run.poll !== null) {
    run.timers.clearInterval(run.poll);
    run.poll = null;
  }
  run.stage = "installing";
  showProgress(run, 1);
  run.awaiting = "install";
  external.install("", function (installResult) {
    onInstalled(run, installResult);
  });
}

function onInstalled(run, result) {
  if (!isCurrent(run, "install")) {
    return;
  }
  run.awaiting = "";
  stopTimers(run);
  result = toWholeNumber(result);
  if (result === 0) {
    external.setInstallStatus(installStatus.completed);
    external.manageShortcut(stubParams.shortcutName, false);
    // A release without a thank-you page opens nothing.
    if (stubParams.thankYouUrl) {
      external.openPage(stubParams.thankYouUrl);
    }
  } else if (result === 2 || result === 4) {
    // Cancelled by the user, or blocked by another installation.
    external.setInstallStatus(installStatus.canceled);
  }
  // Any other result leaves status 2, so the run is reported as failed with its logs.
  external.closeWindow();
}

// A failed download or extraction: the message in the page and in a message box, then the end of
// the run with status 2.
function fail(run, text) {
  stopTimers(run);
  run.view.showError(text);
  external.messageBox(text, run.texts.title);
  external.closeWindow();
}
