// The viewer in a real browser: Debian's headless Chromium driven by playwright-core opens the page of "tova view",
// moves the slider, pins a spot and checks the plot and the temperature shown against the server.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, execFileSync } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { chromium } from "playwright-core";

const root = resolve(import.meta.dirname, "../..");
const tova = process.env.TOVA_EXE || join(root, "build/default/cli/tova");
const artifacts = process.env.TOVA_ARTIFACTS || join(root, "build/viewer-test");
const work = mkdtempSync(join(tmpdir(), "tova-viewer-"));
let server, url, browser;

before(async () => {
  execFileSync(tova, ["sample", join(work, "s.tova"), "--frames", "40", "--size", "80x60"]);
  server = spawn(tova, ["view", join(work, "s.tova"), "--port", "0"], { stdio: ["ignore", "pipe", "inherit"] });
  url = await new Promise((done, fail) => {
    let out = "";
    server.stdout.on("data", (chunk) => {
      const found = (out += chunk).match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (found) done(found[0]);
    });
    server.on("exit", (code) => fail(new Error(`tova view ended with ${code}`)));
  });
  // A fresh profile directory of its own (passed as --user-data-dir).
  browser = await chromium.launchPersistentContext(join(work, "profile"), {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    viewport: { width: 1280, height: 860 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking"],
  });
});

after(async () => {
  await browser?.close();
  server?.kill("SIGTERM");
  rmSync(work, { recursive: true, force: true });
});

test("the page shows frames, follows the slider and plots a pinned spot", async () => {
  const page = await browser.newPage();
  const problems = [];
  page.on("pageerror", (e) => problems.push(e.message));
  page.on("requestfailed", (r) => problems.push(`${r.url()}: ${r.failure()?.errorText}`));
  const frameIs = (n) => page.waitForFunction((n) => document.querySelector("#frame-number").textContent === n, n);
  await page.goto(url);
  await page.waitForSelector("body[data-ready=true]");
  assert.equal(await page.textContent("#frame-count"), "39");

  // The slider brings frame 17 with its own time stamp and entries; the arrow key the next.
  const firstTime = await page.textContent("#time");
  await page.locator("#slider").fill("17");
  await frameIs("17");
  assert.notEqual(await page.textContent("#time"), firstTime);
  assert.match(await page.textContent("#entries"), /TOVA_DH_DREC_TimeStamp/);
  await page.keyboard.press("ArrowRight");
  await frameIs("18");

  // Pin the spot at pixel (30, 20) of the zoomed stage; its value and the plot of its series (and the time axis).
  const zoom = await page.evaluate(() => document.querySelector("#overlay").width / 80);
  await page.locator("#overlay").scrollIntoViewIfNeeded();
  const stage = await page.locator("#overlay").boundingBox();
  await page.mouse.click(stage.x + (30 + 0.5) * zoom, stage.y + (20 + 0.5) * zoom);
  await page.waitForSelector("#pins li[data-state=done]");
  await page.waitForSelector("#plot .u-over");
  const value = (await (await fetch(new URL("/api/frames/18/pixel?x=30&y=20", url))).json()).value.toFixed(2);
  assert.equal((await page.textContent("#pins .pin-value")).trim(), `${value} \u00b0C`);
  assert.match(await page.textContent("#cursor"), new RegExp(`\\(30, 20\\)\\s+${value}`));
  assert.equal(await page.locator("#plot .u-legend .u-series").count(), 2);

  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: join(artifacts, "viewer.png") });
  assert.deepEqual(problems, []);
});
