// Drives the show's page in headless Chromium: the start overlay, the loading screen, the show in
// time with the audio context, frames like the offline renderer's, no console errors, and the digest
// mode against the stored digest of the whole show.
//   node web_test.mjs WEB_DIR LINUX_BUILD_DIR [--quick]
// WEB_DIR holds quillet.html and its files; LINUX_BUILD_DIR holds quillet-render and data/.
// --quick checks the digest of the first 32 beats only. Screenshots go to WEB_DIR/test-shots/.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const [webDir, linuxDir] = process.argv.slice(2, 4).map((p) => p && path.resolve(p));
const quick = process.argv.includes("--quick");
if (!webDir || !linuxDir) {
  console.log("usage: node web_test.mjs WEB_DIR LINUX_BUILD_DIR [--quick]");
  process.exit(2);
}
const repo = path.resolve(path.dirname(new URL(import.meta.url).pathname), "../..");
const shots = path.join(webDir, "test-shots");
fs.mkdirSync(shots, { recursive: true });

let failures = 0;
function check(ok, what) {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}`);
  if (!ok) failures++;
}

// A plain static server, as any host would be: no special headers.
const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
                ".data": "application/octet-stream", ".png": "image/png" };
// /ref/ serves the offline renderer's frames for the page to compare with.
const offline = fs.mkdtempSync(path.join(os.tmpdir(), "quillet-web-"));
const server = http.createServer((req, res) => {
  const name = decodeURIComponent(new URL(req.url, "http://x").pathname);
  const root = name.startsWith("/ref/") ? offline : webDir;
  const file = path.join(root, path.normalize(name.replace(/^\/ref\//, "/")));
  if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    res.writeHead(404).end();
    return;
  }
  res.writeHead(200, { "Content-Type": types[path.extname(file)] || "application/octet-stream" });
  fs.createReadStream(file).pipe(res);
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const base = `http://127.0.0.1:${server.address().port}/quillet.html`;

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--autoplay-policy=user-gesture-required"],
});

async function openPage(query) {
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  const errors = [];
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(base + query);
  return { page, errors };
}

// Waits for each beat in turn and keeps the first frame shown at or after it, with its clock: pixels
// and clock are read in one animation frame, between two of the program's frames. A frame more than
// 40 ms late (a busy machine) is not compared; the next beat is tried instead, up to `tries` beats.
async function captureBeats(page, beats, tries) {
  return page.evaluate(({ beats, tries, bpm }) => new Promise((resolve) => {
    const shots = [];
    let beat = beats[0], left = tries;
    function step() {
      const t = Module._main_web_clock_seconds(), target = beat * 60 / bpm;
      if (t >= target) {
        if (t - target <= 0.04 || left <= 1) {
          const g = document.getElementById("canvas").getContext("2d");
          shots.push({ beat, seconds: t, image: g.getImageData(0, 0, 640, 480) });
          beat = beats[shots.length];
          left = tries;
        } else {
          beat++;
          left--;
        }
      }
      if (shots.length < beats.length) requestAnimationFrame(step);
      else {
        window.quilletShots = shots;
        resolve(shots.map((s) => ({ beat: s.beat, seconds: s.seconds })));
      }
    }
    requestAnimationFrame(step);
  }), { beats, tries, bpm });
}

// Fraction of pixels of capture i whose channels differ from the reference PNG's by more than 40.
// The live frame is up to one display frame later than the offline one, which moves the fast
// scenes by a few pixels (up to ~15% far off); a wrong or missing picture is 80% and more.
async function compareWithReference(page, i, png) {
  return page.evaluate(async ({ i, png }) => {
    const img = new Image();
    img.src = "/ref/" + png;
    await img.decode();
    const c = new OffscreenCanvas(640, 480);
    const g = c.getContext("2d");
    g.drawImage(img, 0, 0);
    const ref = g.getImageData(0, 0, 640, 480).data, got = window.quilletShots[i].image.data;
    let far = 0;
    for (let k = 0; k < ref.length; k += 4) {
      if (Math.abs(ref[k] - got[k]) > 40 || Math.abs(ref[k + 1] - got[k + 1]) > 40 ||
          Math.abs(ref[k + 2] - got[k + 2]) > 40) far++;
    }
    return far / (640 * 480);
  }, { i, png });
}

const bpm = 105;
const beats = [8, 40], tries = 6;  // in the intro and the cubes

