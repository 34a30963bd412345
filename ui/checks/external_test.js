// The pages' workflow (js/external.js) against a scripted script object: the exact calls, with
// their arguments, for a successful run and for every failure the jobs report.
"use strict";
const { test, describe } = require("node:test");
const assert = require("node:assert/strict");
const { ScriptHost } = require("./script_host");

const packageUrl = "http://127.0.0.1:8631/SorvanePro.zip";
const thankYouUrl = "http://127.0.0.1:8631/thankyou.html";
const shortcut = "Sorvane Pro Setup.lnk";

const downloadStart = [
  ["getProperty", "lang"],
  ["getProperty", "highContrast"],
  ["disableCloseWindow", true],
  ["setInstallStatus", 2],
  ["download", packageUrl, "<callback>"]
];

function startDownload(properties) {
  const host = new ScriptHost(properties);
  host.context.startDownloadPage(host.view, host.timers);
  return host;
}

// Runs the download page up to the install command.
function downloadAndExtract(host) {
  host.finish("download", 0);
  host.advance(1000);
  host.finish("extract", 0);
}

function plain(value) {
  return JSON.parse(JSON.stringify(value));
}

describe("Load page", () => {
  for (const version of ["6.1", "6.2", "6.3", "10.0", "11"]) {
    test(`osVersion ${version} prepares the run and moves on`, () => {
      const host = new ScriptHost({ osVersion: version });
      host.context.runLoadPage(host.view);
      assert.deepEqual(host.calls, [
        ["getProperty", "osVersion"],
        ["setInstallStatus", 0],
        ["manageShortcut", shortcut, true],
        ["setWindowSize", 651, 272],
        ["setChannel", "demo"]
      ]);
      assert.deepEqual(host.shown, [["navigate", "Download.html"]]);
    });
  }

  for (const version of ["6.0", "5.1", "5.2", "0.0", "", "unknown"]) {
    test(`osVersion ${JSON.stringify(version)} is refused in the page's language`, () => {
      const host = new ScriptHost({ osVersion: version, lang: "de" });
      host.context.runLoadPage(host.view);
      const texts = host.texts("de");
      assert.deepEqual(host.calls, [
        ["getProperty", "osVersion"],
        ["getProperty", "lang"],
        ["messageBox", texts.oldSystem, texts.title],
        ["setInstallStatus", 4],
        ["closeWindow"]
      ]);
      assert.deepEqual(host.shown, []);
    });
  }
});

