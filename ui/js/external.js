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
  downloadShare: 0.8,
  // Sign-ins that a run offers a proxy which wants one (download result 7) before it gives up with
  // the proxy's message: enough for a typing error or two, and not a way to guess passwords.
  proxySignIns: 3
};

// The time-left estimate. Each poll gives one rate sample (bytes since the last poll over the time
// since it); the estimate divides the bytes left by an exponential moving average of those samples,
// in which the newest weighs `smoothing`. It is shown only once it is steady: after at least
// `steadySamples` samples (two seconds at the poll interval), when each of the last `recentSamples`
// lies within `steadyTolerance` of their mean; the average then starts from that mean, so that a
// burst before (the jump from 0 to a count that a page meets already under way) does not linger in
// it. From then on the estimate stays through bursts and lulls; only
// a count that goes back (a download that starts over) or `recentSamples` polls in a row without a
// byte (a stall) take it away, and then it has to become steady again.
var timeLeftSettings = {
  smoothing: 0.2,
  steadySamples: 5,
  recentSamples: 3,
  steadyTolerance: 0.25,
  // A screen reader hears a new time left at most this often: each poll's estimate would otherwise
  // interrupt whatever it reads.
  announceMilliseconds: 10000
};

// "{0}" and "{1}" in a text, replaced.
function fillText(text, first, second) {
  return String(text).split("{0}").join(first).split("{1}").join(second);
}

// A number with one decimal below 100 and none above, with the language's decimal separator.
function formatAmount(texts, value) {
  var digits = value < 100 ? value.toFixed(1) : String(Math.round(value));
  return digits.split(".").join(texts.decimalSeparator);
}

// "37.2 MB of 120 MB": both sizes in the unit that suits the total, in the binary units that
// Windows shows file sizes in. Empty while the total is unknown.
function sizeProgressText(texts, done, total) {
  var names = String(texts.sizeUnits).split("|");
  var sizes = [1024, 1048576, 1073741824];
  var unit = 0;
  var i;
  if (total <= 1) {
    return "";
  }
  for (i = 1; i < sizes.length; i += 1) {
    if (total >= sizes[i]) {
      unit = i;
    }
  }
  return fillText(texts.sizeProgress,
    fillText(names[unit], formatAmount(texts, Math.min(done, total) / sizes[unit])),
    fillText(names[unit], formatAmount(texts, total / sizes[unit])));
}

// "About 3 min left": under a minute in steps of five seconds, then in whole minutes, rounded up.
function timeLeftText(texts, seconds) {
  var units = String(texts.timeUnits).split("|");
  var fives = Math.max(5, Math.ceil(seconds / 5) * 5);
  var minutes;
  if (fives < 60) {
    return fillText(texts.timeLeft, fillText(units[0], String(fives)));
  }
  minutes = Math.ceil(seconds / 60);
  if (minutes < 60) {
    return fillText(texts.timeLeft, fillText(units[1], String(minutes)));
  }
  return fillText(texts.timeLeft, fillText(units[2], String(Math.floor(minutes / 60)), String(minutes % 60)));
}

// The time left in words for a screen reader ("about 2 minutes left"), rounded as timeLeftText
// rounds: the units of texts.spokenTimeUnits come in pairs, one and more than one.
function spokenTimeLeftText(texts, seconds) {
  var units = String(texts.spokenTimeUnits).split("|");
  var fives = Math.max(5, Math.ceil(seconds / 5) * 5);
  var minutes;
  var spoken = function (count, unit) {
    return fillText(units[2 * unit + (count === 1 ? 0 : 1)], String(count));
  };
  if (fives < 60) {
    return fillText(texts.spokenTimeLeft, spoken(fives, 0));
  }
  minutes = Math.ceil(seconds / 60);
  if (minutes < 60) {
    return fillText(texts.spokenTimeLeft, spoken(minutes, 1));
  }
  return fillText(texts.spokenTimeLeft, spoken(Math.floor(minutes / 60), 2) + " " + spoken(minutes % 60, 1));
}