// --- the show -----------------------------------------------------------------------------------
{
  const wanted = beats.flatMap((b) => Array.from({ length: tries }, (_, k) => b + k));
  const render = spawnSync(path.join(linuxDir, "quillet-render"),
    ["--frames", wanted.join(","), "--fps", "60", "--out", offline], { cwd: linuxDir, encoding: "utf8" });
  check(render.status === 0, "offline renderer wrote the reference frames");

  const { page, errors } = await openPage("");
  await page.waitForSelector("#window", { state: "visible" });
  await page.screenshot({ path: path.join(shots, "start.png") });
  check(await page.isVisible("#fullscreen"), "start overlay offers Fullscreen and Window");
  await page.click("#window");

  // The loading screen: the title's white letters on black before the show's clock runs.
  const loading = await page.waitForFunction(() => {
    const d = document.getElementById("canvas").getContext("2d").getImageData(0, 0, 640, 480).data;
    let white = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] > 200 && d[i + 1] > 200 && d[i + 2] > 200) white++;
    return white > 500 && Module._main_web_clock_seconds() === 0;
  }, null, { timeout: 120000, polling: 20 }).then(() => true, () => false);
  check(loading, "loading screen shows the title");
  await page.screenshot({ path: path.join(shots, "loading.png") });

  const started = await page.waitForFunction(() => Module._main_web_clock_seconds() > 0.2, null,
    { timeout: 180000 }).then(() => true, () => false);
  check(started, "the show starts");
  check(await page.evaluate(() => SDL.audioContext && SDL.audioContext.state) === "running",
    "the audio context runs");

  // The clock follows the audio context: clock minus context time, sampled between frames, stays
  // within 50 ms of its median (nine samples in ten: a loaded machine delays single frames).
  const drift = await page.evaluate(() => new Promise((resolve) => {
    const samples = [];
    const t0 = performance.now();
    function step() {
      samples.push(Module._main_web_clock_seconds() - SDL.audioContext.currentTime);
      if (performance.now() - t0 < 3000) requestAnimationFrame(step);
      else resolve(samples);
    }
    requestAnimationFrame(step);
  }));
  const sorted = [...drift].sort((a, b) => a - b);
  const median = sorted[sorted.length >> 1];
  const off = drift.map((d) => Math.abs(d - median)).sort((a, b) => a - b);
  const p90 = off[Math.floor(off.length * 0.9)], worst = off[off.length - 1];
  check(drift.length > 20 && p90 < 0.05, `show clock follows the audio context within 50 ms (90% within ` +
    `${(p90 * 1000).toFixed(1)} ms, worst ${(worst * 1000).toFixed(1)} ms, ${drift.length} frames)`);

  const captured = await captureBeats(page, beats, tries);
  await page.screenshot({ path: path.join(shots, "show.png") });
  for (let i = 0; i < captured.length; i++) {
    const { beat, seconds } = captured[i];
    const far = await compareWithReference(page, i, `beat-${String(beat).padStart(3, "0")}.png`);
    check(far < 0.15, `beat ${beat}: live frame at ${seconds.toFixed(3)} s is the offline frame ` +
      `within tolerance (${(far * 100).toFixed(2)}% of pixels far off)`);
  }

  // Escape ends the show at once: the program ends and the page offers to play again.
  await page.keyboard.down("Escape");
  const ended = await page.waitForFunction(() => window.quilletDone === true, null, { timeout: 20000 })
    .then(() => true, () => false);
  await page.keyboard.up("Escape");
  check(ended && await page.isVisible("#again"), "Escape ends the show and offers to play again");
  check(await page.evaluate(() => window.quilletStatus) === 0, "the program ends with status 0");
  await page.screenshot({ path: path.join(shots, "end.png") });
  check(errors.length === 0, `no console errors${errors.length ? ": " + errors.join(" | ") : ""}`);
  await page.close();
}

// --- the digest -----------------------------------------------------------------------------------
{
  const stored = path.join(repo, "tests/e2e/show-10fps.digest");
  const query = quick ? "?digest=10&from=0&to=32" : "?digest=10";
  let expected = null;
  if (quick) {
    const r = spawnSync(path.join(linuxDir, "quillet-render"), ["--digest", "--fps", "10", "--from", "0", "--to", "32"],
      { cwd: linuxDir, encoding: "utf8" });
    expected = r.status === 0 ? r.stdout : null;
  } else if (fs.existsSync(stored)) {
    expected = fs.readFileSync(stored, "utf8");
  }
  const { page, errors } = await openPage(query);
  const done = await page.waitForFunction(() => window.quilletDone === true, null, { timeout: 1800000 })
    .then(() => true, () => false);
  const got = await page.textContent("#digest");
  check(done && await page.evaluate(() => window.quilletStatus) === 0, `digest mode ${query} completes`);
  if (expected === null) {
    check(false, "a reference digest to compare with");
  } else {
    const a = got.trimEnd().split("\n"), b = expected.trimEnd().split("\n");
    const differ = [];
    for (let i = 0; i < Math.max(a.length, b.length); i++) if (a[i] !== b[i]) differ.push(i);
    check(differ.length === 0, `digest equals the Linux digest, every line (${a.length} lines` +
      (differ.length ? `, ${differ.length} differ, first: ${JSON.stringify(a[differ[0]])} vs ` +
      `${JSON.stringify(b[differ[0]])})` : ")"));
    fs.writeFileSync(path.join(shots, "web.digest"), got);
  }
  check(errors.length === 0, `no console errors in digest mode${errors.length ? ": " + errors.join(" | ") : ""}`);
  await page.close();
}

await browser.close();
server.close();
fs.rmSync(offline, { recursive: true, force: true });
console.log(failures ? `web tests: ${failures} failed` : "web tests: all passed");
process.exit(failures ? 1 : 0);