describe("Download page", () => {
  test("a successful run downloads, waits a second, extracts, installs and hands over", () => {
    const host = startDownload();
    assert.deepEqual(host.calls, downloadStart);
    assert.deepEqual(host.shown.slice(0, 1), [["showTexts", "Sorvane Pro Setup"]]);

    host.calls = [];
    host.advance(400);
    assert.deepEqual(host.calls, [["getProperty", "downloadTotal"], ["getProperty", "downloadCurrent"]]);

    host.finish("download", 0);
    host.calls = [];
    host.advance(999);
    assert.deepEqual(host.commands(), [], "extract waits one second after the download");
    host.advance(1);
    assert.deepEqual(host.commands(), [["extract", "<callback>"]]);
    assert.ok(host.calls.every(([, key]) => key !== "downloadTotal"), "the extraction polls only its own progress");

    host.calls = [];
    host.finish("extract", 0);
    assert.deepEqual(host.calls, [["install", "", "<callback>"]]);
    host.advance(2000);
    assert.deepEqual(host.calls.length, 1, "nothing is polled while the installer runs");

    host.finish("install", 0);
    assert.deepEqual(host.calls.slice(1), [
      ["setInstallStatus", 1],
      ["manageShortcut", shortcut, false],
      ["openPage", thankYouUrl],
      ["closeWindow"]
    ]);
    assert.equal(host.timerList.length, 0);

    host.calls = [];
    host.context.stopDownloadPage();
    assert.deepEqual(host.calls, [["disableCloseWindow", false]]);
  });

  test("a place that cannot serve the package hands over to the next; a refused package does not", () => {
    const mirrors = ["https://a.example.com/SorvanePro.zip", "https://b.example.net/SorvanePro.zip"];
    for (const [result, tried] of [[4, 2], [2, 2], [5, 2], [10, 2], [1, 1], [3, 1], [6, 1], [7, 1], [8, 1], [9, 1]]) {
      const host = new ScriptHost({ lang: "en" });
      host.context.stubParams.packageUrls = mirrors;
      host.context.startDownloadPage(host.view, host.timers);
      host.finish("download", result);
      const downloads = host.calls.filter((call) => call[0] === "download").map((call) => call[1]);
      assert.deepEqual(downloads, mirrors.slice(0, tried), `result ${result}`);
    }
    // The second place serves it: the run goes on as from the first.
    const host = new ScriptHost({ lang: "en" });
    host.context.stubParams.packageUrls = mirrors;
    host.context.startDownloadPage(host.view, host.timers);
    host.finish("download", 4);
    host.finish("download", 0);
    host.advance(1000);
    assert.deepEqual(host.calls[host.calls.length - 1], ["extract", "<callback>"]);
    // Both failing: the last one's message.
    const failing = new ScriptHost({ lang: "en" });
    failing.context.stubParams.packageUrls = mirrors;
    failing.context.startDownloadPage(failing.view, failing.timers);
    failing.finish("download", 4);
    failing.finish("download", 2);
    assert.ok(failing.calls.some((call) => call[0] === "messageBox" && call[1] === failing.texts("en").packageMissing));
  });

  const downloadFailures = [
    [3, "diskFull"],
    [5, "noNetwork"],
    [2, "packageMissing"],
    [6, "networkSignIn"],
    [7, "proxySignIn"],
    [8, "untrustedCertificate"],
    [9, "certificateDate"],
    [10, "serverNotFound"],
    [4, "networkProblem"],
    [1, "networkProblem"],
    [11, "networkProblem"]
  ];
  // A proxy's sign-in (7) has the form first in the window: below.
  for (const [result, message] of downloadFailures.filter(([code]) => code !== 7)) {
    test(`download result ${result} shows ${message} and closes with status 2`, () => {
      const host = startDownload({ lang: "fr" });
      const texts = host.texts("fr");
      host.finish("download", result);
      host.advance(5000);
      assert.deepEqual(host.commands(), [
        ...downloadStart,
        ["messageBox", texts[message], texts.title],
        ["closeWindow"]
      ]);
      assert.deepEqual(host.shown[host.shown.length - 1], ["showError", texts[message]]);
      assert.equal(host.timerList.length, 0);
    });
  }

  describe("a proxy that wants a sign-in", () => {
    const password = "s3cret p\u00e4ss";
    const proxyCommands = (host) => host.commands().slice(downloadStart.length);
    const fails = (host) => [["messageBox", host.texts(host.properties.lang).proxySignIn, host.texts(host.properties.lang).title],
      ["closeWindow"]];

    test("the form, a sign-in, and the download again from the same place", () => {
      const mirrors = ["https://a.example.com/SorvanePro.zip", "https://b.example.net/SorvanePro.zip"];
      const host = new ScriptHost({ lang: "nl", downloadTotal: "1000", downloadCurrent: "300" });
      host.context.stubParams.packageUrls = mirrors;
      host.context.startDownloadPage(host.view, host.timers);
      host.finish("download", 4);
      host.advance(400);
      host.finish("download", 7);
      assert.deepEqual(host.shown[host.shown.length - 1], ["showProxySignIn", false]);
      const before = host.calls.length;
      host.advance(2000);
      assert.deepEqual(host.shown[host.shown.length - 1], ["showProxySignIn", false], "the polls leave the form alone");
      assert.equal(host.calls.length, before, "nothing asked while it shows");
      host.context.submitProxySignIn("anna", password);
      host.context.submitProxySignIn("anna", password);
      assert.deepEqual(host.commands().slice(-2), [["proxySignIn", "anna", password], ["download", mirrors[1], "<callback>"]]);
      assert.deepEqual(host.lastProgress(), ["showProgress", 0.24, "downloading"], "the bar as it was");
      host.finish("download", 0);
      host.advance(1000);
      assert.deepEqual(host.commands().slice(-1), [["extract", "<callback>"]]);
    });

    test("three refusals end in the proxy's message; the password reaches the script object only", () => {
      const host = startDownload({ lang: "de" });
      host.finish("download", 7);
      for (const refused of [true, true]) {
        host.context.submitProxySignIn("anna", password);
        host.finish("download", 7);
        assert.deepEqual(host.shown[host.shown.length - 1], ["showProxySignIn", refused]);
      }
      host.context.submitProxySignIn("anna", password);
      host.finish("download", 7);
      assert.deepEqual(host.shown[host.shown.length - 1], ["showError", host.texts("de").proxySignIn]);
      const signIns = host.calls.filter(([name]) => name === "proxySignIn");
      assert.equal(signIns.length, 3);
      assert.deepEqual(proxyCommands(host).slice(-2), fails(host));
      const elsewhere = [...host.calls.filter(([name]) => name !== "proxySignIn"), ...host.shown];
      assert.ok(!JSON.stringify(elsewhere).includes("s3cret"), "not in a log, a property, a URL or the page");
    });

    test("Cancel ends in the proxy's message at once, and a late sign-in does nothing", () => {
      const host = startDownload({ lang: "en" });
      host.finish("download", 7);
      host.context.cancelProxySignIn();
      host.context.submitProxySignIn("anna", password);
      host.context.cancelProxySignIn();
      assert.deepEqual(proxyCommands(host), fails(host));
      // With a full installer on offer, the message offers it as any network failure's does.
      const offering = startDownload();
      offering.context.stubParams.offlineUrl = "https://www.example.com/SorvaneProFull.exe";
      offering.finish("download", 7);
      offering.context.cancelProxySignIn();
      assert.deepEqual(offering.shown[offering.shown.length - 1],
        ["showOfflineOffer", offering.texts("en").proxySignIn, offering.texts("en").offlineInstaller]);
    });

    test("the quiet run asks nobody: the proxy's message at once", () => {
      const host = new ScriptHost({ lang: "jp" }, { quiet: true });
      host.context.startDownloadPage(host.view, host.timers);
      host.finish("download", 7);
      assert.deepEqual(proxyCommands(host), fails(host));
      assert.deepEqual(host.shown[host.shown.length - 1], ["showError", host.texts("jp").proxySignIn]);
    });

    test("a host view that refuses the look-up of an unknown name counts as one without a form", () => {
      const host = new ScriptHost({ lang: "en" }, { quiet: true });
      const refusing = new Proxy(host.view, {
        get: (target, name) => {
          if (!(name in target)) {
            throw new Error("DISP_E_UNKNOWNNAME");
          }
          return target[name];
        }
      });
      host.context.startDownloadPage(refusing, host.timers);
      host.finish("download", 7);
      assert.deepEqual(proxyCommands(host), fails(host));
    });
  });

  describe("the full installer of a release that has one", () => {
    const offlineUrl = "https://www.example.com/SorvaneProFull.exe";
    function startOffering(properties, options) {
      const host = new ScriptHost(properties, options);
      host.context.stubParams.offlineUrl = offlineUrl;
      host.context.startDownloadPage(host.view, host.timers);
      return host;
    }

    for (const [result, message] of downloadFailures.filter(([code]) => code !== 3 && code !== 7)) {
      test(`download result ${result}: ${message} with the full installer on offer, until the user takes it`, () => {
        const host = startOffering({ lang: "it" });
        const texts = host.texts("it");
        host.finish("download", result);
        host.advance(5000);
        assert.deepEqual(host.commands(), [...downloadStart, ["disableCloseWindow", false]]);
        assert.deepEqual(host.shown[host.shown.length - 1], ["showOfflineOffer", texts[message], texts.offlineInstaller]);
        assert.equal(host.timerList.length, 0);
        host.context.openOfflineInstaller();
        host.context.openOfflineInstaller();
        assert.deepEqual(host.commands().slice(downloadStart.length + 1), [["openPage", offlineUrl], ["closeWindow"]]);
      });
    }

    test("declined: the close button ends the run at once, and the offer is gone", () => {
      const host = startOffering();
      host.finish("download", 5);
      host.context.requestClose();
      host.context.stopDownloadPage();
      host.context.openOfflineInstaller();
      assert.deepEqual(host.commands().slice(downloadStart.length), [["disableCloseWindow", false], ["closeWindow"]]);
    });

    test("a full disk, a failed extraction and the quiet run keep their message and close", () => {
      const diskFull = startOffering();
      diskFull.finish("download", 3);
      assert.deepEqual(diskFull.commands().slice(-2), [["messageBox", diskFull.texts("en").diskFull, "Sorvane Pro Setup"],
        ["closeWindow"]]);
      const extract = startOffering();
      downloadAndExtract(extract);
      assert.deepEqual(extract.commands().slice(-1), [["install", "", "<callback>"]]);
      const failedExtract = startOffering();
      failedExtract.finish("download", 0);
      failedExtract.advance(1000);
      failedExtract.finish("extract", 1);
      assert.deepEqual(failedExtract.commands().slice(-1), [["closeWindow"]]);
      // Nobody would see the offer: the quiet run logs the message and ends.
      const quiet = startOffering({}, { quiet: true });
      quiet.finish("download", 5);
      assert.deepEqual(quiet.commands().slice(downloadStart.length),
        [["messageBox", quiet.texts("en").noNetwork, "Sorvane Pro Setup"], ["closeWindow"]]);
      for (const host of [diskFull, failedExtract, quiet]) {
        assert.ok(!host.shown.some(([kind]) => kind === "showOfflineOffer"));
      }
    });

    test("the last mirror's failure is the one with the offer", () => {
      const host = new ScriptHost();
      host.context.stubParams.offlineUrl = offlineUrl;
      host.context.stubParams.packageUrls = ["https://a.example.com/SorvanePro.zip", "https://b.example.com/SorvanePro.zip"];
      host.context.startDownloadPage(host.view, host.timers);
      host.finish("download", 10);
      assert.ok(!host.shown.some(([kind]) => kind === "showOfflineOffer"));
      host.finish("download", 8);
      assert.deepEqual(host.shown[host.shown.length - 1][1], host.texts("en").untrustedCertificate);
    });
  });

  const extractFailures = [
    [2, "diskFull"],
    [1, "generalError"],
    [3, "generalError"]
  ];
  for (const [result, message] of extractFailures) {
    test(`extract result ${result} shows ${message} and closes with status 2`, () => {
      const host = startDownload({ lang: "jp" });
      const texts = host.texts("jp");
      host.finish("download", 0);
      host.advance(1000);
      host.finish("extract", result);
      host.advance(5000);
      assert.deepEqual(host.commands(), [
        ...downloadStart,
        ["extract", "<callback>"],
        ["messageBox", texts[message], texts.title],
        ["closeWindow"]
      ]);
      assert.equal(host.timerList.length, 0);
    });
  }

  const installFailures = [
    [2, [["setInstallStatus", 3], ["closeWindow"]]],
    [4, [["setInstallStatus", 3], ["closeWindow"]]],
    [1, [["closeWindow"]]],
    [3, [["closeWindow"]]],
    [1603, [["closeWindow"]]]
  ];
  for (const [result, ending] of installFailures) {
    test(`install result ${result} ends with ${JSON.stringify(ending)}, no message and the shortcut kept`, () => {
      const host = startDownload();
      downloadAndExtract(host);
      host.finish("install", result);
      assert.deepEqual(host.commands(), [
        ...downloadStart,
        ["extract", "<callback>"],
        ["install", "", "<callback>"],
        ...ending
      ]);
      assert.equal(host.timerList.length, 0);
    });
  }

  test("progress runs over the download, then the extraction, and never goes back", () => {
    const host = startDownload();
    const steps = [
      [{ downloadTotal: "1000", downloadCurrent: "500" }, 0.4, "downloading"],
      [{ downloadCurrent: "0" }, 0.4, "downloading"],
      [{ downloadCurrent: "1000" }, 0.8, "downloading"]
    ];
    for (const [properties, fraction, stage] of steps) {
      Object.assign(host.properties, properties);
      host.advance(400);
      assert.deepEqual(host.lastProgress(), ["showProgress", fraction, stage]);
    }
    host.finish("download", 0);
    assert.deepEqual(host.lastProgress(), ["showProgress", 0.8, "extracting"]);
    host.advance(1000);
    host.properties.extractProgress = "50";
    host.advance(400);
    assert.deepEqual(host.lastProgress(), ["showProgress", 0.9, "extracting"]);
    host.finish("extract", 0);
    assert.deepEqual(host.lastProgress(), ["showProgress", 1, "installing"]);
  });

  const oddCounters = [
    ["unknown total", { downloadTotal: "0", downloadCurrent: "500" }, 0],
    ["empty texts", { downloadTotal: "", downloadCurrent: "" }, 0],
    ["negative counter", { downloadTotal: "100", downloadCurrent: "-5" }, 0],
    ["more than announced", { downloadTotal: "100", downloadCurrent: "250" }, 0.8],
    ["not a number", { downloadTotal: "abc", downloadCurrent: "12" }, 0]
  ];
  for (const [name, properties, fraction] of oddCounters) {
    test(`download counters with ${name} show ${fraction}`, () => {
      const host = startDownload(properties);
      host.advance(400);
      assert.deepEqual(host.lastProgress(), ["showProgress", fraction, "downloading"]);
    });
  }

  test("a repeated or late callback starts nothing", () => {
    const host = startDownload();
    const downloadCallback = host.pendingJobs.download;
    host.finish("download", 0);
    downloadCallback(0);
    downloadCallback(3);
    host.advance(1000);
    const extractCallback = host.pendingJobs.extract;
    host.finish("extract", 0);
    extractCallback(0);
    extractCallback(2);
    assert.deepEqual(host.commands(), [...downloadStart, ["extract", "<callback>"], ["install", "", "<callback>"]]);
  });

  test("after unload, a pending extraction never starts and callbacks do nothing", () => {
    const host = startDownload();
    const downloadCallback = host.pendingJobs.download;
    host.finish("download", 0);
    host.context.stopDownloadPage();
    host.advance(5000);
    downloadCallback(0);
    host.advance(5000);
    assert.deepEqual(host.commands(), [...downloadStart, ["disableCloseWindow", false]]);
    assert.equal(host.timerList.length, 0);
  });

  test("unload after a failure still lets the window close, once", () => {
    const host = startDownload();
    host.finish("download", 5);
    host.calls = [];
    host.context.stopDownloadPage();
    host.context.stopDownloadPage();
    assert.deepEqual(host.calls, [["disableCloseWindow", false]]);
  });
});

