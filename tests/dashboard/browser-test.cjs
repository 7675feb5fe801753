// The dashboard in a real browser: headless chromium driven by puppeteer-core against a station
// of four simulated panels (one refusing with a panel code), then a gang of the same four on
// the same dashboard port after the first process has ended.
//
//   node browser-test.cjs    (run by scripts/test-dashboard, which sets the environment)
//
// It checks that every tile goes waiting -> loading -> PASS or FAIL, that the page's counts
// agree with the report file, that a failed tile can be acknowledged, that the page says it is
// disconnected when the server goes and shows the new run once one serves again, that unit ids
// typed into the gang's tiles reach its report, and saves a screenshot of the finished board.
"use strict";

const { createRequire } = require("module");
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
};
const cli = env("TARVEX_CLI");
const sim = env("TARVEX_PANEL_SIM");
const sample = env("TARVEX_SAMPLE_WORKSPACE");
const screenshot = env("TARVEX_SCREENSHOT");
const modules = env("TARVEX_NODE_MODULES");
const puppeteer = createRequire(path.join(modules, "index.js"))("puppeteer-core");

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const work = fs.mkdtempSync(path.join(os.tmpdir(), "tarvex-dashboard-"));
const children = [];
let failures = 0;

function check(ok, what) {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}`);
  if (!ok) failures++;
}

async function until(what, fn, ms = 30000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out: ${what}`);
    await sleep(50);
  }
}

function start(program, args, name) {
  const out = fs.openSync(path.join(work, name + ".log"), "w");
  const child = spawn(program, args, { cwd: path.join(work, "ws"), stdio: ["ignore", out, out] });
  children.push(child);
  return child;
}

const ended = (child) =>
  new Promise((resolve) => (child.exitCode !== null ? resolve(child.exitCode) : child.on("exit", (code) => resolve(code))));

function records(file) {
  return fs.readFileSync(file, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(l));
}

// The tiles as the page shows them: state, word and the texts an operator reads.
const tilesOf = (page) =>
  page.$$eval(".tile", (tiles) =>
    tiles.map((t) => ({
      port: t.dataset.port,
      state: t.dataset.state,
      label: t.querySelector(".state").textContent,
      why: t.querySelector(".why").textContent,
      unit: t.querySelector(".unit").textContent,
      asking: !t.querySelector("form").hidden,
      acknowledged: t.classList.contains("acknowledged"),
    })));
const countsOf = (page) =>
  page.evaluate(() => ({
    passed: Number(document.getElementById("passed").textContent),
    failed: Number(document.getElementById("failed").textContent),
    yield: document.getElementById("yield").textContent,
  }));