// What a screen reader says for the progress bar's value: the sizes and the time left in words
// ("40.2 MB of 120 MB, about 2 minutes left"), or the percentage while neither is known.
function progressValueText(texts, fraction, sizeText, spokenTime) {
  var parts = [];
  if (sizeText) {
    parts.push(sizeText);
  }
  if (spokenTime) {
    parts.push(spokenTime);
  }
  return parts.length ? parts.join(texts.listSeparator) : Math.floor(fraction * 100) + "%";
}

function newRateEstimate() {
  return { lastTime: -1, lastBytes: 0, average: 0, samples: 0, recent: [], steady: false };
}

// Takes one poll's count of bytes at `now` (milliseconds) into the estimate.
function sampleRate(estimate, now, bytes) {
  var settings = timeLeftSettings;
  var rate;
  var i;
  var steady;
  var stalled;
  var mean;
  if (estimate.lastTime < 0 || bytes < estimate.lastBytes) {
    estimate.lastTime = now;
    estimate.lastBytes = bytes;
    estimate.average = 0;
    estimate.samples = 0;
    estimate.recent = [];
    estimate.steady = false;
    return;
  }
  if (now <= estimate.lastTime) {
    return;
  }
  rate = (bytes - estimate.lastBytes) / (now - estimate.lastTime);
  estimate.average = estimate.samples === 0 ? rate : estimate.average + settings.smoothing * (rate - estimate.average);
  estimate.samples += 1;
  estimate.recent.push(rate);
  if (estimate.recent.length > settings.recentSamples) {
    estimate.recent.shift();
  }
  estimate.lastTime = now;
  estimate.lastBytes = bytes;
  stalled = estimate.recent.length === settings.recentSamples;
  for (i = 0; i < estimate.recent.length; i += 1) {
    if (estimate.recent[i] > 0) {
      stalled = false;
    }
  }
  if (estimate.average <= 0 || stalled) {
    estimate.steady = false;
    return;
  }
  if (!estimate.steady && estimate.samples >= settings.steadySamples) {
    mean = 0;
    for (i = 0; i < estimate.recent.length; i += 1) {
      mean += estimate.recent[i] / estimate.recent.length;
    }
    steady = mean > 0;
    for (i = 0; i < estimate.recent.length; i += 1) {
      if (Math.abs(estimate.recent[i] - mean) > settings.steadyTolerance * mean) {
        steady = false;
      }
    }
    if (steady) {
      estimate.average = mean;
      estimate.steady = true;
    }
  }
}

// Seconds until `total`, or -1 while the estimate is not steady.
function secondsLeft(estimate, bytes, total) {
  if (!estimate.steady || total <= bytes) {
    return -1;
  }
  return (total - bytes) / estimate.average / 1000;
}

// The page's clock, in milliseconds.
function pageClock() {
  return new Date().getTime();
}

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

// The message that the page shows for a failed download, by the download command's result code:
// what the user can do about each network failure, the general one for the rest.
var downloadErrorKeys = {
  "2": "packageMissing",
  "3": "diskFull",
  "5": "noNetwork",
  "6": "networkSignIn",
  "7": "proxySignIn",
  "8": "untrustedCertificate",
  "9": "certificateDate",
  "10": "serverNotFound"
};

function downloadErrorText(texts, result) {
  var key = downloadErrorKeys[String(result)];
  return texts[key || "networkProblem"];
}

// Download results that are the network's doing (all but a full disk): with a release's full
// installer (stubParams.offlineUrl), their message offers it, since the user may well be able to
// download a file in the browser where this program's download fails.
function isNetworkFailure(result) {
  return result !== 0 && result !== 3;
}