describe("Download size and time left", () => {
  // 10 MiB at a steady 100 KiB a poll (256,000 bytes a second), the page's clock being the host's.
  const total = 10 * 1048576;
  const step = 102400;
  function startTimedDownload() {
    const host = startDownload({ downloadTotal: String(total), downloadCurrent: "0" });
    host.context.pageClock = () => host.now;
    return host;
  }
  function poll(host, current) {
    host.properties.downloadCurrent = String(current);
    host.advance(400);
    return host.detail;
  }

  test("sizes and times read as each language writes them", () => {
    const host = new ScriptHost();
    const cases = [
      ["en", 39007437, 125829120, "37.2 MB of 120 MB", 12, "About 15 s left"],
      ["fr", 39007437, 125829120, "37,2 Mo sur 120 Mo", 61, "Temps restant\u00a0: environ 2 min"],
      ["de", 524288, 1610612736, "0,0 GB von 1,5 GB", 3725, "Noch etwa 1 Std. 3 Min."],
      ["jp", 1000, 2048, "1.0 KB / 2.0 KB", 1, "\u6b8b\u308a\u7d04 5 \u79d2"],
      ["it", 209715200, 104857600, "100 MB di 100 MB", 3600, "Tempo rimanente: circa 1 h 0 min"],
      ["nl", 0, 52428800, "0,0 MB van 50,0 MB", 59.5, "Nog ongeveer 1 min"]
    ];
    for (const [lang, done, size, sizeText, seconds, timeText] of cases) {
      const texts = host.texts(lang);
      assert.equal(host.context.sizeProgressText(texts, done, size), sizeText, lang);
      assert.equal(host.context.timeLeftText(texts, seconds), timeText, lang);
    }
    assert.equal(host.context.sizeProgressText(host.texts("en"), 500, 1), "", "no total yet");
  });

  test("a steady download shows its time left after two seconds of samples", () => {
    const host = startTimedDownload();
    for (let poll_ = 1; poll_ <= 5; poll_ += 1) {
      assert.equal(poll(host, poll_ * step)[1], "", `poll ${poll_}: not yet steady`);
    }
    // Six polls: a baseline and five samples of 256 bytes a millisecond; 9,871,360 bytes left.
    assert.deepEqual(poll(host, 6 * step), ["0.6 MB of 10.0 MB", "About 40 s left"]);
    host.finish("download", 0);
    assert.deepEqual(host.detail, ["", ""], "the extraction shows no download detail");
  });

  test("a count met already under way does not skew the estimate", () => {
    const host = startTimedDownload();
    poll(host, 0);
    let current = 5 * 1048576;
    for (let i = 0; i < 6; i += 1) {
      poll(host, current);
      current += step;
    }
    // 4,730,880 bytes left at 256 bytes a millisecond: the jump to 5 MiB counts for nothing.
    assert.deepEqual(host.detail, ["5.5 MB of 10.0 MB", "About 20 s left"]);
  });

  test("an unsteady rate shows no estimate; once shown it outlasts a wobble", () => {
    const host = startTimedDownload();
    let current = 0;
    for (let i = 0; i < 12; i += 1) {
      current += i % 2 ? 2 * step : step / 4;
      assert.equal(poll(host, current)[1], "", `poll ${i + 1}`);
    }
    for (let i = 0; i < 6; i += 1) {
      current += step;
      poll(host, current);
    }
    assert.notEqual(host.detail[1], "", "steady at last");
    current += 3 * step;
    assert.notEqual(poll(host, current)[1], "", "a burst does not hide it again");
  });

  test("a download that starts over or stops delivering loses its estimate", () => {
    const host = startTimedDownload();
    for (let i = 1; i <= 6; i += 1) {
      poll(host, i * step);
    }
    assert.notEqual(host.detail[1], "");
    assert.deepEqual(poll(host, step), ["0.1 MB of 10.0 MB", ""], "back to the start");
    const stalled = startTimedDownload();
    for (let i = 1; i <= 6; i += 1) {
      poll(stalled, i * step);
    }
    let polls = 0;
    while (stalled.detail[1] !== "" && polls < 100) {
      poll(stalled, 6 * step);
      polls += 1;
    }
    // The average only decays towards nothing; the estimate grows meanwhile, then gives up.
    assert.ok(polls < 100, "a stall does not keep an estimate for ever");
  });
});