async function main() {
  fs.cpSync(sample, path.join(work, "ws"), { recursive: true });
  fs.mkdirSync(path.join(work, "sys"));

  // Paced, so that loading lasts long enough to be seen; the third refuses the application.
  const ports = [];
  for (let i = 0; i < 4; i++) {
    const portFile = path.join(work, `port${i}`);
    const args = ["--product-code", "17", "--baud", "57600", "--port-file", portFile, "--out", path.join(work, `panel${i}`)];
    if (i === 2) args.push("--fault", "item=application,phase=open,count=always:status=2");
    start(sim, args, `sim${i}`);
    ports.push(await until(`panel ${i}`, () => fs.existsSync(portFile) && fs.readFileSync(portFile, "utf8").trim()));
  }
  // The station watches links, as it would /dev/serial/by-path names: plugged in = link made.
  const links = ports.map((_, i) => path.join(work, `fixture-${i + 1}`));
  const form = ["--sysfs-root", path.join(work, "sys"), "--product", "H1", "--bootloader", "BL1.2-1", "--firmware", "FW1.5",
    "--items", "application,recipe", "--progress", "lines"];
  const dashboardPort = String(20000 + (process.pid % 20000));

  const station = start(cli, ["station", ...form, ...links.flatMap((l) => ["--port", l]), "--count", "4", "--settle-ms", "50",
    "--report", path.join(work, "station.jsonl"), "--dashboard", dashboardPort, "--dashboard-linger", "4"], "station");
  const url = `http://127.0.0.1:${dashboardPort}/`;
  await until("the dashboard", () => fs.readFileSync(path.join(work, "station.log"), "utf8").includes("dashboard at " + url));

  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    page.on("pageerror", (e) => check(false, "no script error: " + e.message));
    await page.goto(url);
    await until("four tiles", async () => (await tilesOf(page)).length === 4);
    // Every state each tile shows, in order, as the page changes it.
    await page.evaluate(() => {
      window.seen = {};
      const note = (t) => {
        const list = (window.seen[t.dataset.port] ||= []);
        if (list[list.length - 1] !== t.dataset.state) list.push(t.dataset.state);
      };
      document.querySelectorAll(".tile").forEach(note);
      new MutationObserver(() => document.querySelectorAll(".tile").forEach(note)).observe(document.getElementById("tiles"), {
        subtree: true, attributes: true, attributeFilter: ["data-state"],
      });
    });
    const first = await tilesOf(page);
    check(first.every((t) => t.state === "waiting" && t.label === "WAITING"), "every tile waits for its panel");

    links.forEach((link, i) => fs.symlinkSync(ports[i], link)); // the panels plugged in
    await until("every tile ended", async () => (await tilesOf(page)).every((t) => t.state === "pass" || t.state === "fail"));
    const seen = await page.evaluate(() => window.seen);
    for (const [i, link] of links.entries()) {
      const end = i === 2 ? "fail" : "pass";
      check(JSON.stringify(seen[link]) === JSON.stringify(["waiting", "loading", end]), `${path.basename(link)}: waiting, loading, ${end} (${seen[link]})`);
    }
    const tiles = await tilesOf(page);
    check(!(await page.$eval(".tile form", (f) => f.offsetParent !== null)), "no unit id field while the line takes no ids from the dashboard");
    check(tiles[2].label === "FAIL" && tiles[2].why.includes("panel code 2"), "the failed tile says why: " + tiles[2].why);

    const counts = await until("the counts", async () => {
      const c = await countsOf(page);
      return c.passed + c.failed === 4 && c;
    });
    await page.click(`.tile[data-port="${links[2]}"] .ack`);
    await until("acknowledged", async () => (await tilesOf(page))[2].acknowledged, 5000);
    check(true, "a failed tile is acknowledged");

    check((await ended(station)) === 10 + 2, "the station ends after its count, with the panel's code");
    const stationRecords = records(path.join(work, "station.jsonl"));
    const passed = stationRecords.filter((r) => r.outcome === "complete").length;
    check(counts.passed === passed && counts.failed === stationRecords.length - passed, `counts agree with the report (${counts.passed} passed, ${counts.failed} failed)`);

    // The server goes away with its process: the page says so.
    await until("disconnected", () => page.evaluate(() => document.body.dataset.connected === "no" && !document.getElementById("connection").hidden), 20000);
    check(true, "the page says it is disconnected");

    // A gang of the same four on the same port, its unit ids typed into the tiles: the page
    // comes back by itself and shows it.
    const gang = start(cli, ["gang", ...form, ...ports.flatMap((p) => ["--port", p]), "--report", path.join(work, "gang.jsonl"),
      "--dashboard", dashboardPort, "--dashboard-linger", "30", "--unit-id-from", "dashboard"], "gang");
    await until("reconnected", () => page.evaluate(() => document.body.dataset.connected === "yes"), 20000);
    check(true, "the page reconnects after the server restarts");
    await until("every tile asks for its unit's id", async () => {
      const t = await tilesOf(page);
      return t.length === 4 && t[0].port === ports[0] && t.every((x) => x.state === "waiting" && x.asking);
    });
    check(true, "every tile waiting for an id shows the field");
    for (const [i, p] of ports.entries()) {
      await page.type(`.tile[data-port="${p}"] input`, `SN-${i + 1}`);
      await page.keyboard.press("Enter"); // as a scanner ends its label
    }
    await until("the gang's tiles", async () => {
      const t = await tilesOf(page);
      return t.length === 4 && t[0].port === ports[0] && t.every((x) => x.state === "pass" || x.state === "fail");
    });
    const gangCounts = await until("the gang's counts", async () => {
      const c = await countsOf(page);
      return c.passed + c.failed === 4 && c;
    });
    await until("the gang's report", () => fs.existsSync(path.join(work, "gang.jsonl")) && records(path.join(work, "gang.jsonl")).length === 4);
    const gangRecords = records(path.join(work, "gang.jsonl"));
    const gangPassed = gangRecords.filter((r) => r.outcome === "complete").length;
    check(gangCounts.passed === gangPassed && gangCounts.failed === 4 - gangPassed && gangPassed === 3,
      `the gang's counts agree with its report (${gangCounts.passed} passed, ${gangCounts.failed} failed)`);
    const typed = Object.fromEntries(gangRecords.map((r) => [r.port, r.unit_id]));
    check(ports.every((p, i) => typed[p] === `SN-${i + 1}`), "the unit ids typed into the tiles reach the report: " + JSON.stringify(typed));
    const finalTiles = await tilesOf(page);
    check(finalTiles.every((t, i) => !t.asking && t.unit.includes(`Unit SN-${i + 1}`)), "each tile names its unit and no longer asks: " + finalTiles.map((t) => t.unit).join(" | "));
    await sleep(300); // the last unit's row
    fs.mkdirSync(path.dirname(screenshot), { recursive: true });
    await page.screenshot({ path: screenshot });
    console.log(`saved ${screenshot}`);
    gang.kill("SIGINT"); // ends the linger
    await ended(gang);
  } finally {
    await browser.close();
  }
}

main()
  .catch((e) => {
    console.error(e);
    failures++;
  })
  .finally(() => {
    for (const c of children) if (c.exitCode === null) c.kill("SIGTERM");
    if (failures) {
      console.error(`${failures} check(s) failed; the logs are in ${work}`);
      for (const f of fs.readdirSync(work).filter((n) => n.endsWith(".log"))) {
        console.error(`--- ${f}\n` + fs.readFileSync(path.join(work, f), "utf8").slice(-3000));
      }
    } else {
      fs.rmSync(work, { recursive: true, force: true });
    }
    process.exit(failures ? 1 : 0);
  });
