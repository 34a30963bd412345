"use strict";
// The dashboard in Debian's headless Chromium against the real receiver: the page loads behind its
// password, draws the funnel with real numbers, shows the stages and signatures, and logs no error
// to the console. Screenshots go to build/screenshots/.
const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const http = require("node:http");
const path = require("node:path");
const { setTimeout: delay } = require("node:timers/promises");

const root = path.join(__dirname, "..", "..");
const work = path.join(process.env.SORVANE_RECEIVER_WORK || path.join(root, "build", "native", "receiver-tests"),
  "dashboard-check");
const screenshots = path.join(root, "build", "screenshots");
let receiver;
let ports;
let password;
let browser;

function document(token, status, wrapperError = 0, msiError = 0, version = "", channel = "web") {
  return `<QXDLMAnalytics><requestToken>${token}</requestToken><country>244</country><mainApp><productId>KRV</productId>` +
    `<productVersion>${version}</productVersion><channelId>${channel}</channelId><installLanguage>English</installLanguage>` +
    `<status>${status}</status><serialKey></serialKey></mainApp><error><wrapperError>${wrapperError}</wrapperError>` +
    `<msiError>${msiError}</msiError></error><userEnvironment><OS>Windows 10</OS><language>English</language>` +
    `<architecture>x64</architecture><defaultBrowser>Other</defaultBrowser></userEnvironment>` +
    `<QXDLMVersion>1.0.20.1</QXDLMVersion><machineId>P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C</machineId></QXDLMAnalytics>`;
}

function send(method, target, body) {
  return new Promise((resolve, reject) => {
    const request = http.request({ host: "127.0.0.1", port: ports[0], method, path: target,
      headers: { "Content-Type": "application/xml", "Content-Length": body.length } }, (response) => {
      response.resume();
      response.on("end", () => resolve(response.statusCode));
    });
    request.on("error", reject);
    request.end(body);
  });
}

before(async () => {
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  fs.mkdirSync(screenshots, { recursive: true });
  receiver = spawn(process.env.SORVANE_RECEIVER_EXE, [
    "--db", `sqlite:${work}/receiver.sqlite`, "--listen", "127.0.0.1:0", "--dashboard", "127.0.0.1:0",
    "--password-file", `${work}/password`, "--uploads", `${work}/uploads`, "--port-file", `${work}/ports`,
    "--assets", path.join(root, "receiver", "dashboard"),
    "--chart", path.join(root, "node_modules", "chart.js", "dist", "chart.umd.js"), "--min-free-mb", "1"],
  { stdio: ["ignore", "ignore", "inherit"] });
  for (let i = 0; i < 250 && !ports; ++i) {
    if (fs.existsSync(`${work}/ports`)) ports = fs.readFileSync(`${work}/ports`, "utf8").trim().split(" ").map(Number);
    else await delay(20);
  }
  assert.ok(ports, "the receiver did not start");
  password = fs.readFileSync(`${work}/password`, "utf8").trim();
  // The runs of the demo's scenarios: a success, a download 404, a package without setup.exe, a
  // failing installer, a cancelled one, and one whose final report never came.
  const runs = [
    ["10000000-0000-4000-8000-000000000001", "completed", 0, 0, "1.4.0.0"],
    ["10000000-0000-4000-8000-000000000002", "error occurred", 1, 2],
    ["10000000-0000-4000-8000-000000000003", "error occurred", 5, 0],
    ["10000000-0000-4000-8000-000000000004", "error occurred", 2, 3],
    ["10000000-0000-4000-8000-000000000005", "canceled", 0, 0],
    ["10000000-0000-4000-8000-000000000006", null],
  ];
  for (const [token, status, w, m, version] of runs) {
    assert.equal(await send("POST", "/v1/logAnalytics", document(token, "started")), 200);
    if (status) assert.equal(await send("POST", "/v1/logAnalytics", document(token, status, w, m, version)), 200);
  }
  const corpus = path.join(root, "receiver", "fuzz_corpus", "minidump_fuzz");
  assert.equal(await send("PUT", `/v1/reportError?token=${runs[1][0]}&machineId=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C`,
    fs.readFileSync(path.join(corpus, "log.zip"))), 200);
  assert.equal(await send("PUT", "/v1/reportError?token=&machineId=P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C",
    fs.readFileSync(path.join(corpus, "crash.dmp"))), 200);

  const puppeteer = require("puppeteer-core");
  browser = await puppeteer.launch({ executablePath: process.env.SORVANE_CHROMIUM, headless: true,
    args: ["--no-sandbox", "--disable-gpu"] });
});