describe("What a screen reader hears", () => {
  const total = 10 * 1048576;
  const step = 102400;
  function poll(host, current) {
    host.properties.downloadCurrent = String(current);
    host.advance(400);
    return host.spoken;
  }

  test("the time left in words, one and more than one, as each language says it", () => {
    const host = new ScriptHost();
    const cases = [
      ["en", 12, "about 15 seconds left"],
      ["en", 60, "about 1 minute left"],
      ["en", 3725, "about 1 hour 3 minutes left"],
      ["fr", 61, "il reste environ 2 minutes"],
      ["de", 3601, "noch etwa 1 Stunde 1 Minute"],
      ["jp", 1, "\u6b8b\u308a\u7d04 5 \u79d2"],
      ["it", 7200, "mancano circa 2 ore 0 minuti"],
      ["nl", 59.5, "nog ongeveer 1 minuut"]
    ];
    for (const [lang, seconds, spoken] of cases) {
      assert.equal(host.context.spokenTimeLeftText(host.texts(lang), seconds), spoken, `${lang} ${seconds} s`);
    }
  });

  test("the bar's value text: sizes and time in words, else the percentage", () => {
    const host = new ScriptHost();
    const { progressValueText } = host.context;
    assert.equal(progressValueText(host.texts("en"), 0.33, "40.2 MB of 120 MB", "about 2 minutes left"),
      "40.2 MB of 120 MB, about 2 minutes left");
    assert.equal(progressValueText(host.texts("jp"), 0.33, "1.0 KB / 2.0 KB", "\u6b8b\u308a\u7d04 5 \u79d2"),
      "1.0 KB / 2.0 KB\u3001\u6b8b\u308a\u7d04 5 \u79d2");
    assert.equal(progressValueText(host.texts("de"), 0.5, "0,5 MB von 1,0 MB", ""), "0,5 MB von 1,0 MB");
    assert.equal(progressValueText(host.texts("fr"), 0.905, "", ""), "90%");
  });

  test("a new time left is announced at most every ten seconds, and not during the extraction", () => {
    const host = startDownload({ downloadTotal: String(total), downloadCurrent: "0" });
    host.context.pageClock = () => host.now;
    let current = 0;
    const announced = [];
    // 256 bytes a millisecond: the estimate is steady from the sixth poll and falls by 0.4 s a poll.
    for (let i = 0; i < 60; i += 1) {
      current += step;
      const [valueText, announcement] = poll(host, current);
      assert.ok(valueText.startsWith(host.context.sizeProgressText(host.texts("en"), current, total)), valueText);
      if (announcement !== (announced.length ? announced[announced.length - 1][1] : "")) {
        announced.push([host.now, announcement]);
      }
    }
    assert.ok(announced.length >= 2, JSON.stringify(announced));
    assert.equal(announced[0][1], "about 40 seconds left", "the first steady estimate at once");
    for (let i = 1; i < announced.length; i += 1) {
      assert.ok(announced[i][0] - announced[i - 1][0] >= 10000, JSON.stringify(announced));
    }
    host.finish("download", 0);
    assert.deepEqual(host.spoken, ["80%", ""]);
  });

  test("the system's high-contrast setting reaches the view", () => {
    for (const [value, expected] of [["1", true], ["0", false], ["", false]]) {
      const host = startDownload({ highContrast: value });
      assert.equal(host.highContrast, expected, JSON.stringify(value));
    }
  });
});

