"use strict";
// The dashboard in Debian's headless Chromium against the real receiver: the page loads behind its
// password, draws the funnel with the real stub's runs, shows the stages and signatures, and logs no error
// to the console. Screenshots go to build/screenshots/.
const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const http = require("node:http");
const net = require("node:net");
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

// Sends a recorded request as it is, on a connection of its own; the answer's status.
function replay(bytes) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(ports[0], "127.0.0.1", () => socket.write(bytes));
    let answer = "";
    socket.on("data", (chunk) => {
      answer += chunk.toString("latin1");
      if (answer.includes("\r\n")) {
        socket.destroy();
        resolve(Number(answer.split(" ")[1]));
      }
    });
    socket.on("error", reject);
  });
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
  // Six runs of the real stub under Wine (a success, a cancel, a failed installer, a failed download,
  // a package without setup.exe, a refused signature): the exact bytes it sent, as the tests'
  // collector recorded them. Then a crash dump (built field by field: the stub's crash runs are not
  // among them).
  const runs = path.join(root, "receiver", "testdata", "stub-runs");
  for (const name of fs.readdirSync(runs).sort()) {
    assert.equal(await replay(fs.readFileSync(path.join(runs, name))), 200, name);
  }
  const corpus = path.join(root, "receiver", "fuzz_corpus", "minidump_fuzz");
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
  assert.deepEqual(bars, [1, 4, 1, 0, 0], "completed, error occurred, canceled, not supported, abandoned");
  const stages = await page.$$eval("#stages tbody tr", (rows) => rows.map((r) => r.textContent));
  // Cells run together in textContent: wrapperError, msiError, the stage in words, runs.
  assert.ok(stages.includes("50the package holds no setup.exe1"), stages.join(" | "));
  assert.ok(stages.includes("23the installer run failed1"), stages.join(" | "));
  assert.ok(stages.includes("8-2146762496setup.exe's signature or signer is refused1"), stages.join(" | "));
  // By operating system: six runs finished, one completed.
  const rates = await page.$$eval("#rate-table tbody tr", (rows) => rows.map((r) => r.textContent));
  assert.deepEqual(rates, ["Windows 761" + "16.7 %"]);
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
  assert.deepEqual(Object.fromEntries(daily), { completed: 1, "error occurred": 4, canceled: 1,
    "environment not supported": 0, abandoned: 0, "under way": 0 });
  // The failed download's run.
  await Promise.all([page.waitForNavigation(),
    page.click("#runs-table a[href$='841A98BC-05A5-4395-8B5F-D48D7E56F044']")]);
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$$eval("#reports tbody tr", (rows) => rows.length), 2);
  assert.match(await page.$eval("#outline", (e) => e.textContent), /error occurred$/);
  assert.match(await page.$eval("#errors", (e) => e.textContent), /ERROR\] Download fail, download path/);
  await page.screenshot({ path: path.join(screenshots, "receiver-run.png"), fullPage: true });
  assert.deepEqual(problems, []);
  await page.close();
});

test("the dashboard filters by channel", async () => {
  const { page, problems } = await openDashboard({ username: "vendor", password });
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  await page.evaluate(() => { delete document.body.dataset.loaded; });
  // The stub's pages set the channel "demo"; no run came through "web".
  await page.type("input[name=channel]", "web");
  await page.click("button[type=submit]");
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$eval("#runs", (e) => e.textContent), "0 runs started");
  await page.evaluate(() => { delete document.body.dataset.loaded; });
  await page.$eval("input[name=channel]", (e) => { e.value = "demo"; });
  await page.click("button[type=submit]");
  await page.waitForSelector("body[data-loaded=true]", { timeout: 10000 });
  assert.equal(await page.$eval("#runs", (e) => e.textContent), "6 runs started");
  await page.screenshot({ path: path.join(screenshots, "receiver-dashboard-channel.png"), fullPage: true });
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