after(async () => {
  await browser?.close();
  receiver?.kill("SIGTERM");
});

async function openDashboard(credentials) {
  // A context of its own: Chromium keeps what a page authenticated with for the whole context.
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  const problems = [];
  page.on("console", (message) => { if (message.type() === "error") problems.push(message.text()); });
  page.on("pageerror", (error) => problems.push(String(error)));
  await page.setViewport({ width: 1000, height: 1100 });
  if (credentials) await page.authenticate(credentials);
  const response = await page.goto(`http://127.0.0.1:${ports[1]}/`);
  return { page, problems, response };
}

test("the dashboard draws the runs that were reported, without a console error", async () => {
  const { page, problems } = await openDashboard({ username: "vendor", password });
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$eval("#runs", (e) => e.textContent), "6 runs started");
  const bars = await page.evaluate(() => Chart.getChart("funnel").data.datasets[0].data);
  assert.deepEqual(bars, [1, 3, 1, 0, 0], "completed, error occurred, canceled, not supported, abandoned (not yet)");
  const stages = await page.$$eval("#stages tbody tr", (rows) => rows.map((r) => r.textContent));
  // Cells run together in textContent: wrapperError, msiError, the stage in words, runs.
  assert.ok(stages.includes("50the package holds no setup.exe1"), stages.join(" | "));
  assert.ok(stages.includes("23the installer run failed1"), stages.join(" | "));
  // By operating system: five runs finished, one completed.
  const rates = await page.$$eval("#rate-table tbody tr", (rows) => rows.map((r) => r.textContent));
  assert.deepEqual(rates, ["Windows 1051" + "20 %"]);
  const signature = await page.$eval("#signatures tbody tr td", (e) => e.textContent);
  assert.equal(signature, "C0000005 SorvaneProSetup.exe+0x1a2b");
  await page.screenshot({ path: path.join(screenshots, "receiver-dashboard.png"), fullPage: true });
  assert.deepEqual(problems, []);
  await page.close();
});

test("a run's page shows its reports and the ERROR lines of its log", async () => {
  const { page, problems } = await openDashboard({ username: "vendor", password });
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  // The daily funnel has today's runs under their statuses.
  const daily = await page.evaluate(() => Chart.getChart("daily").data.datasets.map((d) => [d.label, d.data[0]]));
  assert.deepEqual(Object.fromEntries(daily), { completed: 1, "error occurred": 3, canceled: 1,
    "environment not supported": 0, abandoned: 0, "under way": 1 });
  await Promise.all([page.waitForNavigation(),
    page.click("#runs-table a[href$='10000000-0000-4000-8000-000000000002']")]);
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$$eval("#reports tbody tr", (rows) => rows.length), 2);
  assert.match(await page.$eval("#outline", (e) => e.textContent), /error occurred$/);
  assert.match(await page.$eval("#errors", (e) => e.textContent), /QJDownload: the download failed with 404/);
  await page.screenshot({ path: path.join(screenshots, "receiver-run.png"), fullPage: true });
  assert.deepEqual(problems, []);
  await page.close();
});

test("the dashboard filters by version", async () => {
  const { page, problems } = await openDashboard({ username: "vendor", password });
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  await page.evaluate(() => { delete document.body.dataset.loaded; });
  await page.type("input[name=version]", "1.4.0.0");
  await page.click("button[type=submit]");
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$eval("#runs", (e) => e.textContent), "1 runs started");
  await page.screenshot({ path: path.join(screenshots, "receiver-dashboard-version.png"), fullPage: true });
  assert.deepEqual(problems, []);
  await page.close();
});

test("without the password the page is refused", async () => {
  // Headless Chromium answers a 401 challenge that it has no credentials for by giving up the
  // navigation: either way, nothing of the page is shown.
  let status = null;
  try {
    const { response } = await openDashboard(null);
    status = response.status();
  } catch (error) {
    status = String(error.message).includes("ERR_INVALID_AUTH_CREDENTIALS") ? 401 : String(error);
  }
  assert.equal(status, 401);
});