describe("Window controls", () => {
  test("the close button minimises while a job runs and closes otherwise", () => {
    const host = startDownload();
    host.calls = [];
    host.context.requestClose();
    assert.deepEqual(host.calls, [["hideWindow"]]);
    host.context.stopDownloadPage();
    host.calls = [];
    host.context.requestClose();
    assert.deepEqual(host.calls, [["closeWindow"]]);
  });

  test("the title area drags the window", () => {
    const host = new ScriptHost();
    host.context.startWindowDrag();
    assert.deepEqual(host.calls, [["dragWindow"]]);
  });
});

describe("Page texts", () => {
  const languages = ["en", "fr", "jp", "de", "it", "nl"];

  test("every product language has every text, and only those languages have tables", () => {
    const host = new ScriptHost();
    const tables = plain(host.context.pageTexts);
    assert.deepEqual(Object.keys(tables).sort(), [...languages].sort());
    const keys = Object.keys(tables.en).sort();
    for (const lang of languages) {
      assert.deepEqual(Object.keys(tables[lang]).sort(), keys, lang);
      for (const key of keys) {
        assert.ok(typeof tables[lang][key] === "string" && tables[lang][key].trim(), `${lang}.${key}`);
      }
    }
    assert.notEqual(tables.jp.diskFull, tables.en.diskFull);
  });

  test("each network failure's message is its own and says what to do", () => {
    const host = new ScriptHost();
    const failures = ["noNetwork", "networkSignIn", "proxySignIn", "untrustedCertificate", "certificateDate",
      "serverNotFound", "packageMissing", "networkProblem", "diskFull"];
    for (const lang of languages) {
      const texts = host.texts(lang);
      assert.equal(new Set(failures.map((key) => texts[key])).size, failures.length, lang);
    }
    const english = host.texts("en");
    assert.match(english.certificateDate, /Check your computer's date and time/);
    assert.match(english.proxySignIn, /Windows Credential Manager/);
  });

  for (const code of ["es", "", "other", "hasOwnProperty", undefined]) {
    test(`language ${JSON.stringify(code)} falls back to English`, () => {
      const host = new ScriptHost();
      assert.deepEqual(plain(host.texts(code)), plain(host.context.pageTexts.en));
    });
  }
});