// Whether the page's view has this method: the window's view has what needs someone to answer (a
// form, a choice), the quiet run's has not. A host object may refuse the mere look-up of an unknown
// name, which also means no.
function viewOffers(view, method) {
  try {
    return typeof view[method] === "function";
    // The name goes unused, but ES3 has no catch without one.
    // eslint-disable-next-line no-unused-vars
  } catch (refused) {
    return false;
  }
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
// showTexts(texts, highContrast) once, highContrast true when the system's high-contrast setting is
// on; showProgress(fraction, stage, sizeText, timeText, valueText, announcement) with a fraction
// from 0 to 1 that never goes back, a stage of "downloading", "extracting" or "installing", while
// downloading the sizes ("37.2 MB of 120 MB") and the time left, each empty while unknown, the
// progress in words for a screen reader (valueText), and the latest time left to announce (at most
// one new one every timeLeftSettings.announceMilliseconds, empty outside the download); and
// showError(text) before a failure's message box. A view that someone looks at may also have
// showOfflineOffer(text, label): a network failure's message with a button, named label, that
// calls openOfflineInstaller(); the run then waits for the user. Such a view may also have
// showProxySignIn(refused): the proxy sign-in form, whose Sign in calls
// submitProxySignIn(userName, password) and whose Cancel calls cancelProxySignIn(); refused is true
// when the proxy has refused the last sign-in. The next showProgress takes the form away.
function startDownloadPage(view, timers) {
  var run = {
    view: view,
    timers: timers,
    texts: textsForLanguage(external.getProperty("lang")),
    stage: "downloading",
    // What the run waits for: the callback of "download", "extract" or "install", the user's
    // sign-in to the proxy ("proxySignIn") or choice of the full installer ("offline"), or "" for
    // nothing.
    awaiting: "",
    fraction: 0,
    sizeText: "",
    timeText: "",
    spokenTime: "",
    announcement: "",
    // When the announcement last changed (the page's clock), or -1.
    announcedAt: -1,
    rate: newRateEstimate(),
    poll: null,
    extractTimer: null,
    closeDisabled: false,
    // Which of packageUrls() the download is from.
    mirror: 0,
    // Sign-ins handed to the proxy so far.
    proxySignIns: 0
  };
  if (downloadRun !== null) {
    stopDownloadPage();
  }
  downloadRun = run;
  view.showTexts(run.texts, external.getProperty("highContrast") === "1");
  external.disableCloseWindow(true);
  run.closeDisabled = true;
  external.setInstallStatus(installStatus.errorOccurred);
  showProgress(run, 0);
  run.poll = timers.setInterval(function () {
    pollProgress(run);
  }, workflowSettings.pollMilliseconds);
  startDownload(run);
}

// The places that serve the package, in the order they are tried (a payload of an older build
// names only one).
function packageUrls() {
  return stubParams.packageUrls && stubParams.packageUrls.length > 0 ? stubParams.packageUrls : [stubParams.packageUrl];
}

// Download results that say the place could not serve the package, so that another may: the
// package is not there (2), the network failed for good (4), no connection (5), the server's name
// not found (10). A refused package (its hash, a redirect to http), a network that asks to sign in
// (6), a proxy that wants a sign-in (7) and a certificate this machine does not trust (8) or takes
// for out of date (9) stand between this machine and every place alike.
function isMirrorWorthTrying(result) {
  return result === 2 || result === 4 || result === 5 || result === 10;
}

function startDownload(run) {
  run.awaiting = "download";
  external.download(packageUrls()[run.mirror], function (result) {
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
  run.view.showProgress(run.fraction, run.stage, run.sizeText, run.timeText,
    progressValueText(run.texts, run.fraction, run.sizeText, run.spokenTime), run.announcement);
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
    showDownloadDetail(run, current, total);
    showProgress(run, share * fractionOf(current, total));
  } else if (run.stage === "extracting") {
    current = toWholeNumber(external.getProperty("extractProgress"));
    showProgress(run, share + (1 - share) * fractionOf(current, 100));
  }
}

function showDownloadDetail(run, current, total) {
  var now = pageClock();
  var seconds;
  sampleRate(run.rate, now, current);
  seconds = secondsLeft(run.rate, current, total);
  run.sizeText = sizeProgressText(run.texts, current, total);
  run.timeText = seconds < 0 ? "" : timeLeftText(run.texts, seconds);
  run.spokenTime = seconds < 0 ? "" : spokenTimeLeftText(run.texts, seconds);
  announceTimeLeft(run, now);
}

// A new time left becomes the announcement when the last one is old enough; one that went away
// stays announced (a screen reader does not read a cleared region).
function announceTimeLeft(run, now) {
  if (run.spokenTime === "" || run.spokenTime === run.announcement) {
    return;
  }
  if (run.announcedAt >= 0 && now - run.announcedAt < timeLeftSettings.announceMilliseconds) {
    return;
  }
  run.announcement = run.spokenTime;
  run.announcedAt = now;
}

function onDownloaded(run, result) {
  if (!isCurrent(run, "download")) {
    return;
  }
  run.awaiting = "";
  result = toWholeNumber(result);
  if (result !== 0 && isMirrorWorthTrying(result) && run.mirror + 1 < packageUrls().length) {
    run.mirror += 1;
    run.rate = newRateEstimate();
    startDownload(run);
    return;
  }
  if (result === 7 && askProxySignIn(run)) {
    return;
  }
  if (result !== 0) {
    failDownload(run, result);
    return;
  }
  run.stage = "extracting";
  run.sizeText = "";
  run.timeText = "";
  run.spokenTime = "";
  run.announcement = "";
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

// A failed download's end: its message, with the full installer on offer where there is one.
function failDownload(run, result) {
  var text = downloadErrorText(run.texts, result);
  if (isNetworkFailure(result) && offerOfflineInstaller(run, text)) {
    return;
  }
  fail(run, text);
}

// A proxy that wants a sign-in: the form, where someone can fill it in and sign-ins are left; false
// otherwise (the quiet run has nobody to ask). The bar keeps what it showed; the polls leave the
// form alone while the stage is "signingIn".
function askProxySignIn(run) {
  if (run.proxySignIns >= workflowSettings.proxySignIns || !viewOffers(run.view, "showProxySignIn")) {
    return false;
  }
  run.stage = "signingIn";
  run.awaiting = "proxySignIn";
  run.view.showProxySignIn(run.proxySignIns > 0);
  return true;
}

// The sign-in form's Sign in: the engine keeps the user name and password for this run's downloads,
// and the download starts again from the same place. The password goes to the script object and
// nowhere else: no log line, no property, no report, no URL.
function submitProxySignIn(userName, password) {
  var run = downloadRun;
  if (run === null || run.awaiting !== "proxySignIn") {
    return;
  }
  run.proxySignIns += 1;
  external.proxySignIn(String(userName), String(password));
  run.stage = "downloading";
  run.rate = newRateEstimate();
  showProgress(run, run.fraction);
  startDownload(run);
}

// The sign-in form's Cancel: the proxy's message, as when no sign-in is left.
function cancelProxySignIn() {
  var run = downloadRun;
  if (run === null || run.awaiting !== "proxySignIn") {
    return;
  }
  run.awaiting = "";
  failDownload(run, 7);
}

// A network failure's message with the full installer on offer, where the release has one and
// someone sees the page: no message box (it would stand in front of the only way out), and the
// window may close again; the run ends with status 2 when the user takes the offer or closes.
// False when there is nothing to offer.
function offerOfflineInstaller(run, text) {
  if (!stubParams.offlineUrl || !viewOffers(run.view, "showOfflineOffer")) {
    return false;
  }
  stopTimers(run);
  run.awaiting = "offline";
  if (run.closeDisabled) {
    run.closeDisabled = false;
    external.disableCloseWindow(false);
  }
  run.view.showOfflineOffer(text, run.texts.offlineInstaller);
  return true;
}

// The button of a network failure's message: the full installer in the user's browser, and the end
// of the run.
function openOfflineInstaller() {
  var run = downloadRun;
  if (run === null || run.awaiting !== "offline") {
    return;
  }
  run.awaiting = "";
  external.openPage(stubParams.offlineUrl);
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
